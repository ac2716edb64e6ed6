#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/FakePlatform.h"
#include "settings/AutoIni.h"
#include "settings/FileOps.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"

namespace fs = std::filesystem;

namespace {

const char kExample[] =
    "[pcuser]\r\nSetupTop=120\r\nSetupLeft=340\r\nServerList=3\r\nOffsetSec=15\r\nOffsetMin=5\r\n"
    "UpdateTime=30\r\nBootUpdateTime=1\r\nUseNTPServer=192.0.2.1\r\nCheckTiming=0\r\n";

// The settings dialog's model, its controls in the order of its resource.
struct SetupForm {
  TForm Form{nullptr};
  TListBox* ServerList;
  TSpinEdit *OffsetSec, *OffsetMin, *UpdateTime;
  TCheckBox *BootUpdateTime, *CheckTiming;
  TEdit* UseNTPServer;
  TAutoIni* AutoIni;

  SetupForm() {
    Form.SetName("Setup");
    AutoIni = Form.Make<TAutoIni>();
    AutoIni->SetName("AutoIni");
    AutoIni->SetCheckWinState(true);
    for (int i = 1; i <= 7; ++i) Form.AddControl<TLabel>("Label" + std::to_string(i));
    ServerList = Form.AddControl<TListBox>("ServerList");
    OffsetSec = Form.AddControl<TSpinEdit>("OffsetSec");
    OffsetMin = Form.AddControl<TSpinEdit>("OffsetMin");
    Form.AddControl<TButton>("Button1");
    Form.AddControl<TButton>("Button2");
    UpdateTime = Form.AddControl<TSpinEdit>("UpdateTime");
    BootUpdateTime = Form.AddControl<TCheckBox>("BootUpdateTime");
    UseNTPServer = Form.AddControl<TEdit>("UseNTPServer");
    CheckTiming = Form.AddControl<TCheckBox>("CheckTiming");
    ServerList->SetItems({"a", "b", "c", "d", "e"});
    UpdateTime->SetText("30");
    BootUpdateTime->SetChecked(true);
  }
  void SetExampleValues() {
    Form.SetBounds(340, 120, 246, 270);
    ServerList->SetItemIndex(3);
    OffsetSec->SetText("15");
    OffsetMin->SetText("5");
    UseNTPServer->SetText("192.0.2.1");
  }
};

class AutoIniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("kairotsu-autoini-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir / "win");
    PathOverrides().ExecutableFileName = (Dir / "Kairotsu.exe").string();
    PathOverrides().WindowsDirectory = (Dir / "win").string() + "/";
    App.SetTitle("Kairotsu");
  }
  void TearDown() override {
    PathOverrides() = {};
    fs::remove_all(Dir);
  }
  String IniPath() const { return (Dir / "Kairotsu.ini").string(); }
  String Read(const String& path) const {
    String bytes;
    ReadWholeFile(path, bytes);
    return bytes;
  }
  void Write(const String& bytes) { std::ofstream(IniPath(), std::ios::binary) << bytes; }

  TFakePlatform Platform;
  TApplication App;
  fs::path Dir;
};

}  // namespace

TEST_F(AutoIniTest, FirstSaveWritesTheExampleFileByteForByte) {
  SetupForm s;
  s.SetExampleValues();
  s.AutoIni->SetSection("pcuser");
  s.AutoIni->SaveSettings();
  EXPECT_EQ(Read(IniPath()), kExample);
  EXPECT_TRUE(Platform.MessageBoxes.empty());
}

TEST_F(AutoIniTest, LaterSaveRewritesInPlaceAndLeavesOtherUsersAlone) {
  const String before = "[alice]\r\nSetupTop=1\r\nSetupLeft=2\r\nOffsetSec=59\r\n\r\n";
  const String after = "\r\n[bob]\nServerList=0\n";
  Write(before + kExample + after);
  SetupForm s;
  s.SetExampleValues();
  s.Form.SetTop(0);
  s.OffsetSec->SetText("7");
  s.UseNTPServer->SetText("ntp.example");
  s.CheckTiming->SetChecked(true);
  s.AutoIni->SetSection("PCUSER");  // sections match in any letter case
  s.AutoIni->SaveSettings();
  String expected = kExample;
  for (auto [from, to] : {std::pair{"SetupTop=120", "SetupTop=0"},
                          {"OffsetSec=15", "OffsetSec=7"},
                          {"192.0.2.1", "ntp.example"},
                          {"CheckTiming=0", "CheckTiming=1"}})
    expected.replace(expected.find(from), strlen(from), to);
  EXPECT_EQ(Read(IniPath()), before + expected + after);
}

TEST_F(AutoIniTest, LoadAppliesValuesWithTheEdgeCaseEncodings) {
  Write("[u]\r\nSetupTop=-5\r\nSetupLeft=0x20\r\nServerList=abc\r\nOffsetSec=42\r\nBootUpdateTime=5\r\n");
  SetupForm s;
  s.AutoIni->SetSection("u");
  s.ServerList->SetItemIndex(1);
  s.BootUpdateTime->SetChecked(false);
  s.CheckTiming->SetChecked(true);
  s.AutoIni->LoadSettings();
  EXPECT_EQ(s.Form.Top(), -5);
  EXPECT_EQ(s.Form.Left(), 32);
  EXPECT_EQ(s.ServerList->ItemIndex(), 1);  // "abc": the current index stays
  EXPECT_EQ(s.OffsetSec->Text(), "42");
  EXPECT_EQ(s.OffsetMin->Text(), "0");       // missing: unchanged
  EXPECT_TRUE(s.BootUpdateTime->Checked());  // any non-zero value is true
  EXPECT_TRUE(s.CheckTiming->Checked());

  Write("[u]\r\nServerList=0x2\r\nBootUpdateTime=0\r\n");
  s.AutoIni->LoadSettings();
  EXPECT_EQ(s.ServerList->ItemIndex(), 2);
  EXPECT_FALSE(s.BootUpdateTime->Checked());
}

TEST_F(AutoIniTest, MissingSectionLeavesControlsAndMovesTheFormToTheCorner) {
  Write("[someoneelse]\r\nSetupTop=9\r\n");
  SetupForm s;
  s.SetExampleValues();
  s.AutoIni->SetSection("pcuser");
  s.AutoIni->LoadSettings();
  EXPECT_EQ(s.Form.Left(), 0);
  EXPECT_EQ(s.Form.Top(), 0);
  EXPECT_EQ(s.ServerList->ItemIndex(), 3);
  EXPECT_EQ(s.UseNTPServer->Text(), "192.0.2.1");
  EXPECT_EQ(s.UpdateTime->Text(), "30");
  EXPECT_EQ(Read(IniPath()), "[someoneelse]\r\nSetupTop=9\r\n");  // loading writes nothing
}

TEST_F(AutoIniTest, ResolvesSectionAndPath) {
  SetupForm s;
  EXPECT_EQ(s.AutoIni->ResolveIniPath(), IniPath());
  EXPECT_EQ(s.AutoIni->Section(), "Kairotsu.exe");
  s.AutoIni->SaveSettings();
  EXPECT_EQ(Read(IniPath()).substr(0, 16), "[Kairotsu.exe]\r\n");

  s.AutoIni->SetAIniFileName("other.ini");
  EXPECT_EQ(s.AutoIni->ResolveIniPath(), (Dir / "other.ini").string());
  s.AutoIni->SetMakeIniWinDir(true);
  EXPECT_EQ(s.AutoIni->ResolveIniPath(), "other.ini");
  s.AutoIni->SaveSettings();
  EXPECT_TRUE(fs::exists(Dir / "win" / "other.ini"));
  EXPECT_FALSE(fs::exists(Dir / "other.ini"));
}

TEST_F(AutoIniTest, WindowSizeOnlyWithWindowStateAndInItsOwnSpelling) {
  SetupForm s;
  s.Form.SetBounds(1, 2, 300, 200);
  s.AutoIni->SetSection("u");
  s.AutoIni->SetCheckControls({});
  s.AutoIni->SetCheckWinSize(true);
  s.AutoIni->SaveSettings();
  EXPECT_EQ(Read(IniPath()), "[u]\r\nSetupTop=2\r\nSetupLeft=1\r\nSetupheight=200\r\nSetupwidth=300\r\n");
  s.Form.SetBounds(5, 5, 10, 10);
  s.AutoIni->LoadSettings();
  EXPECT_EQ(s.Form.Width(), 300);
  EXPECT_EQ(s.Form.Height(), 200);

  fs::remove(IniPath());
  s.AutoIni->SetCheckWinState(false);
  s.Form.SetLeft(5);
  s.AutoIni->SaveSettings();
  EXPECT_FALSE(fs::exists(IniPath()));  // nothing selected, nothing written
  s.AutoIni->LoadSettings();
  EXPECT_EQ(s.Form.Left(), 5);
}

TEST_F(AutoIniTest, WalksUnwindowedChildrenFirstThenWindowedInInsertionOrder) {
  TForm form(nullptr);
  form.SetName("F");
  auto* ini = form.Make<TAutoIni>();
  ini->SetSection("s");
  form.AddControl<TEdit>("E1");
  auto* panel = form.AddControl<TPanel>("Panel");
  form.AddControl<TShape>("Shape1");
  form.AddControl<TEdit>("E2", 0)->SetParent(panel);
  form.AddControl<TCheckBox>("C1");
  form.AddControl<TShape>("Shape2", 0)->SetParent(panel);
  form.AddControl<TLabel>("L");
  form.AddControl<TButton>("B");
  form.AddControl<THotKey>("H");
  form.AddControl<TRadioButton>("R");
  form.AddControl<TComboBox>("Combo");
  form.AddControl<TRadioGroup>("Group");
  ini->SaveSettings();
  EXPECT_EQ(
      Read(IniPath()),
      "[s]\r\nShape1=16777215\r\nE1=\r\nShape2=16777215\r\nE2=\r\nC1=0\r\nH=0\r\nR=0\r\nCombo=-1\r\nGroup=-1\r\n");
}

TEST_F(AutoIniTest, CheckTagStoresOnlyMatchingTagsButWalksIntoAnyPanel) {
  TForm form(nullptr);
  form.SetName("F");
  auto* ini = form.Make<TAutoIni>();
  ini->SetSection("s");
  ini->SetCheckTag(true);
  ini->SetEnableTag(3);
  form.AddControl<TEdit>("Off")->SetTag(0);
  form.AddControl<TEdit>("On")->SetTag(3);
  auto* panel = form.AddControl<TPanel>("Panel");
  panel->SetTag(0);
  auto* inner = form.AddControl<TCheckBox>(panel, "Inner");
  inner->SetTag(3);
  form.AddControl<TCheckBox>(panel, "InnerOff")->SetTag(1);
  // A spin edit with another tag is skipped as a whole, its button too.
  form.AddControl<TSpinEdit>("Spin")->SetTag(1);
  ini->SaveSettings();
  EXPECT_EQ(Read(IniPath()), "[s]\r\nOn=\r\nInner=0\r\n");
}

TEST_F(AutoIniTest, EditKindOffSkipsEditsAndWalksIntoSpinEditsWhoseButtonStoresNothing) {
  SetupForm s;
  s.SetExampleValues();
  s.AutoIni->SetSection("pcuser");
  TCheckControls kinds = s.AutoIni->CheckControls();
  EXPECT_EQ(kinds.Bits(), 255);
  kinds.Exclude(ccEdit);
  s.AutoIni->SetCheckControls(kinds);
  s.AutoIni->SaveSettings();
  EXPECT_EQ(Read(IniPath()),
            "[pcuser]\r\nSetupTop=120\r\nSetupLeft=340\r\nServerList=3\r\nBootUpdateTime=1\r\nCheckTiming=0\r\n");
  ASSERT_NE(s.OffsetSec->Button(), nullptr);
  EXPECT_EQ(s.OffsetSec->ControlCount(), 1);
}

namespace {
// A window that only has a handle, to see what is posted to a control's window.
class HandlePeer final : public TControlPeer {
 public:
  uint16_t HotKeyValue = 0;
  THandle Handle() const override { return 0x4242; }
  String GetText() const override { return ""; }
  void SetText(const String&) override {}
  uint16_t GetHotKey() const override { return HotKeyValue; }
  void SetHotKey(uint16_t v) override { HotKeyValue = v; }
  void SetBounds(int, int, int, int) override {}
  void GetBounds(int& l, int& t, int& w, int& h) const override { l = t = w = h = 0; }
  void SetVisible(bool) override {}
  void SetEnabled(bool) override {}
};
}  // namespace

TEST_F(AutoIniTest, HotKeyInThePageKeyRangeGetsAKeyPressPosted) {
  TForm form(nullptr);
  auto* ini = form.Make<TAutoIni>();
  ini->SetSection("s");
  auto* hot = form.AddControl<THotKey>("Hot");
  hot->AttachPeer(std::make_unique<HandlePeer>());
  Write("[s]\r\nHot=0x621\r\n");  // Ctrl+Shift+PageUp: modifier bits count, no key press
  ini->LoadSettings();
  EXPECT_EQ(hot->HotKey(), 0x621);
  EXPECT_TRUE(Platform.ForeignPosts.empty());
  Write("[s]\r\nHot=33\r\n");  // PageUp
  ini->LoadSettings();
  ASSERT_EQ(Platform.ForeignPosts.size(), 2u);
  EXPECT_EQ(Platform.ForeignPosts[0].Msg, 0x0100u);
  EXPECT_EQ(Platform.ForeignPosts[1].Msg, 0x0101u);
  for (auto& p : Platform.ForeignPosts) {
    EXPECT_EQ(p.Wnd, 0x4242u);
    EXPECT_EQ(p.WParam, 0x21u);
    EXPECT_EQ(p.LParam, 0x01480001);
  }
  Write("[s]\r\nHot=0x30\r\n");
  ini->LoadSettings();
  EXPECT_EQ(Platform.ForeignPosts.size(), 2u);
}

TEST_F(AutoIniTest, FailuresAreShownThenRaisedAgain) {
  TComponent notAForm(nullptr);
  auto* ini = notAForm.Make<TAutoIni>();
  ini->SetSection("s");
  ini->SetCheckWinState(true);
  EXPECT_THROW(ini->SaveSettings(), EInvalidCast);
  EXPECT_THROW(ini->LoadSettings(), EInvalidCast);
  ini->SetCheckWinState(false);  // still no windowed control to walk
  EXPECT_THROW(ini->LoadSettings(), EInvalidCast);
  ASSERT_EQ(Platform.MessageBoxes.size(), 3u);
  EXPECT_EQ(Platform.MessageBoxes[0].Text, "Can not save to IniFile");
  EXPECT_EQ(Platform.MessageBoxes[1].Text, "Can not load from IniFile");
  EXPECT_EQ(Platform.MessageBoxes[0].Caption, "Kairotsu");
  EXPECT_EQ(Platform.MessageBoxes[0].Flags, mbOk);

  Platform.MessageBoxes.clear();
  SetupForm s;
  s.AutoIni->SetSection("pcuser");
  Write(kExample);
  fs::permissions(IniPath(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  try {
    s.AutoIni->SaveSettings();
    FAIL() << "no exception";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(e.Message(), IniPath() + " \x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1");
  }
  ASSERT_EQ(Platform.MessageBoxes.size(), 1u);
  EXPECT_EQ(Platform.MessageBoxes[0].Text, "Can not save to IniFile");
  EXPECT_EQ(Read(IniPath()), kExample);
  s.AutoIni->LoadSettings();  // reading a read-only file works
  EXPECT_EQ(s.Form.Left(), 340);
}

TEST_F(AutoIniTest, FailureTextGoesWhereTheProgramSaysInsteadOfABox) {
  SetupForm s;
  s.AutoIni->SetSection("pcuser");
  Write(kExample);
  fs::permissions(IniPath(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  std::vector<String> said;
  s.AutoIni->OnFailure = [&](const String& text) { said.push_back(text); };
  EXPECT_THROW(s.AutoIni->SaveSettings(), EIniFileError);  // still raised to the caller
  EXPECT_EQ(said, (std::vector<String>{"Can not save to IniFile"}));
  EXPECT_TRUE(Platform.MessageBoxes.empty());
}
