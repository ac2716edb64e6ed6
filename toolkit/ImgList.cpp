#include "toolkit/ImgList.h"

int TCustomImageList::Add(std::shared_ptr<TIconImage> image) {
  FImages.push_back(std::move(image));
  return Count() - 1;
}

std::shared_ptr<TIconImage> TCustomImageList::Image(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FImages[static_cast<size_t>(index)];
}

bool TCustomImageList::GetIcon(int index, TIcon& icon) const {
  auto image = Image(index);
  if (!image) return false;
  icon.SetImage(std::move(image));
  return true;
}
