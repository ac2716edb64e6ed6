// Texts of the socket layer (its resource strings), kept in one place.
#pragma once

// The version text and the timer refusal are the base classes' and the toolkit timer's own.
#include "base/IpUtils.h"
#include "toolkit/Timer.h"

inline constexpr const char SWinSockErrorFormat[] = "WinSock Error (%d): %s, on API '%s'";
inline constexpr const char SAccessErrorFormat[] = "Win32 error loading '%s' pointer: %s";
inline constexpr const char SActiveError[] = "Cannot set property on an active socket";
inline constexpr const char SIndexError[] = "Index out of range";
inline constexpr const char SNoSocketError[] = "Socket not assigned";
inline constexpr const char SProgrammerError[] = "Stream not assigned";
inline constexpr const char SSocksRefused[] = "SOCKS request refused - %d";
inline constexpr const char SLineTooLong[] = "Received line too long, exceeds MaxLineBuf";
inline constexpr const char SEventConnect[] = "Connect: Loc: %s Rem: %s";
inline constexpr const char SEventClose[] = "Close:   Loc: %s Rem: %s";
inline constexpr const char SDestAddrRequired[] = "Destination address required";
inline constexpr const char SAlreadyConnected[] = "Socket is already connected";
