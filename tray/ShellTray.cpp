#include "tray/ShellTray.h"

#include "toolkit/Seam.h"

using TShellTraySeam = TSeam<TShellTray, DefaultShellTray>;

TShellTray& ShellTray() { return TShellTraySeam::Get(); }
TShellTray* SetShellTray(TShellTray* tray) { return TShellTraySeam::Set(tray); }
