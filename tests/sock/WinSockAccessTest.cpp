#include <gtest/gtest.h>

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
