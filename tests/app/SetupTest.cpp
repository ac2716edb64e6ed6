// The controller, dialog and tray handlers of the program, on fakes with virtual time.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/ServerList.h"
#include "app/Setup.h"
#include "app/SyncRules.h"
#include "fakes/FakeAppSystem.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeShellTray.h"
#include "fakes/FakeWinSock.h"
#include "fakes/NtpReplies.h"
#include "fakes/TempFolder.h"
#include "fakes/TextFiles.h"
#include "settings/FileOps.h"
#include "toolkit/Application.h"

namespace {

namespace fs = std::filesystem;

// While it lives, files are read and written by their permissions even for root: the process
// drops the capabilities that override them from its effective set, and takes them back after.
class PermissionsApply {
 public:
  PermissionsApply() {
    if (::syscall(SYS_capget, &FHeader, FSaved) != 0) return;
    __user_cap_data_struct dropped[2];
    std::memcpy(dropped, FSaved, sizeof dropped);
    dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    FDropped = ::syscall(SYS_capset, &FHeader, dropped) == 0;
  }
  ~PermissionsApply() {
    if (FDropped) ::syscall(SYS_capset, &FHeader, FSaved);
  }
  PermissionsApply(const PermissionsApply&) = delete;
  PermissionsApply& operator=(const PermissionsApply&) = delete;

 private:
  __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct FSaved[2]{};
  bool FDropped = false;
};

constexpr uint32_t kServerAddress = 0x0A00007F;  // 127.0.0.10, network order

class SetupTest : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeAppSystem Sys;
  TFakeShellTray Tray;
  TFakeMenuPlatform Menus;
  TApplication App;
  TTempFolder Temp{"setup"};
  fs::path Dir = Temp.Path();
  std::unique_ptr<TSetup> Form;

  void SetUp() override {
    PathOverrides().ExecutableFileName = (Dir / "Kairotsu.exe").string();
    App.SetTitle("Kairotsu");
    WinSock.Fake.Hosts["ntp.test"] = {kServerAddress};
    // 2024-01-01 00:10:00 UTC; the fake's local time is UTC+9.
    Platform.UtcNow = EncodeDate(2024, 1, 1) + EncodeTime(0, 10, 0, 0);
  }
  void TearDown() override {
    Form.reset();
    PathOverrides().ExecutableFileName.clear();
  }
  // The INI file of user "taro" with these lines, before the program starts.
  void GivenSettings(const String& lines) { WriteBytes(Dir / "Kairotsu.ini", "[taro]\r\n" + lines); }
  void Start() { Form = std::make_unique<TSetup>(&App); }

  // Balloons shown, as (title, text, icon flags).
  std::vector<std::tuple<String, String, uint32_t>> Balloons() const {
    std::vector<std::tuple<String, String, uint32_t>> out;
    for (auto& c : Tray.Calls)
      if (c.Message == nimModify && (c.Data.uFlags & nifInfo) && c.Data.szInfo[0])
        out.emplace_back(c.Data.szInfoTitle, c.Data.szInfo, c.Data.dwInfoFlags);
    return out;
  }
  std::vector<TFakeWinSock::Datagram> Requests() const {
    std::vector<TFakeWinSock::Datagram> out;
    for (auto& [s, st] : WinSock.Fake.Sockets)
      for (auto& d : st.Sent) out.push_back(d);
    return out;
  }
  // A server's answer to the last request, transmitting `serverUtc`.
  void Reply(TDateTime serverUtc, uint8_t first = 0x1C, uint8_t stratum = 2) {
    TSocket s = Form->SNTPC->RequestSocket();
    ASSERT_NE(s, InvalidSocket);
    Queue(s, WinSock.Fake.Sockets[s].Sent.back().Bytes, serverUtc, first, stratum);
    Platform.ProcessMessages();
  }
  // Every request is answered with `serverUtc` as it is sent.
  void AnswerEveryRequest(TDateTime serverUtc) {
    WinSock.Fake.OnSendTo = [this, serverUtc](TSocket s, const TFakeWinSock::Datagram& d) {
      Queue(s, d.Bytes, serverUtc, 0x1C, 2);
    };
  }
  void Queue(TSocket s, const std::vector<uint8_t>& request, TDateTime serverUtc, uint8_t first, uint8_t stratum) {
    const TIpNTPTimestamp stamp = DateTimeToNtpStamp(serverUtc);
    WinSock.Fake.Sockets[s].Incoming.push_back(
        {ServerReply(request, stamp, stamp, first, stratum), kServerAddress, 123});
    WindowSystem().Post(Form->SNTPC->WindowHandle(), IPM_SOCKET_EVENT, s, fdRead);
  }
  void SetLocalMinute(int minute) { Platform.UtcNow = EncodeDate(2024, 1, 1) + EncodeTime(1, minute, 0, 0); }
};

TEST_F(SetupTest, FirstStartWritesTheServerListShowsTheDialogAndWarns) {
  Start();
  EXPECT_EQ(Platform.PriorityClasses.front(), pcIdle);
  EXPECT_EQ(Form->AutoIni->Section(), "taro");
  EXPECT_EQ(Form->Left(), 0);
  EXPECT_EQ(Form->Top(), 0);
  String list = ReadBytes(Dir / "NTP.lst");
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 22);
  EXPECT_EQ(list.substr(list.size() - 2), "\r\n");
  EXPECT_EQ(Form->ServerList->Items(), DefaultServers);
  EXPECT_EQ(Form->ServerList->ItemIndex(), -1);
  EXPECT_TRUE(Form->Visible());
  EXPECT_EQ(Form->HelpFile, (Dir / "Kairotsu.pdf").string());
  ASSERT_EQ(Balloons().size(), 1u);
  EXPECT_EQ(Balloons()[0], std::make_tuple(String("設定警告"), String("NTPサーバーが指定されていません。"), 2u));
  EXPECT_TRUE(Form->CheckTimer->Enabled());
  EXPECT_EQ(Form->CheckTimer->Interval(), 10000u);
  EXPECT_FALSE(Form->Cycle().OneShot());
}

TEST_F(SetupTest, UnwritableServerListIsReportedAndStartUpGoesOn) {
  fs::create_directories(Dir / "NTP.lst");  // a folder where the file should be
  GivenSettings("UseNTPServer=ntp.test\r\n");
  std::vector<String> shown;
  App.OnException = [&](TObject*, const std::exception& e) { shown.push_back(ExceptionMessage(e)); };
  Start();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("NTP.lst"), String::npos);
  EXPECT_EQ(Form->ServerList->Items(), DefaultServers);
  EXPECT_TRUE(Form->CheckTimer->Enabled());
  Platform.Advance(10000);
  EXPECT_EQ(Requests().size(), 1u);
}

// A list file that is there but cannot be read is never taken for a missing one: it is reported
// and kept as it is, and start-up goes on with the form's list.
TEST_F(SetupTest, UnreadableServerListIsReportedAndKept) {
  const String kept = "a.test\r\nb.test\r\n";
  for (mode_t mode : {0200, 0000}) {  // write-only, and no access at all
    SCOPED_TRACE(mode);
    Form.reset();
    WriteBytes(Dir / "NTP.lst", kept);
    ::chmod((Dir / "NTP.lst").c_str(), mode);
    GivenSettings("UseNTPServer=ntp.test\r\n");
    std::vector<String> shown;
    App.OnException = [&](TObject*, const std::exception& e) { shown.push_back(ExceptionMessage(e)); };
    {
      PermissionsApply permissions;
      Start();
    }
    ::chmod((Dir / "NTP.lst").c_str(), 0644);
    EXPECT_EQ(ReadBytes(Dir / "NTP.lst"), kept);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("NTP.lst"), String::npos) << shown[0];
    EXPECT_EQ(Form->ServerList->Items(), DefaultServers);
    EXPECT_TRUE(Form->CheckTimer->Enabled());
  }
}

// Settings that Notepad saved in UTF-8 or UTF-16LE: the user's values are read, and OK saves
// them into the user's one section, in the file's own encoding.
TEST_F(SetupTest, UnicodeSettingsFileIsReadAndKeepsItsEncoding) {
  for (Bom bom : {Bom::Utf8, Bom::Utf16Le}) {
    SCOPED_TRACE(BomName(bom));
    Form.reset();
    WriteBytes(Dir / "NTP.lst", "ntp.test\r\n");
    WriteBytes(Dir / "Kairotsu.ini", FileBytes(bom,
                                               u"[hanako]\r\nOffsetSec=1\r\n[taro]\r\nUseNTPServer=ntp.test\r\n"
                                               u"OffsetSec=7\r\nCheckTiming=1\r\n"));
    Start();
    EXPECT_EQ(Form->UseNTPServer->Text(), "ntp.test");
    EXPECT_EQ(Form->OffsetSec->Text(), "7");
    EXPECT_TRUE(Form->CheckTiming->Checked());
    EXPECT_FALSE(Form->Visible());
    Form->OkButtonClick(nullptr);
    EXPECT_EQ(ReadBytes(Dir / "Kairotsu.ini"),
              FileBytes(bom,
                        u"[hanako]\r\nOffsetSec=1\r\n[taro]\r\nUseNTPServer=ntp.test\r\nOffsetSec=7\r\n"
                        u"CheckTiming=1\r\nSetupTop=0\r\nSetupLeft=0\r\nServerList=-1\r\nOffsetMin=0\r\n"
                        u"UpdateTime=30\r\nBootUpdateTime=1\r\n"));
  }
}

// A server list that Notepad saved in UTF-8 or UTF-16LE: its lines are the list, and when OK
// adds a server the file keeps its encoding; a line that ANSI cannot hold keeps its characters.
TEST_F(SetupTest, UnicodeServerListIsReadAndKeepsItsEncoding) {
  for (Bom bom : {Bom::Utf8, Bom::Utf16Le}) {
    SCOPED_TRACE(BomName(bom));
    Form.reset();
    WriteBytes(Dir / "NTP.lst", FileBytes(bom, u"a.test\r\nサーバ.test\r\né.test\n\nlast.test"));
    GivenSettings("UseNTPServer=a.test\r\n");
    Start();
    EXPECT_EQ(Form->ServerList->Items(), (std::vector<String>{"a.test", "サーバ.test", "?.test", "", "last.test"}));
    Form->UseNTPServer->SetText("新.test");
    Form->OkButtonClick(nullptr);
    const String saved = FileBytes(bom, u"新.test\r\na.test\r\nサーバ.test\r\né.test\r\n\r\nlast.test\r\n");
    EXPECT_EQ(ReadBytes(Dir / "NTP.lst"), saved);
  }
}

// A folder and a program named in Shift-JIS with 0x5C second bytes (表 and ソ): the list file,
// the INI file and the help file sit beside the program, under their own names.
TEST_F(SetupTest, ShiftJisFolderAndProgramNamesKeepTheFilesBesideTheProgram) {
  const fs::path folder = Dir / "表示";
  fs::create_directories(folder);
  PathOverrides().ExecutableFileName = (folder / "ソフトX1.exe").string();
  WriteBytes(folder / "ソフトX1.ini", "[taro]\r\nUseNTPServer=ntp.test\r\n");
  Start();
  EXPECT_EQ(Form->UseNTPServer->Text(), "ntp.test");
  EXPECT_EQ(Form->ServerList->Items(), DefaultServers);
  EXPECT_TRUE(fs::is_regular_file(folder / "NTP.lst"));
  EXPECT_EQ(Form->HelpFile, (folder / "ソフトX1.pdf").string());
  EXPECT_TRUE(Form->Cycle().OneShot());
  for (const auto& entry : fs::directory_iterator(folder)) {
    const String name = entry.path().filename().string();
    EXPECT_TRUE(name == "NTP.lst" || name == "ソフトX1.ini" || name == "ソフトX1.ini.lock") << name;
  }
}

TEST_F(SetupTest, OneShotFromTheCommandLine) {
  Sys.Line = "Kairotsu.exe -q /1x";
  Start();
  EXPECT_TRUE(Form->Cycle().OneShot());
}

TEST_F(SetupTest, ServerListFileWithLfLinesAndNoFinalLineEnd) {
  WriteBytes(Dir / "NTP.lst", "a.test\nb.test\n\nc.test");
  Start();
  EXPECT_EQ(Form->ServerList->Items(), (std::vector<String>{"a.test", "b.test", "", "c.test"}));
}

TEST_F(SetupTest, TimedCycleSendsOneRequestAndRestoresThePeriod) {
  GivenSettings("UseNTPServer=ntp.test\r\nBootUpdateTime=0\r\n");
  Start();
  EXPECT_FALSE(Form->Visible());
  EXPECT_EQ(Form->CheckTimer->Interval(), 30u * 60000u);
  Platform.Advance(30 * 60000 - 1);
  EXPECT_TRUE(Requests().empty());
  Platform.PriorityClasses.clear();
  Platform.Advance(1);
  auto sent = Requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Bytes.size(), 48u);
  EXPECT_EQ(sent[0].Bytes[0], 0x1B);
  EXPECT_EQ(sent[0].FromAddress, kServerAddress);
  EXPECT_EQ(sent[0].FromPort, 123);
  EXPECT_EQ(Platform.PriorityClasses, (std::vector<uint32_t>{pcNormal, pcIdle}));
  EXPECT_TRUE(Form->CheckTimer->Enabled());
  EXPECT_EQ(Form->CheckTimer->Interval(), 30u * 60000u);
}

TEST_F(SetupTest, BootCycleAfterTenSecondsThenTheNormalPeriod) {
  GivenSettings("UseNTPServer=ntp.test\r\nUpdateTime=15\r\n");
  Start();
  Platform.Advance(10000);
  EXPECT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Form->CheckTimer->Interval(), 15u * 60000u);
}

TEST_F(SetupTest, MinuteGuardHoldsBackAndRetriesFiveMinutesLater) {
  GivenSettings("UseNTPServer=ntp.test\r\nCheckTiming=1\r\n");
  for (int minute : {0, 27, 30, 57, 59}) {
    SetLocalMinute(minute);
    Start();
    Platform.Advance(10000);
    EXPECT_TRUE(Requests().empty()) << minute;
    EXPECT_TRUE(Form->Cycle().Deferred()) << minute;
    EXPECT_EQ(Form->CheckTimer->Interval(), 300000u) << minute;
    EXPECT_EQ(std::get<1>(Balloons().back()), "同期は5分後に行なわれます。");
    Form.reset();
  }
  for (int minute : {1, 26, 31, 56}) {
    SetLocalMinute(minute);
    Start();
    Platform.Advance(10000);
    EXPECT_EQ(Requests().size(), 1u) << minute;
    EXPECT_FALSE(Form->Cycle().Deferred()) << minute;
    Form.reset();
    WinSock.Fake.Sockets.clear();
  }
  // Held back at 10:28 local: the next cycle, five minutes later, sends and restores the period.
  SetLocalMinute(28);
  Start();
  Platform.Advance(10000);
  EXPECT_TRUE(Requests().empty());
  Platform.Advance(300000);
  EXPECT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Form->CheckTimer->Interval(), 30u * 60000u);
}

TEST_F(SetupTest, ResumeSynchronisesAMinuteLaterThenTheNormalPeriod) {
  GivenSettings("UseNTPServer=ntp.test\r\nBootUpdateTime=0\r\n");
  Start();
  TMessage m{wmPowerBroadcast, 18, 0, 0};  // automatic resume: nothing more
  Form->Dispatch(m);
  EXPECT_EQ(Form->CheckTimer->Interval(), 30u * 60000u);
  m = {wmPowerBroadcast, 7, 0, 0};
  Form->Dispatch(m);
  EXPECT_EQ(std::get<1>(Balloons().back()), "1分後に同期処理を行ないます。");
  Platform.Advance(60000);
  EXPECT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Form->CheckTimer->Interval(), 30u * 60000u);
}

TEST_F(SetupTest, ReplyBecomesJapanTimePlusTheOffset) {
  GivenSettings("UseNTPServer=ntp.test\r\nOffsetSec=30\r\nOffsetMin=90\r\n");
  Start();
  Platform.Advance(10000);
  Reply(EncodeDate(2024, 1, 1));
  ASSERT_EQ(Platform.LocalTimesSet.size(), 1u);
  const TSystemTime& st = Platform.LocalTimesSet[0];
  EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20240101);
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 103030);
  EXPECT_EQ(st.wDayOfWeek, 0);
  EXPECT_NE(Form->Cycle().LastSync(), 0);
  EXPECT_EQ(Form->Outcome(), soClockSet);
}

TEST_F(SetupTest, AReplyHandledLaterSetsTheClockToTheTimeItIsThen) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  // The second case reads the reply just before the tick counter wraps.
  for (uint32_t tickAtSend : {5000u, 0xFFFFFA00u}) {
    SCOPED_TRACE(tickAtSend);
    Platform.LocalTimesSet.clear();
    Platform.Tick = tickAtSend;
    Form->Cycle().SynchronizeNow();
    const TSocket s = Form->SNTPC->RequestSocket();
    const TDateTime serverUtc = EncodeDate(2024, 1, 1);
    // 400 ms on the network, then the reply is read; it is handled 3 s later (a box was open,
    // the process runs at idle priority).
    Platform.Advance(400);
    Queue(s, WinSock.Fake.Sockets[s].Sent.back().Bytes, serverUtc, 0x1C, 2);
    Form->SNTPC->NotifyRead(s);
    Platform.Tick += 3000;
    Platform.UtcNow += 3.0 / 86400.0;
    Platform.ProcessMessages();
    ASSERT_EQ(Platform.LocalTimesSet.size(), 1u);
    // The transmit time, plus half the round trip, plus the 3 s: 09:00:03.200 in Japan.
    const TSystemTime& st = Platform.LocalTimesSet[0];
    EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20240101);
    EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 90003);
    EXPECT_NEAR(st.wMilliseconds, 200, 1);
  }
}

TEST_F(SetupTest, OutOfRangeValuesAreBroughtIntoRange) {
  GivenSettings("UseNTPServer=ntp.test\r\nOffsetSec=75\r\nOffsetMin=99999\r\nUpdateTime=0\r\n");
  Start();
  EXPECT_EQ(Form->Cycle().PeriodMs(), 10u * 60000u);
  Platform.Advance(10000);
  EXPECT_EQ(Form->CheckTimer->Interval(), 10u * 60000u);
  Reply(EncodeDate(2024, 1, 1));
  ASSERT_EQ(Platform.LocalTimesSet.size(), 1u);
  EXPECT_EQ(Platform.LocalTimesSet[0].wDay, 2);  // 9 h + 23:59:59
  EXPECT_EQ(Platform.LocalTimesSet[0].wHour, 8);
  EXPECT_EQ(Platform.LocalTimesSet[0].wSecond, 59);
}

TEST_F(SetupTest, InvalidReplyIsNeverApplied) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  for (auto [first, stratum] : {std::pair<uint8_t, uint8_t>{0x1B, 2}, {0x1C, 0}, {0x1C, 16}, {0xDC, 2}}) {
    Form->Cycle().SynchronizeNow();
    Reply(EncodeDate(2024, 1, 1), first, stratum);
    EXPECT_TRUE(Platform.LocalTimesSet.empty());
    EXPECT_EQ(Form->Outcome(), soInvalidReply);
    EXPECT_EQ(std::get<0>(Balloons().back()), "設定警告");
  }
  EXPECT_EQ(Form->Cycle().LastSync(), 0);
}

TEST_F(SetupTest, RefusedClockSettingIsNotASync) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  Platform.RefuseClockSetting = true;
  Platform.Advance(10000);
  Reply(EncodeDate(2024, 1, 1));
  EXPECT_EQ(Form->Cycle().LastSync(), 0);
  EXPECT_EQ(Form->Outcome(), soSetRefused);
  auto [title, text, flags] = Balloons().back();
  EXPECT_EQ(title, "設定警告");
  EXPECT_EQ(flags, 2u);
  EXPECT_NE(text.find("A required privilege is not held by the client"), String::npos);
  // The status balloon still says that no synchronisation has happened.
  Form->TrayIconClick(nullptr);
  EXPECT_NE(std::get<1>(Balloons().back()).find("同期はまだ行なわれていません。"), String::npos);
}

TEST_F(SetupTest, AManualSynchronisationIsRecordedLikeATimedOne) {
  WriteBytes(Dir / "NTP.lst", "ntp.test\r\n");
  GivenSettings("UseNTPServer=ntp.test\r\nBootUpdateTime=0\r\nUpdateTime=10\r\n");
  Start();
  // 09:10:00: a double click whose request cannot be sent.
  WinSock.Fake.SocketError = 10024;
  Form->TrayIcon->OnDblClick(Form->TrayIcon);
  WinSock.Fake.SocketError = 0;
  // 09:12:00: a double click in the server list, never answered.
  Platform.Advance(120000);
  Form->ServerList->SetItemIndex(0);
  Form->ServerListDblClick(nullptr);
  Platform.Advance(480000);  // 09:20:00: the timed cycle, never answered
  EXPECT_EQ(ReadBytes(Dir / "Kairotsu.log"),
            "2024.01.01 09:10:00 ntp.test: no reply, invalid udp socket\r\n"
            "2024.01.01 09:20:00 ntp.test: no reply, request sent 09:12:00\r\n");
}

TEST_F(SetupTest, StatusBalloonBeforeAndAfterASync) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  Form->TrayIconClick(nullptr);
  EXPECT_EQ(Balloons().back(), std::make_tuple(String("Information"),
                                               String("NTP Server : ntp.test\r\n同期は30分ごとです。\r\n"
                                                      "同期はまだ行なわれていません。"),
                                               1u));
  Platform.Advance(10000);
  Reply(Platform.UtcNow);
  Form->TrayIconClick(nullptr);
  // The fake's local clock: 2024-01-01 09:10:10 (UTC+9).
  EXPECT_EQ(std::get<1>(Balloons().back()),
            "NTP Server : ntp.test\r\n同期は30分ごとです。\r\n前回は 2024/01/01 9:10:10 に同期を行ないました。");
  TSyncSettings none = Form->Cycle().Settings();
  none.Server.clear();
  Form->Cycle().SetSettings(none);
  Form->TrayIconClick(nullptr);
  EXPECT_EQ(std::get<1>(Balloons().back()).substr(0, 15), "NTP Server : \r\n");
}

TEST_F(SetupTest, SocketErrorsShowOneBoxAtATime) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  Platform.DuringMessageBox = [&] {
    Form->SNTPC->OnError(Form->SNTPC, 5, 10054, "second");  // arrives while the first box is open
  };
  Form->SNTPC->OnError(Form->SNTPC, 5, 10054, "first");
  ASSERT_EQ(Platform.MessageBoxes.size(), 1u);
  EXPECT_EQ(Platform.MessageBoxes[0].Text, "first");
  EXPECT_EQ(Platform.MessageBoxes[0].Flags, mbOk | mbIconError);
  Form->SNTPC->OnError(Form->SNTPC, 5, 10054, "third");
  EXPECT_EQ(Platform.MessageBoxes.size(), 2u);
}

TEST_F(SetupTest, ErrorsOfATimedCycleAreShownOnlyOnceTheScheduleRunsAgain) {
  GivenSettings("UseNTPServer=nowhere.test\r\n");  // a name that no lookup resolves
  Start();
  // What the program is doing while the box waits for someone to press OK.
  bool timerOn = false;
  uint32_t priority = 0;
  Platform.DuringMessageBox = [&] {
    timerOn = Form->CheckTimer->Enabled();
    priority = Platform.PriorityClasses.back();
  };
  Platform.Advance(10000);
  ASSERT_EQ(Platform.MessageBoxes.size(), 1u);
  EXPECT_NE(Platform.MessageBoxes[0].Text.find("gethostbyname"), String::npos);
  EXPECT_EQ(Platform.MessageBoxes[0].Flags, mbOk | mbIconError);
  EXPECT_TRUE(timerOn);
  EXPECT_EQ(priority, pcIdle);
  // The next cycle tries again.
  Platform.Advance(30 * 60000);
  EXPECT_EQ(WinSock.Fake.HostLookups.size(), 2u);
  EXPECT_EQ(Platform.MessageBoxes.size(), 2u);
}

TEST_F(SetupTest, ARequestThatRaisesLeavesTheScheduleRunning) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  std::vector<String> shown;
  bool timerOn = false;
  uint32_t priority = 0;
  App.OnException = [&](TObject*, const std::exception& e) {
    shown.push_back(ExceptionMessage(e));
    timerOn = Form->CheckTimer->Enabled();
    priority = Platform.PriorityClasses.back();
  };
  Start();
  WinSock.Fake.SocketError = 10024;  // no socket can be had
  Platform.Advance(10000);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "invalid udp socket");
  EXPECT_TRUE(timerOn);
  EXPECT_EQ(priority, pcIdle);
  WinSock.Fake.SocketError = 0;
  Platform.Advance(30 * 60000);
  EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(SetupTest, OneShotAppliesTheReplyThenEndsWithItsStatus) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Sys.Line = "Kairotsu.exe /1";
  Start();
  AnswerEveryRequest(EncodeDate(2024, 1, 1));  // the reply arrives during the bounded wait
  Platform.Advance(10000);
  EXPECT_EQ(Platform.LocalTimesSet.size(), 1u);
  EXPECT_EQ(Platform.QuitCode, 0);
  EXPECT_FALSE(Form->Visible());
  EXPECT_NE(ReadBytes(Dir / "Kairotsu.ini").find("UseNTPServer=ntp.test"), String::npos);
}

TEST_F(SetupTest, OneShotWithoutReplyEndsAfterTheWaitWithNonZeroStatus) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Sys.Line = "Kairotsu.exe -1";
  Start();
  Platform.Advance(10000 + kOneShotReplyWaitMs + 100);
  EXPECT_EQ(Platform.QuitCode, soNoReply);
  EXPECT_NE(Sys.Console.find("no reply"), String::npos);
  EXPECT_TRUE(Platform.MessageBoxes.empty());
}

TEST_F(SetupTest, OneShotWithoutServerEndsEvenWithTheDialogShown) {
  Sys.Line = "Kairotsu.exe /1";
  Start();
  EXPECT_FALSE(Form->Visible());  // nobody is there to fill it in
  Platform.Advance(10000);
  EXPECT_EQ(Platform.QuitCode, soNoServer);
  EXPECT_NE(Sys.Console.find("Kairotsu: no NTP server is configured\r\n"), String::npos) << Sys.Console;
}

TEST_F(SetupTest, OneShotThatCannotSaveItsSettingsSaysSoOnTheConsoleAndEnds) {
  const String ini = (Dir / "Kairotsu.ini").string();
  const String cannotSave = "Kairotsu: Can not save to IniFile\r\n";
  const String notWritable = "Kairotsu: " + ini + " に書き込めません\r\n";
  struct Case {
    const char* What;
    std::function<void()> Prepare;
    int Status;
    std::vector<String> Said;
  };
  const Case cases[] = {
      {"read-only INI file",
       [&] {
         GivenSettings("UseNTPServer=ntp.test\r\n");
         fs::permissions(ini, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
       },
       5,  // the clock was set, the settings were not saved
       {cannotSave, notWritable}},
      {"a folder in the INI file's place",
       [&] { fs::create_directories(ini); },
       soNoServer,  // nothing could be read either; that is what the status says
       {"Kairotsu: no NTP server is configured\r\n", cannotSave, notWritable}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    c.Prepare();
    Sys.Line = "Kairotsu.exe /1";
    Sys.Console.clear();
    Platform.QuitCode = -1;
    Start();
    AnswerEveryRequest(EncodeDate(2024, 1, 1));
    Platform.Advance(10000 + kOneShotReplyWaitMs);
    EXPECT_TRUE(Platform.MessageBoxes.empty());
    EXPECT_EQ(Platform.QuitCode, c.Status);
    for (const String& line : c.Said) EXPECT_NE(Sys.Console.find(line), String::npos) << line << Sys.Console;
    Form.reset();
    fs::permissions(ini, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(ini);
  }
}

// The same reason on the console, in the balloon and in the history, on every run.
TEST_F(SetupTest, OneShotRefusedSettingEndsWithItsStatus) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  const String said = "時刻を設定できませんでした: " + Platform.SystemErrorText(1314);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    Sys.Line = "Kairotsu.exe /1";
    Sys.Console.clear();
    Start();
    Platform.RefuseClockSetting = true;
    AnswerEveryRequest(EncodeDate(2024, 1, 1));
    Platform.Advance(10000);
    EXPECT_EQ(Platform.QuitCode, soSetRefused);
    const String log = ReadBytes(Dir / "Kairotsu.log");
    EXPECT_EQ(log.substr(log.rfind(": not set, ") + 11), Platform.SystemErrorText(1314) + "\r\n");
    EXPECT_NE(Sys.Console.find("Kairotsu: " + said + "\r\n"), String::npos) << Sys.Console;
    EXPECT_EQ(std::get<1>(Balloons().back()), said);
    Form.reset();
  }
}

TEST_F(SetupTest, ClosingTheVisibleDialogOnlyHidesItAndAHiddenCloseSaves) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  Form->Show();
  Form->Close();
  EXPECT_FALSE(Form->Visible());
  EXPECT_EQ(Platform.QuitCode, -1);
  EXPECT_EQ(ReadBytes(Dir / "Kairotsu.ini").find("SetupTop"), String::npos);
  // Log-off with the dialog shown: hidden and refused; with it hidden: saved and allowed.
  Form->Show();
  TMessage query{wmQueryEndSession, 0, 0, 0};
  Form->Dispatch(query);
  EXPECT_EQ(query.Result, 0);
  EXPECT_FALSE(Form->Visible());
  query = {wmQueryEndSession, 0, 0, 0};
  Form->Dispatch(query);
  EXPECT_EQ(query.Result, 1);
  EXPECT_NE(ReadBytes(Dir / "Kairotsu.ini").find("SetupTop=0"), String::npos);
  // The exit command closes even the shown dialog and saves its current values.
  Form->Show();
  Form->OffsetSec->SetText("7");
  Form->ExitAppExecute(nullptr);
  EXPECT_EQ(Platform.QuitCode, 0);
  EXPECT_NE(ReadBytes(Dir / "Kairotsu.ini").find("OffsetSec=7"), String::npos);
}

TEST_F(SetupTest, WhatTheDialogSavesIsWhatTheLoaderReadsInTheSameRanges) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  Form->UseNTPServer->SetText("saved.test");
  Form->OffsetSec->SetText("17");
  Form->OffsetMin->SetText("1234");
  Form->UpdateTime->SetText("77");
  Form->BootUpdateTime->SetChecked(false);
  Form->CheckTiming->SetChecked(true);
  Form->OkButtonClick(nullptr);
  const TSyncSettings s = LoadSyncSettings((Dir / "Kairotsu.ini").string(), "taro");
  EXPECT_EQ(s.Server, "saved.test");
  EXPECT_EQ(s.OffsetSec, 17);
  EXPECT_EQ(s.OffsetMin, 1234);
  EXPECT_EQ(s.UpdateTime, 77);
  EXPECT_FALSE(s.BootUpdateTime);
  EXPECT_TRUE(s.CheckTiming);
  // The spin edits bring their values into the same ranges as the loader.
  const std::pair<TSpEdit*, TIntRange> spins[] = {
      {Form->OffsetSec, kOffsetSecRange}, {Form->OffsetMin, kOffsetMinRange}, {Form->UpdateTime, kUpdateTimeRange}};
  for (auto& [spin, range] : spins) {
    SCOPED_TRACE(spin->Name());
    EXPECT_EQ(spin->MinValue(), range.Min);
    EXPECT_EQ(spin->MaxValue(), range.Max);
  }
}

TEST_F(SetupTest, NoHiddenWindowOfTheProgramRefusesTheEndOfTheSession) {
  GivenSettings("UseNTPServer=ntp.test\r\n");
  Start();
  auto windows = Platform.Windows();
  EXPECT_GE(windows.size(), 5u);  // socket control, check timer, simple timers, tray handler, application
  for (THandle w : windows) EXPECT_EQ(WindowSystem().Send(w, wmQueryEndSession, 0, 0), 1) << w;
}

TEST_F(SetupTest, TaskbarRestartAddsTheIconAgainFromStartUpOn) {
  GivenSettings("UseNTPServer=ntp.test\r\nBootUpdateTime=0\r\n");
  Start();  // nothing more: no menu opened, no dialog shown
  ASSERT_EQ(Tray.Icons.size(), 1u);
  Tray.RestartTaskbar();
  // The new task bar announces itself to every top-level window.
  uint32_t taskbarCreated = Platform.RegisterMessage("TaskbarCreated");
  for (THandle w : Platform.Windows()) Platform.Send(w, taskbarCreated, 0, 0);
  ASSERT_EQ(Tray.Icons.size(), 1u);
  EXPECT_STREQ(Tray.Icons.begin()->second.szTip, "Kairotsu");
  EXPECT_NE(Tray.Icons.begin()->second.hIcon, 0u);
}

TEST_F(SetupTest, DialogSavedOffScreenOpensWhereItCanBeSeen) {
  // Work areas: the main monitor less a task bar, and a second one to its right.
  Platform.WorkAreas = {{0, 0, 1280, 984}, {1280, 0, 2560, 1024}};
  struct Case {
    int Left, Top, ExpectLeft, ExpectTop;
  };
  for (const Case& c : {Case{5000, 5000, 2560 - 240, 1024 - 246},  // beyond the second monitor
                        Case{-3000, -2000, 0, 0},                  // a monitor that was removed
                        Case{1000, 900, 1000, 984 - 246},          // partly under the task bar
                        Case{100, 200, 100, 200},                  // on screen: stays
                        Case{1500, 300, 1500, 300}}) {             // on the second monitor: stays
    SCOPED_TRACE(std::to_string(c.Left) + "," + std::to_string(c.Top));
    // No server: the dialog opens at start.
    GivenSettings("SetupTop=" + std::to_string(c.Top) + "\r\nSetupLeft=" + std::to_string(c.Left) + "\r\n");
    Start();
    ASSERT_TRUE(Form->Visible());
    EXPECT_EQ(Form->Left(), c.ExpectLeft);
    EXPECT_EQ(Form->Top(), c.ExpectTop);
    // Opened again from the menu after Cancel has loaded the saved place again.
    Form->CancelButtonClick(nullptr);
    Form->AppSetupExecute(nullptr);
    EXPECT_EQ(Form->Left(), c.ExpectLeft);
    EXPECT_EQ(Form->Top(), c.ExpectTop);
    Form.reset();
  }
}

TEST_F(SetupTest, OkAddsANewServerFirstAndCancelRestores) {
  WriteBytes(Dir / "NTP.lst", "a.test\r\nb.test\r\n");
  GivenSettings("UseNTPServer=a.test\r\nOffsetSec=5\r\n");
  Start();
  Form->UseNTPServer->SetText("A.TEST");
  Form->OkButtonClick(nullptr);
  EXPECT_EQ(ReadBytes(Dir / "NTP.lst"), "a.test\r\nb.test\r\n");
  Form->UseNTPServer->SetText("new.test");
  Form->UpdateTime->SetText("45");
  Form->Show();
  Form->OkButtonClick(nullptr);
  EXPECT_FALSE(Form->Visible());
  EXPECT_EQ(ReadBytes(Dir / "NTP.lst"), "new.test\r\na.test\r\nb.test\r\n");
  EXPECT_EQ(Form->CheckTimer->Interval(), 45u * 60000u);
  Form->OffsetSec->SetText("44");
  Form->CancelButtonClick(nullptr);
  EXPECT_EQ(Form->OffsetSec->Text(), "5");
  EXPECT_EQ(Form->ServerList->Items().front(), "new.test");
}

TEST_F(SetupTest, ListClickCopiesAndDoubleClickSendsAtOnceEvenInAGuardedMinute) {
  WriteBytes(Dir / "NTP.lst", "a.test\r\nntp.test\r\n");
  GivenSettings("UseNTPServer=a.test\r\nCheckTiming=1\r\n");
  SetLocalMinute(29);
  Start();
  Form->ServerList->SetItemIndex(1);
  Form->ServerListClick(nullptr);
  EXPECT_EQ(Form->UseNTPServer->Text(), "ntp.test");
  Form->ServerListDblClick(nullptr);
  EXPECT_EQ(Requests().size(), 1u);
  EXPECT_FALSE(Form->Cycle().Deferred());
}

TEST_F(SetupTest, MenuCommandsOpenHelpWebAndAbout) {
  Start();
  ASSERT_EQ(Form->RMenu->Items().Count(), 7);
  EXPECT_EQ(Form->RMenu->Items().Items(0)->Caption(), "環境オプション(&O)...");
  EXPECT_TRUE(Form->RMenu->Items().Items(1)->IsLine());
  EXPECT_EQ(Form->RMenu->Items().Items(6)->Caption(), "Kairotsu終了(&X)");
  EXPECT_EQ(Form->MenuImages->Count(), 5);
  Form->HelpItem->Click();
  Form->WebItem->Click();
  ASSERT_EQ(Sys.Opened.size(), 2u);
  EXPECT_EQ(Sys.Opened[0].second, (Dir / "Kairotsu.pdf").string());
  EXPECT_EQ(Sys.Opened[1].second, kWebAddress);
  Sys.Strings["\\StringFileInfo\\041104B0\\FileVersion"] = "1.0.0.0";
  Form->AboutItem->Click();
  ASSERT_EQ(Platform.MessageBoxes.size(), 1u);
  EXPECT_EQ(Platform.MessageBoxes[0].Text, String(kAuthorNotice) + "\r\n\r\nFileVersion : 1.0.0.0");
  EXPECT_EQ(Platform.MessageBoxes[0].Flags, mbOk | mbIconInformation);
  Form->SettingsItem->Click();
  EXPECT_TRUE(Form->Visible());
}

TEST_F(SetupTest, HelpTheShellCannotOpenIsSaidWithTheFileAndTheReason) {
  Start();
  const String file = (Dir / "Kairotsu.pdf").string();
  struct Case {
    intptr_t Result;     // the shell's answer
    const char* Reason;  // nullptr: opened, no box
  };
  for (const Case& c : {Case{2, "ファイルが見つかりません。"}, Case{3, "ファイルが見つかりません。"},
                        Case{31, "PDFファイルを開くプログラムが登録されていません。"},
                        Case{27, "PDFファイルを開くプログラムが登録されていません。"},
                        Case{5, "ファイルを開く権限がありません。"},
                        Case{32, "シェルがファイルを開けませんでした (エラー 32)。"},
                        Case{0, "シェルがファイルを開けませんでした (エラー 0)。"}, Case{33, nullptr}}) {
    SCOPED_TRACE(c.Result);
    Platform.MessageBoxes.clear();
    Sys.OpenResult = c.Result;
    Form->HelpItem->Click();
    EXPECT_EQ(Sys.Opened.back().second, file);
    if (!c.Reason) {
      EXPECT_TRUE(Platform.MessageBoxes.empty());
      continue;
    }
    ASSERT_EQ(Platform.MessageBoxes.size(), 1u);
    EXPECT_EQ(Platform.MessageBoxes[0].Text, "ヘルプファイルを開けません。\r\n" + file + "\r\n" + c.Reason);
    EXPECT_EQ(Platform.MessageBoxes[0].Flags, mbOk | mbIconWarning);
  }
}

}  // namespace

TEST_F(SetupTest, EveryAttemptLeavesOneLineInTheHistory) {
  GivenSettings("UseNTPServer=ntp.test\r\nOffsetSec=30\r\nOffsetMin=90\r\nUpdateTime=10\r\n");
  Start();
  Platform.Advance(10000);  // 09:10:10 local: first cycle, answered
  Reply(EncodeDate(2024, 1, 1));
  Platform.Advance(600000);  // 09:20:10: unanswered
  Platform.Advance(600000);  // 09:30:10: the previous request is recorded as unanswered
  Form->SNTPC->OnError(Form->SNTPC, 5, 10054, "WinSock Error (10054): Connection reset by peer, on API 'Fd_Read'");
  Platform.RefuseClockSetting = true;
  Platform.Advance(600000);  // 09:40:10
  // (the fake clock stands a millisecond short of the minute here)
  const String now = FormatLogTime("yyyy.mm.dd hh:nn:ss", Platform.GetLocalTime());
  Reply(EncodeDate(2024, 1, 1));
  EXPECT_EQ(ReadBytes(Dir / "Kairotsu.log"),
            // JST 09:00:00 + 1:30:30 set at 09:10:10 local: 1:20:20 ahead
            "2024.01.01 09:10:10 ntp.test: set, offset +4820000 ms, delay 0 ms\r\n"
            "2024.01.01 09:30:10 ntp.test: no reply, request sent 09:20:10\r\n"
            "2024.01.01 09:30:10 ntp.test: no reply, WinSock Error (10054): Connection reset by peer, on API "
            "'Fd_Read'\r\n" +
                now + " ntp.test: not set, " + Platform.SystemErrorText(1314) + "\r\n");
}
