#include "settings/FileOps.h"

TPathOverrides& PathOverrides() {
  static TPathOverrides overrides;
  return overrides;
}
