#include "lineclient/Options.h"

#include <cstdint>
#include <string>

namespace {

// The largest idle time whose milliseconds still fit the data socket's 32-bit IdleTimeout.
constexpr uint32_t kMaxIdleSeconds = 4294967;

// A decimal number of digits only, no sign or blanks, not above `max`.
bool ParseNumber(const String& text, uint32_t max, uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool ParsePort(const String& text, uint16_t& port) {
  uint32_t v = 0;
  if (!ParseNumber(text, 65535, v) || v == 0) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

enum TOptionKind {
  okPort,
  okSend,
  okStdin,
  okLines,
  okIdle,
  okDebugLog,
  okEventLog,
  okHelp,
  okSocks4,
  okSocks4a,
  okSocks5,
  okUser,
  okPassword,
  okTelnet,
  okTerminalType,
  okWindow
};

// ADDR:PORT of a proxy; both parts required.
bool ParseProxy(const String& text, String& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  if (colon == String::npos || colon == 0) return false;
  host = text.substr(0, colon);
  return ParsePort(text.substr(colon + 1), port);
}

// COLSxROWS, each 1 to 65535.
bool ParseWindow(const String& text, uint16_t& cols, uint16_t& rows) {
  const size_t x = text.find('x');
  if (x == String::npos) return false;
  return ParsePort(text.substr(0, x), cols) && ParsePort(text.substr(x + 1), rows);
}

struct TOptionName {
  const char* Short;  // nullptr when there is no short form
  const char* Long;
  TOptionKind Kind;
  bool TakesValue;
};

constexpr TOptionName kOptions[] = {
    {"-p", "--port", okPort, true},
    {"-s", "--send", okSend, true},
    {"-i", "--stdin", okStdin, false},
    {"-n", "--lines", okLines, true},
    {"-t", "--idle", okIdle, true},
    {nullptr, "--debug-log", okDebugLog, true},
    {nullptr, "--event-log", okEventLog, true},
    {"-h", "--help", okHelp, false},
    {nullptr, "--socks4", okSocks4, true},
    {nullptr, "--socks4a", okSocks4a, true},
    {nullptr, "--socks5", okSocks5, true},
    {nullptr, "--user", okUser, true},
    {nullptr, "--password", okPassword, true},
    {nullptr, "--telnet", okTelnet, false},
    {nullptr, "--terminal-type", okTerminalType, true},
    {nullptr, "--window", okWindow, true},
};

TLineClientArgs Refuse(const String& why) {
  TLineClientArgs r;
  r.Error = why;
  return r;
}

}  // namespace

TLineClientArgs ParseLineClientArgs(const std::vector<String>& args) {
  TLineClientArgs result;
  TLineClientOptions& o = result.Options;
  String target;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const String& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      if (!target.empty()) return Refuse("more than one HOST: '" + target + "' and '" + a + "'");
      if (a.empty()) return Refuse("empty HOST");
      target = a;
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" carries its value; a short option never does.
    String name = a, value;
    bool inlineValue = false;
    if (a.compare(0, 2, "--") == 0) {
      const size_t eq = a.find('=');
      if (eq != String::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
    }
    const TOptionName* option = nullptr;
    for (const TOptionName& n : kOptions)
      if ((n.Short && name == n.Short) || name == n.Long) option = &n;
    if (!option) return Refuse("unknown option '" + a + "'");
    if (option->TakesValue && !inlineValue) {
      if (i + 1 >= args.size()) return Refuse("option '" + name + "' needs a value");
      value = args[++i];
    } else if (!option->TakesValue && inlineValue) {
      return Refuse("option '" + name + "' takes no value");
    }
    switch (option->Kind) {
      case okPort:
        if (!ParsePort(value, o.Port)) return Refuse("bad port '" + value + "' (1-65535)");
        break;
      case okSend: o.Sends.push_back(value); break;
      case okStdin: o.Stdin = true; break;
      case okLines:
        if (!ParseNumber(value, UINT32_MAX, o.Lines) || o.Lines == 0)
          return Refuse("bad line count '" + value + "' (1 or more)");
        break;
      case okIdle:
        if (!ParseNumber(value, kMaxIdleSeconds, o.IdleSeconds))
          return Refuse("bad idle time '" + value + "' (0-" + std::to_string(kMaxIdleSeconds) + " seconds)");
        break;
      case okDebugLog:
        if (value.empty()) return Refuse("empty file name for --debug-log");
        o.DebugLogFile = value;
        break;
      case okEventLog:
        if (value.empty()) return Refuse("empty file name for --event-log");
        o.EventLogFile = value;
        break;
      case okHelp: o.Help = true; break;
      case okSocks4:
      case okSocks4a:
      case okSocks5:
        if (!o.SocksHost.empty()) return Refuse("more than one proxy given");
        if (!ParseProxy(value, o.SocksHost, o.SocksPort)) return Refuse("bad proxy '" + value + "' (ADDR:PORT)");
        o.SocksVersion = option->Kind == okSocks4 ? svSocks4 : option->Kind == okSocks4a ? svSocks4a : svSocks5;
        break;
      case okUser: o.SocksUser = value; break;
      case okPassword: o.SocksPassword = value; break;
      case okTelnet: o.Telnet = true; break;
      case okTerminalType:
        if (value.empty()) return Refuse("empty terminal type");
        o.TerminalType = value;
        break;
      case okWindow:
        if (!ParseWindow(value, o.WindowCols, o.WindowRows))
          return Refuse("bad window size '" + value + "' (COLSxROWS)");
        break;
    }
  }
  if (o.Help) {
    result.Ok = true;
    return result;
  }
  if (target.empty()) return Refuse("no HOST given");
  const size_t colon = target.rfind(':');
  if (colon == String::npos) {
    o.Host = target;  // --port or the default applies
  } else {
    o.Host = target.substr(0, colon);  // HOST's own port wins over --port
    const String port = target.substr(colon + 1);
    if (!ParsePort(port, o.Port)) return Refuse("bad port '" + port + "' (1-65535)");
  }
  if (o.Host.empty()) return Refuse("empty HOST in '" + target + "'");
  result.Ok = true;
  return result;
}

String LineClientUsage() {
  return "usage: LineClient.exe [options] HOST[:PORT]\r\n"
         "  -p, --port N       port when HOST names none (default 23)\r\n"
         "  -s, --send TEXT    after connecting, send TEXT and CR LF (repeatable, sent in order)\r\n"
         "  -i, --stdin        send each line read from standard input; at its end, finish sending and\r\n"
         "                     read on until the server closes (or the --idle time)\r\n"
         "  -n, --lines N      close after N lines have arrived\r\n"
         "  -t, --idle S       close when nothing arrives for S seconds (default 30; 0: never)\r\n"
         "  --debug-log FILE   write the debug log (all log options on) there when the program ends\r\n"
         "  --event-log FILE   append the Connect and Close lines there\r\n"
         "  --socks4 ADDR:PORT | --socks4a ADDR:PORT | --socks5 ADDR:PORT   connect through a proxy\r\n"
         "  --user NAME        SOCKS4 user id, or SOCKS5 user name (with --password)\r\n"
         "  --password TEXT    SOCKS5 password\r\n"
         "  --telnet           answer telnet negotiation (terminal type \"dumb\", or --terminal-type T)\r\n"
         "  --window COLSxROWS window size to report when the server asks (NAWS)\r\n"
         "  -h, --help         show this text\r\n"
         "exit status: 0 closed or --lines reached, 1 bad arguments, 2 no connection or reset,\r\n"
         "             3 refused by the proxy, 4 idle timeout, 5 a log file could not be written\r\n";
}
