#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "sock/IpWinSock.h"

TEST(WinSockAccess, PrefersLevel2AndAsksFor22) {
  TFakeWinSock fake;
  TIpWinSockAccess access(fake);
  EXPECT_EQ(access.WinSockLevel, 2);
  EXPECT_EQ(fake.StartupVersionAsked, 0x0202);
  EXPECT_EQ(fake.Loaded, std::vector<String>{"ws2_32.dll"});
  EXPECT_EQ(access.WsaData.wVersion, 0x0202);
}

TEST(WinSockAccess, FallsThroughToLevel1WhenLevel2IsMissingOrUnloadable) {
  {
    TFakeWinSock fake;
    fake.ExistingFiles = {"wsock32.dll"};
    TIpWinSockAccess access(fake);
    EXPECT_EQ(access.WinSockLevel, 1);
    EXPECT_EQ(fake.StartupVersionAsked, 0x0101);
  }
  {
    TFakeWinSock fake;
    fake.UnloadableFiles = {"ws2_32.dll"};
    TIpWinSockAccess access(fake);
    EXPECT_EQ(access.WinSockLevel, 1);
    EXPECT_EQ(fake.Loaded, std::vector<String>{"wsock32.dll"});
  }
}

TEST(WinSockAccess, StartupFailureRaisesAndDoesNotFallThrough) {
  TFakeWinSock fake;
  fake.StartupResults["ws2_32.dll"] = 10092;
  try {
    TIpWinSockAccess access(fake);
    FAIL() << "no exception";
  } catch (const EIpWinSockError& e) {
    EXPECT_EQ(e.ErrorCode(), 10092);
    EXPECT_EQ(e.Message(), "WinSock Error (10092): WinSock DLL version not supported, on API 'WSAStartup'");
  }
  EXPECT_EQ(fake.Loaded, std::vector<String>{"ws2_32.dll"});
}

TEST(WinSockAccess, NoLibraryStillConstructsThenEveryEntryRaises) {
  TFakePlatform platform;
  TFakeWinSock fake;
  fake.ExistingFiles.clear();
  TIpWinSockAccess access(fake);
  EXPECT_EQ(access.LibraryHandle(), 0u);
  EXPECT_EQ(access.WinSockLevel, 0);
  try {
    access.Socket();
    FAIL() << "no exception";
  } catch (const EIpAccessException& e) {
    EXPECT_EQ(e.Message(), "Win32 error loading 'socket' pointer: Fake system text 127");
  }
}

TEST(WinSockAccess, EntryLookedUpOnceAndMissingOneRaisesEachTime) {
  TFakeWinSock fake;
  fake.MissingEntries = {"sendto"};
  TIpWinSockAccess access(fake);
  auto first = access.Htons();
  auto second = access.Htons();
  EXPECT_EQ(first, second);
  EXPECT_EQ(fake.GetProcCalls["htons"], 1);
  EXPECT_THROW(access.SendTo(), EIpAccessException);
  EXPECT_THROW(access.SendTo(), EIpAccessException);
  EXPECT_EQ(fake.GetProcCalls["sendto"], 2);
  EXPECT_NO_THROW(access.Socket());
}

TEST(WinSockAccess, LookupEntriesAreAskedForByTheirExactNames) {
  TFakeWinSock fake;
  const std::pair<const char*, void* (*)(TIpWinSockAccess&)> rows[] = {
      {"WSAAsyncGetHostByAddr", [](TIpWinSockAccess& a) { return reinterpret_cast<void*>(a.WSAAsyncGetHostByAddr()); }},
      {"WSAAsyncGetHostByName", [](TIpWinSockAccess& a) { return reinterpret_cast<void*>(a.WSAAsyncGetHostByName()); }},
      {"WSAAsyncGetServByName", [](TIpWinSockAccess& a) { return reinterpret_cast<void*>(a.WSAAsyncGetServByName()); }},
      {"WSAAsyncGetServByPort", [](TIpWinSockAccess& a) { return reinterpret_cast<void*>(a.WSAAsyncGetServByPort()); }},
      {"WSACancelAsyncRequest", [](TIpWinSockAccess& a) { return reinterpret_cast<void*>(a.WSACancelAsyncRequest()); }},
  };
  std::set<void*> distinct;
  for (auto [name, entry] : rows) {
    SCOPED_TRACE(name);
    {
      TIpWinSockAccess access(fake);
      distinct.insert(entry(access));
    }
    EXPECT_EQ(fake.GetProcCalls[name], 1);
    fake.MissingEntries = {name};
    TIpWinSockAccess without(fake);
    EXPECT_THROW(entry(without), EIpAccessException);
    fake.MissingEntries.clear();
  }
  EXPECT_EQ(distinct.size(), 5u);  // each its own function
}

TEST(WinSockAccess, LibraryWithoutWSAStartupIsFreedBeforeTheErrorIsRaised) {
  TFakeWinSock fake;
  fake.MissingEntries = {"WSAStartup"};
  EXPECT_THROW(TIpWinSockAccess access(fake), EIpAccessException);
  EXPECT_EQ(fake.Loaded, std::vector<String>{"ws2_32.dll"});
  EXPECT_EQ(fake.Freed, std::vector<String>{"ws2_32.dll"});
}

TEST(WinSockAccess, DestructionCleansUpAndFreesTheLibrary) {
  TFakeWinSock fake;
  { TIpWinSockAccess access(fake); }
  EXPECT_EQ(fake.CleanupCalls, 1);
  EXPECT_EQ(fake.Freed, std::vector<String>{"ws2_32.dll"});
}

TEST(WinSockAccess, ModuleInstallsAndRestoresTheGlobalTable) {
  EXPECT_EQ(WinSockAccess, nullptr);
  {
    TFakeWinSockModule module;
    ASSERT_NE(WinSockAccess, nullptr);
    EXPECT_EQ(WinSockAccess->WinSockLevel, 2);
  }
  EXPECT_EQ(WinSockAccess, nullptr);
}

TEST(WinSockErrors, TextsOfTheTableAndOfTheSystem) {
  TFakePlatform platform;
  EXPECT_EQ(ErrorText(10110), "No more data available");
  EXPECT_EQ(ErrorText(10102), "No more data available");
  EXPECT_EQ(ErrorText(11011), "Rejected for administrative reasons - bad credentials");
  EXPECT_EQ(ErrorText(0), "Fake system text 0");
  EXPECT_EQ(ErrorText(10000), "Fake system text 10000");
  EIpWinSockError e(10054, "Recv");
  EXPECT_EQ(e.ErrorCode(), 10054);
  EXPECT_EQ(e.Message(), "WinSock Error (10054): Connection reset by peer, on API 'Recv'");
  EXPECT_EQ(EIpWinSockError(10061, "Connect").Message(), "WinSock Error (10061): Connection refused, on API 'Connect'");
  EXPECT_EQ(EIpWinSockError("Socket is already connected").ErrorCode(), 0);
  EXPECT_EQ(EventName(16), "Fd_Connect");
  EXPECT_EQ(EventName(3), "");
  EXPECT_EQ(LookupKindName(3), "WsaAsyncGetServByPort");
  EXPECT_EQ(LookupKindName(4), "");
}

TEST(WinSockErrors, EveryCodeOfTheTableHasItsTextAndNoOtherCodeHasOne) {
  TFakePlatform platform;
  const std::map<int, String> table = {
      {10004, "Interrupted function call"},
      {10009, "Bad file descriptor"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Resource temporarily unavailable"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on nonsocket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Bad protocol option"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10049, "Cannot assign requested address"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Cannot send after socket shutdown"},
      {10059, "Too many references; cannot splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disk quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network subsystem is unavailable"},
      {10092, "WinSock DLL version not supported"},
      {10093, "Successful WSAStartup not yet performed"},
      {10101, "Graceful shutdown in progress"},
      {10102, "No more data available"},
      {10103, "Cancelled"},
      {10104, "Invalid procedure table from service provider"},
      {10105, "Invalid service provider version number"},
      {10106, "Unable to initialize a service provider"},
      {10107, "System call failure"},
      {10108, "Service not found"},
      {10109, "Type not found"},
      {10110, "No more data available"},
      {10111, "Lookup cancelled"},
      {10112, "Refused"},
      {11001, "Host not found"},
      {11002, "Nonauthoritative host not found"},
      {11003, "This is a nonrecoverable error"},
      {11004, "Valid name, no data record of requested type"},
      {11005, "At least one Reserve has arrived"},
      {11006, "At least one Path has arrived"},
      {11007, "There are no senders"},
      {11008, "There are no receivers"},
      {11009, "Reserve has been confirmed"},
      {11010, "Error due to lack of resources"},
      {11011, "Rejected for administrative reasons - bad credentials"},
      {11012, "Unknown or conflicting style"},
      {11013, "Problem filterspec or providerspecific buffer"},
      {11014, "Problem with some part of the flowspec"},
      {11015, "General error"},
  };
  ASSERT_EQ(table.size(), 73u);
  for (const auto& [code, text] : table) EXPECT_EQ(ErrorText(code), text) << code;
  // Every other code of the WinSock ranges is the system's to name.
  for (int code = 9990; code < 12000; ++code) {
    if (table.count(code)) continue;
    EXPECT_EQ(ErrorText(code), "Fake system text " + std::to_string(code)) << code;
  }
}
