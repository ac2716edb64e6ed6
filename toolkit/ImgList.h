// Image lists: numbered icon images shared by menus, actions and the tray icon.
#pragma once

#include <memory>
#include <vector>

#include "toolkit/Graphics.h"

class TCustomImageList : public TComponent {
 public:
  explicit TCustomImageList(TComponent* owner) : TComponent(owner) {}

  int Count() const { return static_cast<int>(FImages.size()); }
  // Appends an image; returns its index.
  int Add(std::shared_ptr<TIconImage> image);
  void Clear() { FImages.clear(); }
  // Copies image `index` into `icon`; an index outside the list leaves the icon unchanged and
  // returns false.
  bool GetIcon(int index, TIcon& icon) const;
  std::shared_ptr<TIconImage> Image(int index) const;

 private:
  std::vector<std::shared_ptr<TIconImage>> FImages;
};

class TImageList : public TCustomImageList {
 public:
  using TCustomImageList::TCustomImageList;
};
