// One replaceable platform service: the one a test installed, else the platform's default.
#pragma once

#include <utility>

template <class T, T& (*Default)()>
class TSeam {
 public:
  static T& Get() { return FInstalled ? *FInstalled : Default(); }
  // Installs a replacement (nullptr goes back to the default); returns the previous one.
  static T* Set(T* service) { return std::exchange(FInstalled, service); }

 private:
  static inline T* FInstalled = nullptr;
};
