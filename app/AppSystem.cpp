#include "app/AppSystem.h"

#include "toolkit/Seam.h"

using TAppSystemSeam = TSeam<TAppSystem, DefaultAppSystem>;

TAppSystem& AppSystem() { return TAppSystemSeam::Get(); }
TAppSystem* SetAppSystem(TAppSystem* sys) { return TAppSystemSeam::Set(sys); }
