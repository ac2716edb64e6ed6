// The Windows numbers that the portable code uses, under names of our own.
//
// None of these names is one the platform's headers define, so this header (and every header
// that includes it) compiles before or after <windows.h>. app/WinNamesWin32.cpp checks each value
// against the platform's own definition.
#pragma once

#include <cstddef>
#include <cstdint>

// Window messages.
constexpr uint32_t wmNull = 0x0000;
constexpr uint32_t wmDestroy = 0x0002;
constexpr uint32_t wmSize = 0x0005;
constexpr uint32_t wmClose = 0x0010;
constexpr uint32_t wmQueryEndSession = 0x0011;
constexpr uint32_t wmQuit = 0x0012;
constexpr uint32_t wmEndSession = 0x0016;
constexpr uint32_t wmShowWindow = 0x0018;
constexpr uint32_t wmWindowPosChanged = 0x0047;
constexpr uint32_t wmNcDestroy = 0x0082;
constexpr uint32_t wmKeyDown = 0x0100;
constexpr uint32_t wmKeyUp = 0x0101;
constexpr uint32_t wmCommand = 0x0111;
constexpr uint32_t wmSysCommand = 0x0112;
constexpr uint32_t wmTimer = 0x0113;
constexpr uint32_t wmMouseMove = 0x0200;
constexpr uint32_t wmLButtonDown = 0x0201;
constexpr uint32_t wmLButtonUp = 0x0202;
constexpr uint32_t wmLButtonDblClk = 0x0203;
constexpr uint32_t wmRButtonDown = 0x0204;
constexpr uint32_t wmRButtonUp = 0x0205;
constexpr uint32_t wmMButtonDown = 0x0207;
constexpr uint32_t wmMButtonUp = 0x0208;
constexpr uint32_t wmPowerBroadcast = 0x0218;
constexpr uint32_t wmUser = 0x0400;
constexpr uint32_t wmApp = 0x8000;

// The program's own window messages, each number once (checked below): a message posted to a
// window is told apart by its number alone. The shell sends the tray icon's callback message to
// the handler window for every icon (WParam: the icon's identifier, LParam: the mouse or
// notification message).
constexpr uint32_t WM_TRAYICON_CALLBACK = 0x0800;
// Private messages of the socket layer, all posted to a control's hidden window.
constexpr uint32_t IPM_LOOKUP_DONE = 0x1290;
constexpr uint32_t IPM_SOCKET_EVENT = 0x1291;
constexpr uint32_t IPM_SOCKET_STATE = 0x1292;
constexpr uint32_t IPM_SOCKET_FREE = 0x1293;
constexpr uint32_t IPM_LINE_READY = 0x1294;
constexpr uint32_t IPM_DATA_COPY = 0x1295;
constexpr uint32_t IPM_SEND_WINDOW_SIZE = 0x1296;
// Posted by a control to itself right after it closed a socket handle (WParam: the number).
constexpr uint32_t IPM_SOCKET_CLOSED = 0x1297;
// An error that a control reports once the step that met it is over.
constexpr uint32_t IPM_LATE_ERROR = 0x1298;
// The SNTP client's reply notice.
constexpr uint32_t IPM_SNTP_REPLY = 0x129B;
// LineClient's session window: lines of standard input have come, and the request to close.
constexpr uint32_t WM_LINE_INPUT = wmApp + 1;
constexpr uint32_t WM_LINE_CLOSE = wmApp + 2;

inline constexpr uint32_t kPrivateMessages[] = {
    WM_TRAYICON_CALLBACK, IPM_LOOKUP_DONE, IPM_SOCKET_EVENT,     IPM_SOCKET_STATE,  IPM_SOCKET_FREE,
    IPM_LINE_READY,       IPM_DATA_COPY,   IPM_SEND_WINDOW_SIZE, IPM_SOCKET_CLOSED, IPM_LATE_ERROR,
    IPM_SNTP_REPLY,       WM_LINE_INPUT,   WM_LINE_CLOSE};
// One of the numbers above.
constexpr bool IsPrivateMessage(uint32_t msg) {
  for (uint32_t m : kPrivateMessages)
    if (m == msg) return true;
  return false;
}
// Each above the system's own messages and none twice.
constexpr bool PrivateMessagesDistinct() {
  constexpr size_t n = sizeof kPrivateMessages / sizeof kPrivateMessages[0];
  for (size_t i = 0; i < n; ++i) {
    if (kPrivateMessages[i] < wmUser) return false;
    for (size_t j = i + 1; j < n; ++j)
      if (kPrivateMessages[i] == kPrivateMessages[j]) return false;
  }
  return true;
}
static_assert(PrivateMessagesDistinct());

// wParam of the power-broadcast message: the system has resumed.
constexpr uint32_t pbtApmResumeCritical = 6;
constexpr uint32_t pbtApmResumeSuspend = 7;
constexpr uint32_t pbtApmResumeStandby = 8;

// wParam of the size message, of the system-command message and of the show-window message.
constexpr uint32_t sizeMinimized = 1;
constexpr uint32_t scMinimize = 0xF020;
constexpr uint32_t scRestore = 0xF120;
constexpr uint32_t swParentClosing = 1;

// Virtual keys whose state the tray icon reads, and the keys a form handles itself.
constexpr int vkShift = 0x10;
constexpr int vkControl = 0x11;
constexpr int vkMenu = 0x12;
constexpr uint16_t vkReturn = 0x0D;
constexpr uint16_t vkEscape = 0x1B;

// Notification codes of wmCommand that a form answers, and the command ids of Enter and Escape.
constexpr uint16_t bnClicked = 0;
constexpr uint16_t lbnSelChange = 1;
constexpr uint16_t lbnDblClk = 2;
constexpr uint16_t enKillFocus = 0x0200;
constexpr uint16_t enChange = 0x0300;
constexpr int idOk = 1;
constexpr int idCancel = 2;

// Message box flags.
constexpr uint32_t mbOk = 0x0;
constexpr uint32_t mbIconError = 0x10;
constexpr uint32_t mbIconWarning = 0x30;
constexpr uint32_t mbIconInformation = 0x40;

// Process priority classes.
constexpr uint32_t pcIdle = 0x40;
constexpr uint32_t pcNormal = 0x20;

// Edit control styles.
constexpr uint32_t esRight = 0x2;
constexpr uint32_t esMultiline = 0x4;

// Shell_NotifyIcon messages, flags, balloon icons and balloon notices.
constexpr uint32_t nimAdd = 0;
constexpr uint32_t nimModify = 1;
constexpr uint32_t nimDelete = 2;
constexpr uint32_t nimSetVersion = 4;
constexpr uint32_t nifMessage = 0x01;
constexpr uint32_t nifIcon = 0x02;
constexpr uint32_t nifTip = 0x04;
constexpr uint32_t nifInfo = 0x10;
constexpr uint32_t niifNone = 0;
constexpr uint32_t niifInfo = 1;
constexpr uint32_t niifWarning = 2;
constexpr uint32_t niifError = 3;
constexpr uint32_t ninBalloonShow = 0x0402;
constexpr uint32_t ninBalloonHide = 0x0403;
constexpr uint32_t ninBalloonTimeout = 0x0404;
constexpr uint32_t ninBalloonUserClick = 0x0405;

// WinSock: address family, socket types, protocol and the asynchronous-select events.
constexpr int afInet = 2;
constexpr int sockStream = 1;
constexpr int sockDgram = 2;
constexpr int ipprotoIp = 0;
constexpr uint32_t fdRead = 1;
constexpr uint32_t fdWrite = 2;
constexpr uint32_t fdOob = 4;
constexpr uint32_t fdAccept = 8;
constexpr uint32_t fdConnect = 16;
constexpr uint32_t fdClose = 32;

// WinSock socket options: their levels, names and the send side of shutdown.
constexpr int solSocket = 0xFFFF;
constexpr int ipprotoTcp = 6;
constexpr int tcpNoDelay = 0x0001;
constexpr int optDebug = 0x0001;
constexpr int optReuseAddr = 0x0004;
constexpr int optKeepAlive = 0x0008;
constexpr int optDontRoute = 0x0010;
constexpr int optBroadcast = 0x0020;
constexpr int optSndBuf = 0x1001;
constexpr int optRcvBuf = 0x1002;
constexpr int optType = 0x1008;
constexpr int sdSend = 1;

// WinSock error codes that the code acts on.
constexpr int wsaeWouldBlock = 10035;
constexpr int wsaeInval = 10022;
constexpr int wsaeMsgSize = 10040;
constexpr int wsaeNoProtoOpt = 10042;
constexpr int wsaeConnReset = 10054;
constexpr int wsaeNotConn = 10057;
constexpr int wsaeShutdown = 10058;
constexpr int wsahostNotFound = 11001;

// System error codes.
constexpr uint32_t errPrivilegeNotHeld = 1314;
