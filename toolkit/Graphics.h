// Small graphics and input types of the toolkit: screen points, mouse buttons and shift
// states, and icons.
//
// An icon is a reference to a shared, immutable icon image; copying an icon into another one
// shares the image (the platform handle is released when the last icon using it goes), and
// every change of an icon is announced through OnChange.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
};

enum TMouseButton : uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// A set of the six flags below (bit n = flag n).
using TShiftState = uint8_t;
constexpr TShiftState ssShift = 1 << 0;
constexpr TShiftState ssAlt = 1 << 1;
constexpr TShiftState ssCtrl = 1 << 2;
constexpr TShiftState ssLeft = 1 << 3;
constexpr TShiftState ssRight = 1 << 4;
constexpr TShiftState ssMiddle = 1 << 5;

// Raised when a stored image cannot be read, e.g. an icon whose data is broken.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// One icon image held by the platform (an HICON on Windows). Handle() may raise EReadError.
class TIconImage {
 public:
  virtual ~TIconImage() = default;
  virtual THandle Handle() const = 0;
};

class TIcon : public TPersistent {
 public:
  TIcon() = default;
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  // The image's handle, 0 for an empty icon; raises EReadError when the image cannot be read.
  THandle Handle() const { return FImage ? FImage->Handle() : 0; }
  bool Empty() const { return !FImage; }
  const std::shared_ptr<TIconImage>& Image() const { return FImage; }
  void SetImage(std::shared_ptr<TIconImage> image);
  void Assign(const TIcon& source) { SetImage(source.FImage); }

  std::function<void(TObject* Sender)> OnChange;

 private:
  std::shared_ptr<TIconImage> FImage;
};

// Icons from the running module's resources (by name or by number), at the small-icon size of
// the notification area and menus. Raise EReadError when the icon does not exist. The native build has no resources: it gives a stand-in image whose
// handle is the resource number, so that code using icons runs in tests.
std::shared_ptr<TIconImage> LoadIconResource(const String& name);
std::shared_ptr<TIconImage> LoadIconResource(uint16_t id);

#ifdef _WIN32
// Stock icons of the system (IDI_*; never destroyed).
std::shared_ptr<TIconImage> LoadStockIcon(uint16_t id);
// Takes ownership of an icon handle that the caller created.
std::shared_ptr<TIconImage> AdoptIconHandle(THandle icon);
#endif
