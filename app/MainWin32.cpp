// The Windows entry point of Kairotsu.exe.
#include "app/Kairotsu.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

// What the C++ runtime calls when an exception escapes (everything is caught in RunKairotsu and
// the message loop, so this is a last resort). The runtime's own handler demangles the type name
// of the exception for its message, and its demangler weighs about 45 KB in the exe; this
// one writes a plain line and ends the program as that handler does.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::fputs("Kairotsu: terminated by an uncaught exception\n", stderr);
  std::abort();
}
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  return RunKairotsu();
}
