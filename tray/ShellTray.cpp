#include "tray/ShellTray.h"

namespace {
TShellTray* gShellTray = nullptr;
}

TShellTray& ShellTray() { return gShellTray ? *gShellTray : DefaultShellTray(); }

TShellTray* SetShellTray(TShellTray* tray) {
  TShellTray* old = gShellTray;
  gShellTray = tray;
  return old;
}
