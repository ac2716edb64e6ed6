#include "toolkit/Graphics.h"

void TIcon::SetImage(std::shared_ptr<TIconImage> image) {
  FImage = std::move(image);
  if (OnChange) OnChange(this);
}
