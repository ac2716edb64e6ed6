// The command line of LineClient.exe, the socket library's example program: a line client that
// connects to HOST[:PORT], sends lines given on the command line or read from standard input,
// and prints the lines that arrive. Parsing is pure so that every rule is tested natively.
#pragma once

#include <cstdint>
#include <vector>

#include "sock/IpSocks.h"
#include "toolkit/SysUtils.h"

// Exit statuses of the program.
enum TLineClientStatus : int {
  lcsClosed = 0,        // closed in order by either side, or the --lines count was reached
  lcsBadArguments = 1,  // the command line could not be used (usage printed)
  lcsNoConnection = 2,  // the connection could not be made, or it was reset or broke
  lcsProxyRefused = 3,  // the SOCKS proxy refused the connection
  lcsIdle = 4,          // nothing arrived for the --idle time
  lcsLogFailed = 5,     // the session ended, but a log file could not be written
};

struct TLineClientOptions {
  String Host;                // dotted address or name, without the port
  uint16_t Port = 23;         // from HOST:PORT, else --port, else 23
  std::vector<String> Sends;  // --send texts, in the order given
  bool Stdin = false;         // send each line of standard input
  uint32_t Lines = 0;         // close after this many lines have arrived; 0: no limit
  uint32_t IdleSeconds = 30;  // close when nothing arrives for this long; 0: never
  String DebugLogFile;        // empty: no debug log
  String EventLogFile;        // empty: no event log
  bool Help = false;          // --help: print the usage and do nothing else
  String SocksHost;           // --socks4, --socks4a, --socks5 ADDR; empty: no proxy
  uint16_t SocksPort = 1080;
  TIpSocksVersion SocksVersion = svSocks4;
  String SocksUser;         // SOCKS4 user id or SOCKS5 user name
  String SocksPassword;     // SOCKS5 password
  bool Telnet = false;      // answer telnet negotiation
  String TerminalType;      // empty: "dumb"
  uint16_t WindowCols = 0;  // --window COLSxROWS; 0: none given
  uint16_t WindowRows = 0;
};

struct TLineClientArgs {
  bool Ok = false;
  String Error;  // why the command line was refused, one line without a line end
  TLineClientOptions Options;
};

// Reads the arguments after the program's name. Options and HOST[:PORT] may come in any
// order; an option's value is the next argument or, for a long option, follows "=". "--" ends
// the options. The port of HOST[:PORT] is what follows its last ":", so "localhost:7" names
// port 7 (the library's own address parser would read the dotless word as a scheme).
TLineClientArgs ParseLineClientArgs(const std::vector<String>& args);

// "usage: LineClient.exe [options] HOST[:PORT]" and the option list, lines ending in "\r\n".
String LineClientUsage();
