// Drives a running Kairotsu.exe from outside for the end-to-end tests, through the shell and
// user32 only, as another program (or the user) would:
//   e2e-driver icons              lists the program's icons that the shell knows: "icon HWND ID"
//   e2e-driver forget             removes them from the shell, as a restarting task bar loses them
//   e2e-driver taskbar-created    broadcasts "TaskbarCreated", as a new task bar does
// Exit status 0 when the command could be carried out, 1 otherwise (2 for a usage error).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Hidden windows of the program's toolkit; one of them carries the tray icons.
const char kProgramWindowClass[] = "KairotsuMessageWindow";
// Icon identifiers are small numbers handed out from 1.
constexpr UINT kMaxIconId = 8;

BOOL CALLBACK CollectProgramWindow(HWND wnd, LPARAM list) {
  char name[64] = {};
  GetClassNameA(wnd, name, sizeof name);
  if (std::strcmp(name, kProgramWindowClass) == 0) reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
  return TRUE;
}

NOTIFYICONDATAA Record(HWND wnd, UINT id) {
  NOTIFYICONDATAA nid{};
  nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
  nid.hWnd = wnd;
  nid.uID = id;
  return nid;
}

// The (window, id) pairs the shell has an icon for: a change that changes nothing succeeds
// only for an icon the shell holds.
std::vector<std::pair<HWND, UINT>> Icons() {
  std::vector<HWND> windows;
  EnumWindows(CollectProgramWindow, reinterpret_cast<LPARAM>(&windows));
  std::vector<std::pair<HWND, UINT>> icons;
  for (HWND wnd : windows)
    for (UINT id = 1; id <= kMaxIconId; ++id) {
      NOTIFYICONDATAA nid = Record(wnd, id);
      if (Shell_NotifyIconA(NIM_MODIFY, &nid)) icons.emplace_back(wnd, id);
    }
  return icons;
}

int ListIcons() {
  for (auto [wnd, id] : Icons()) std::printf("icon %p %u\n", static_cast<void*>(wnd), id);
  return 0;
}

int ForgetIcons() {
  int failed = 0;
  for (auto [wnd, id] : Icons()) {
    NOTIFYICONDATAA nid = Record(wnd, id);
    bool ok = Shell_NotifyIconA(NIM_DELETE, &nid) != 0;
    std::printf("%s %p %u\n", ok ? "forgot" : "could not forget", static_cast<void*>(wnd), id);
    failed += ok ? 0 : 1;
  }
  return failed ? 1 : 0;
}

int BroadcastTaskbarCreated() {
  UINT msg = RegisterWindowMessageA("TaskbarCreated");
  if (!msg) return 1;
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, msg, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  std::printf("broadcast TaskbarCreated (0x%04X)\n", msg);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  int status = 2;
  if (command == "icons")
    status = ListIcons();
  else if (command == "forget")
    status = ForgetIcons();
  else if (command == "taskbar-created")
    status = BroadcastTaskbarCreated();
  else
    std::fprintf(stderr, "usage: e2e-driver icons|forget|taskbar-created\n");
  std::fflush(stdout);
  return status;
}
