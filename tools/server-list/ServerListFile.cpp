// Writes the server list file that Kairotsu.exe makes on its first start (NTP.lst: the default
// servers, CR LF after each), with the program's own code, for the release's zip.
//   server-list FILE
#include <cstdio>
#include <exception>

#include "app/ServerList.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: server-list FILE\n", stderr);
    return 2;
  }
  try {
    SaveServerList(argv[1], DefaultServers);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "server-list: %s\n", e.what());
    return 1;
  }
  return 0;
}
