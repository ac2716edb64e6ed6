// The native build has no module resources: icons are stand-ins named by their number.
#include "toolkit/Graphics.h"

namespace {
class StandInIcon final : public TIconImage {
 public:
  explicit StandInIcon(THandle handle) : FHandle(handle) {}
  THandle Handle() const override { return FHandle; }

 private:
  THandle FHandle;
};
}  // namespace

std::shared_ptr<TIconImage> LoadIconResource(uint16_t id) { return std::make_shared<StandInIcon>(id); }

std::shared_ptr<TIconImage> LoadIconResource(const String& name) {
  // Distinct names give distinct stand-in handles.
  return std::make_shared<StandInIcon>(0x10000 + std::hash<String>{}(name) % 0x10000);
}
