#include "app/AppSystem.h"

namespace {
TAppSystem* gAppSystem = nullptr;
}

TAppSystem& AppSystem() { return gAppSystem ? *gAppSystem : DefaultAppSystem(); }

TAppSystem* SetAppSystem(TAppSystem* sys) {
  TAppSystem* old = gAppSystem;
  gAppSystem = sys;
  return old;
}
