// Drives a running Kairotsu.exe from outside for the end-to-end tests, through the shell and
// user32 only, as another program (or the user) would:
//   e2e-driver icons              lists the program's icons that the shell knows: "icon HWND ID"
//   e2e-driver forget             removes them from the shell, as a restarting task bar loses them
//   e2e-driver taskbar-created    broadcasts "TaskbarCreated", as a new task bar does
//   e2e-driver type-escape EDIT TEXT
//                                 types TEXT into the shown Setup dialog's spin edit EDIT
//                                 (OffsetSec, OffsetMin or UpdateTime) with the keyboard, then
//                                 presses Escape; prints the edit's text after each step
//   e2e-driver start-to-icon EXE  starts EXE, waits for its first tray icon, closes it again;
//                                 prints "start MS REFERENCE_MS": the time from the start to the
//                                 icon, and the time this driver takes to start and end
//   e2e-driver noop               does nothing (the reference start)
// Exit status 0 when the command could be carried out, 1 otherwise (2 for a usage error).
#include "app/resource.h"

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

// Presses and releases a key through the system's input queue, as the keyboard does; it goes
// to the window with the focus in the foreground.
void PressKey(WORD vk) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
}

std::string EditText(HWND edit) {
  char text[64] = {};
  SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// Polls `done` every 50 ms for at most `ms`.
template <class Done>
bool WaitFor(Done done, DWORD ms) {
  for (DWORD start = GetTickCount(); !done(); Sleep(50))
    if (GetTickCount() - start > ms) return false;
  return true;
}

int TypeThenEscape(const std::string& name, const std::string& text) {
  int id = name == "OffsetSec"    ? IDC_OFFSETSEC
           : name == "OffsetMin"  ? IDC_OFFSETMIN
           : name == "UpdateTime" ? IDC_UPDATETIME
                                  : 0;
  HWND dialog = FindWindowA("#32770", "Setup");
  HWND edit = dialog && id ? GetDlgItem(dialog, id) : nullptr;
  if (!edit || !IsWindowVisible(dialog)) {
    std::printf("no shown Setup dialog with %s\n", name.c_str());
    return 1;
  }
  // The dialog in front with the edit focused and its text selected, as a click and a drag on
  // it would leave them.
  SetForegroundWindow(dialog);
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  AttachThreadInput(GetCurrentThreadId(), thread, TRUE);
  SetFocus(edit);
  AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  const std::string before = EditText(edit);
  for (char c : text) PressKey(static_cast<WORD>(c));  // digits are their own key codes
  WaitFor([&] { return EditText(edit) != before; }, 3000);
  Sleep(200);  // the last keys
  std::printf("typed: %s\n", EditText(edit).c_str());
  PressKey(VK_ESCAPE);
  bool hidden = WaitFor([&] { return !IsWindowVisible(dialog); }, 5000);
  std::printf("after Escape: %s, dialog %s\n", EditText(edit).c_str(), hidden ? "hidden" : "shown");
  return 0;
}

// Starts `command` and returns its process, or nullptr.
HANDLE Start(std::string command) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

double MsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

int StartToIcon(const std::string& exe) {
  if (!Icons().empty()) {
    std::printf("a program's icon is there already\n");
    return 1;
  }
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  std::string quoted = "\"";
  quoted.append(exe).append("\"");
  HANDLE program = Start(quoted);
  if (!program) return 1;
  bool shown = false;
  for (int i = 0; i < 30000 && !(shown = !Icons().empty()); ++i) Sleep(1);
  const double toIcon = MsSince(start);
  // Closed as a user's logoff would: WM_CLOSE to its windows, then, if need be, ended.
  for (int i = 0; i < 500 && WaitForSingleObject(program, 10) == WAIT_TIMEOUT; ++i)
    for (auto [wnd, id] : Icons()) PostMessageA(wnd, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(program, 0) == WAIT_TIMEOUT) TerminateProcess(program, 1);
  CloseHandle(program);

  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  QueryPerformanceCounter(&start);
  std::string command = "\"";
  command.append(self).append("\" noop");
  HANDLE noop = Start(command);
  if (!noop) return 1;
  WaitForSingleObject(noop, 30000);
  CloseHandle(noop);
  const double reference = MsSince(start);
  if (!shown) {
    std::printf("no icon within 30 s\n");
    return 1;
  }
  std::printf("start %.1f %.1f\n", toIcon, reference);
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
  else if (command == "type-escape" && argc == 4)
    status = TypeThenEscape(argv[2], argv[3]);
  else if (command == "start-to-icon" && argc == 3)
    status = StartToIcon(argv[2]);
  else if (command == "noop")
    status = 0;
  else
    std::fprintf(stderr,
                 "usage: e2e-driver icons|forget|taskbar-created|type-escape EDIT TEXT|start-to-icon EXE|noop\n");
  std::fflush(stdout);
  return status;
}
