// Address texts as the platform's inet_addr reads them, with the address each gives (network
// order as it lies in memory; 0xFFFFFFFF for none). The fake WinSock is held to them natively,
// the real one under Wine, so that no test relies on what only the fake would accept.
#pragma once

#include <cstdint>

struct TAddressForm {
  const char* Text;
  uint32_t Address;
};

// One to four parts, the last filling the bytes left; decimal, hex, octal; a space ends it.
inline constexpr TAddressForm kAddressForms[] = {
    {"127.0.0.1", 0x0100007Fu}, {"8080", 0x901F0000u},        {"10.1", 0x0100000Au},        {"10.1.2", 0x0200010Au},
    {"10.65535", 0xFFFF000Au},  {"0x7f.1", 0x0100007Fu},      {"0177.0.0.01", 0x0100007Fu}, {"1.2.3.4 x", 0x04030201u},
    {"1.2.3.256", 0xFFFFFFFFu}, {"10.16777216", 0xFFFFFFFFu}, {"08.1.1.1", 0xFFFFFFFFu},    {"1.2.3.4.5", 0xFFFFFFFFu},
    {"1..2", 0xFFFFFFFFu},      {"1.2.3.", 0xFFFFFFFFu},      {"host.name", 0xFFFFFFFFu},   {"", 0xFFFFFFFFu},
};
