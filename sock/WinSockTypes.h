// Our own declarations of the WinSock types and entry-point signatures, with the Win32 layout
// (the Win32 layer asserts that they match the platform's), so that the portable core can
// drive WinSock through the function table without including the platform's headers.
#pragma once

#include <cstdint>

#include "toolkit/WinNames.h"

#if defined(_WIN32) && defined(__i386__)
#define IP_WINAPI __attribute__((stdcall))
#else
#define IP_WINAPI
#endif

// A WinSock socket handle: pointer-sized on 64-bit Windows, 32 bits everywhere else.
#if defined(_WIN64)
using TSocket = uint64_t;
#else
using TSocket = uint32_t;
#endif
constexpr TSocket InvalidSocket = ~TSocket(0);
constexpr int SocketCallFailed = -1;

#pragma pack(push, 1)
// The 16-byte IPv4 socket address: family, port and address in network byte order, 8 zeros.
struct TSockAddrIn {
  int16_t sin_family;
  uint16_t sin_port;
  uint32_t sin_addr;
  char sin_zero[8];
};
#pragma pack(pop)
static_assert(sizeof(TSockAddrIn) == 16);

struct TSockAddr {
  uint16_t sa_family;
  char sa_data[14];
};

struct THostEnt {
  char* h_name;
  char** h_aliases;
  int16_t h_addrtype;
  int16_t h_length;
  char** h_addr_list;
};

// 64-bit Windows orders the last two fields of these two the other way round.
struct TServEnt {
  char* s_name;
  char** s_aliases;
#if defined(_WIN64)
  char* s_proto;
  int16_t s_port;
#else
  int16_t s_port;
  char* s_proto;
#endif
};

// Room for the largest host entry an asynchronous lookup returns (MAXGETHOSTSTRUCT).
constexpr int MaxGetHostStruct = 1024;

constexpr int WsaDescriptionLen = 256;
constexpr int WsaSysStatusLen = 128;

struct TWSAData {
  uint16_t wVersion;
  uint16_t wHighVersion;
#if defined(_WIN64)
  uint16_t iMaxSockets;
  uint16_t iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WsaDescriptionLen + 1];
  char szSystemStatus[WsaSysStatusLen + 1];
#else
  char szDescription[WsaDescriptionLen + 1];
  char szSystemStatus[WsaSysStatusLen + 1];
  uint16_t iMaxSockets;
  uint16_t iMaxUdpDg;
  char* lpVendorInfo;
#endif
};

struct TTimeVal {
  int32_t tv_sec;
  int32_t tv_usec;
};

// Entry-point signatures, as the platform declares them.
using TFnBind = int(IP_WINAPI*)(TSocket, const TSockAddr*, int);
using TFnCloseSocket = int(IP_WINAPI*)(TSocket);
using TFnConnect = int(IP_WINAPI*)(TSocket, const TSockAddr*, int);
using TFnGetHostByName = THostEnt*(IP_WINAPI*)(const char*);
using TFnGetPeerName = int(IP_WINAPI*)(TSocket, TSockAddr*, int*);
using TFnGetSockName = int(IP_WINAPI*)(TSocket, TSockAddr*, int*);
using TFnGetSockOpt = int(IP_WINAPI*)(TSocket, int, int, char*, int*);
using TFnHtonl = uint32_t(IP_WINAPI*)(uint32_t);
using TFnHtons = uint16_t(IP_WINAPI*)(uint16_t);
using TFnInetAddr = uint32_t(IP_WINAPI*)(const char*);
using TFnInetNtoa = char*(IP_WINAPI*)(uint32_t);  // takes the 4-byte in_addr by value
using TFnRecv = int(IP_WINAPI*)(TSocket, char*, int, int);
using TFnRecvFrom = int(IP_WINAPI*)(TSocket, char*, int, int, TSockAddr*, int*);
using TFnSend = int(IP_WINAPI*)(TSocket, const char*, int, int);
using TFnSendTo = int(IP_WINAPI*)(TSocket, const char*, int, int, const TSockAddr*, int);
using TFnSetSockOpt = int(IP_WINAPI*)(TSocket, int, int, const char*, int);
using TFnShutdown = int(IP_WINAPI*)(TSocket, int);
using TFnSocket = TSocket(IP_WINAPI*)(int, int, int);
// The asynchronous lookups: each takes the window and message that receive the completion and
// the caller's result buffer, and returns the request's handle (0 when it cannot start).
using TFnWSAAsyncGetHostByAddr = uintptr_t(IP_WINAPI*)(uintptr_t, uint32_t, const char*, int, int, char*, int);
using TFnWSAAsyncGetHostByName = uintptr_t(IP_WINAPI*)(uintptr_t, uint32_t, const char*, char*, int);
using TFnWSAAsyncGetServByName = uintptr_t(IP_WINAPI*)(uintptr_t, uint32_t, const char*, const char*, char*, int);
using TFnWSAAsyncGetServByPort = uintptr_t(IP_WINAPI*)(uintptr_t, uint32_t, int, const char*, char*, int);
using TFnWSAAsyncSelect = int(IP_WINAPI*)(TSocket, uintptr_t, uint32_t, int32_t);
using TFnWSACancelAsyncRequest = int(IP_WINAPI*)(uintptr_t);
using TFnWSACleanup = int(IP_WINAPI*)();
using TFnWSAGetLastError = int(IP_WINAPI*)();
using TFnWSAStartup = int(IP_WINAPI*)(uint16_t, TWSAData*);
