// Every Windows number that the portable code knows under a name of its own, checked against
// the platform's definition. The platform's headers come first here and the project's headers
// after them, so the build also fails when a project header declares a name that the platform
// defines as a macro.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/AppSystem.h"
#include "app/BIOS.h"
#include "app/Kairotsu.h"
#include "app/Query.h"
#include "app/ServerList.h"
#include "app/Setup.h"
#include "app/SetupDialog.h"
#include "app/SpEdit.h"
#include "app/SyncRules.h"
#include "app/SyncSettings.h"
#include "app/resource.h"
#include "base/IpUrl.h"
#include "base/IpUtils.h"
#include "log/IpLog.h"
#include "log/LogFile.h"
#include "settings/AutoIni.h"
#include "settings/FileOps.h"
#include "settings/IniFile.h"
#include "settings/TextCodec.h"
#include "sntp/IpTime.h"
#include "sock/IpClient.h"
#include "sock/IpConst.h"
#include "sock/IpDataSocket.h"
#include "sock/IpSockControl.h"
#include "sock/IpSocket.h"
#include "sock/IpSocks.h"
#include "sock/IpTelnet.h"
#include "sock/IpWinSock.h"
#include "sock/WinSockTypes.h"
#include "toolkit/Application.h"
#include "toolkit/Classes.h"
#include "toolkit/Controls.h"
#include "toolkit/Forms.h"
#include "toolkit/Graphics.h"
#include "toolkit/ImgList.h"
#include "toolkit/Menus.h"
#include "toolkit/Platform.h"
#include "toolkit/Seam.h"
#include "toolkit/Streams.h"
#include "toolkit/Strings.h"
#include "toolkit/SysUtils.h"
#include "toolkit/Timer.h"
#include "tray/SharedHandler.h"
#include "tray/ShellTray.h"
#include "tray/SimpleTimer.h"
#include "tray/TrayIcon.h"

static_assert(wmNull == WM_NULL);
static_assert(wmDestroy == WM_DESTROY);
static_assert(wmSize == WM_SIZE);
static_assert(wmClose == WM_CLOSE);
static_assert(wmQueryEndSession == WM_QUERYENDSESSION);
static_assert(wmQuit == WM_QUIT);
static_assert(wmEndSession == WM_ENDSESSION);
static_assert(wmShowWindow == WM_SHOWWINDOW);
static_assert(wmWindowPosChanged == WM_WINDOWPOSCHANGED);
static_assert(wmNcDestroy == WM_NCDESTROY);
static_assert(wmCommand == WM_COMMAND);
static_assert(wmSysCommand == WM_SYSCOMMAND);
static_assert(wmKeyDown == WM_KEYDOWN);
static_assert(wmKeyUp == WM_KEYUP);
static_assert(wmTimer == WM_TIMER);
static_assert(wmMouseMove == WM_MOUSEMOVE);
static_assert(wmLButtonDown == WM_LBUTTONDOWN);
static_assert(wmLButtonUp == WM_LBUTTONUP);
static_assert(wmLButtonDblClk == WM_LBUTTONDBLCLK);
static_assert(wmRButtonDown == WM_RBUTTONDOWN);
static_assert(wmRButtonUp == WM_RBUTTONUP);
static_assert(wmMButtonDown == WM_MBUTTONDOWN);
static_assert(wmMButtonUp == WM_MBUTTONUP);
static_assert(wmPowerBroadcast == WM_POWERBROADCAST);
static_assert(wmUser == WM_USER);
static_assert(wmApp == WM_APP);
static_assert(pbtApmResumeCritical == PBT_APMRESUMECRITICAL);
static_assert(pbtApmResumeSuspend == PBT_APMRESUMESUSPEND);
static_assert(pbtApmResumeStandby == PBT_APMRESUMESTANDBY);
static_assert(sizeMinimized == SIZE_MINIMIZED);
static_assert(scMinimize == SC_MINIMIZE);
static_assert(scRestore == SC_RESTORE);
static_assert(swParentClosing == SW_PARENTCLOSING);
static_assert(vkShift == VK_SHIFT);
static_assert(vkControl == VK_CONTROL);
static_assert(vkMenu == VK_MENU);
static_assert(vkReturn == VK_RETURN);
static_assert(vkEscape == VK_ESCAPE);
static_assert(bnClicked == BN_CLICKED);
static_assert(lbnSelChange == LBN_SELCHANGE);
static_assert(lbnDblClk == LBN_DBLCLK);
static_assert(enKillFocus == EN_KILLFOCUS);
static_assert(enChange == EN_CHANGE);
static_assert(idOk == IDOK);
static_assert(idCancel == IDCANCEL);
static_assert(seFileNotFound == SE_ERR_FNF);
static_assert(sePathNotFound == SE_ERR_PNF);
static_assert(seAccessDenied == SE_ERR_ACCESSDENIED);
static_assert(seAssocIncomplete == SE_ERR_ASSOCINCOMPLETE);
static_assert(seNoAssoc == SE_ERR_NOASSOC);
static_assert(seLastError == SE_ERR_DLLNOTFOUND);
static_assert(mbOk == MB_OK);
static_assert(mbIconError == MB_ICONERROR);
static_assert(mbIconWarning == MB_ICONWARNING);
static_assert(mbIconInformation == MB_ICONINFORMATION);
static_assert(pcIdle == IDLE_PRIORITY_CLASS);
static_assert(pcNormal == NORMAL_PRIORITY_CLASS);
static_assert(esRight == ES_RIGHT);
static_assert(esMultiline == ES_MULTILINE);
static_assert(nimAdd == NIM_ADD);
static_assert(nimModify == NIM_MODIFY);
static_assert(nimDelete == NIM_DELETE);
static_assert(nimSetVersion == NIM_SETVERSION);
static_assert(nifMessage == NIF_MESSAGE);
static_assert(nifIcon == NIF_ICON);
static_assert(nifTip == NIF_TIP);
static_assert(nifInfo == NIF_INFO);
static_assert(niifNone == NIIF_NONE);
static_assert(niifInfo == NIIF_INFO);
static_assert(niifWarning == NIIF_WARNING);
static_assert(niifError == NIIF_ERROR);
static_assert(ninBalloonShow == NIN_BALLOONSHOW);
static_assert(ninBalloonHide == NIN_BALLOONHIDE);
static_assert(ninBalloonTimeout == NIN_BALLOONTIMEOUT);
static_assert(ninBalloonUserClick == NIN_BALLOONUSERCLICK);
static_assert(afInet == AF_INET);
static_assert(sockStream == SOCK_STREAM);
static_assert(sockDgram == SOCK_DGRAM);
static_assert(ipprotoIp == IPPROTO_IP);
static_assert(fdRead == FD_READ);
static_assert(fdWrite == FD_WRITE);
static_assert(fdOob == FD_OOB);
static_assert(fdAccept == FD_ACCEPT);
static_assert(fdConnect == FD_CONNECT);
static_assert(fdClose == FD_CLOSE);
static_assert(solSocket == SOL_SOCKET);
static_assert(ipprotoTcp == IPPROTO_TCP);
static_assert(tcpNoDelay == TCP_NODELAY);
static_assert(optDebug == SO_DEBUG);
static_assert(optReuseAddr == SO_REUSEADDR);
static_assert(optKeepAlive == SO_KEEPALIVE);
static_assert(optDontRoute == SO_DONTROUTE);
static_assert(optBroadcast == SO_BROADCAST);
static_assert(optSndBuf == SO_SNDBUF);
static_assert(optRcvBuf == SO_RCVBUF);
static_assert(optType == SO_TYPE);
static_assert(sdSend == SD_SEND);
static_assert(wsaeWouldBlock == WSAEWOULDBLOCK);
static_assert(wsaeInval == WSAEINVAL);
static_assert(wsaeMsgSize == WSAEMSGSIZE);
static_assert(wsaeNoProtoOpt == WSAENOPROTOOPT);
static_assert(wsaeNotConn == WSAENOTCONN);
static_assert(wsaeConnReset == WSAECONNRESET);
static_assert(wsahostNotFound == WSAHOST_NOT_FOUND);
static_assert(InvalidSocket == INVALID_SOCKET);
static_assert(SocketCallFailed == SOCKET_ERROR);
static_assert(WsaDescriptionLen == WSADESCRIPTION_LEN);
static_assert(WsaSysStatusLen == WSASYS_STATUS_LEN);
static_assert(errPrivilegeNotHeld == ERROR_PRIVILEGE_NOT_HELD);

// The program's own messages lie above the system's and below the range of registered ones.
static_assert(PrivateMessagesDistinct());
static_assert([] {
  for (uint32_t m : kPrivateMessages)
    if (m < WM_USER || m >= 0xC000) return false;
  return true;
}());
