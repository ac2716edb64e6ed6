#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "toolkit/Forms.h"

TEST(Controls, ChildrenKeepInsertionOrderAndLeaveTheirParentWhenFreed) {
  TForm form(nullptr);
  auto* a = form.AddControl<TEdit>("A");
  auto* panel = form.AddControl<TPanel>("Panel");
  auto* b = form.AddControl<TLabel>("B");
  EXPECT_FALSE(b->Windowed());
  EXPECT_TRUE(panel->Windowed());
  ASSERT_EQ(form.ControlCount(), 3);
  a->SetParent(panel);  // moves: last child of its new parent
  EXPECT_EQ(form.ControlCount(), 2);
  EXPECT_EQ(form.Controls(0), panel);
  EXPECT_EQ(panel->Controls(0), a);
  form.FreeOwned(a);
  EXPECT_EQ(panel->ControlCount(), 0);
  EXPECT_EQ(form.FindControl("b"), b);
  EXPECT_THROW(form.SetControlOrder({b}), Exception);
  form.SetControlOrder({b, panel});
  EXPECT_EQ(form.Controls(0), b);
}

TEST(Controls, SpinEditValueRangeAndItsChildButton) {
  TForm form(nullptr);
  auto* spin = form.AddControl<TSpinEdit>("Spin");
  ASSERT_NE(spin->Button(), nullptr);
  EXPECT_EQ(spin->ControlCount(), 1);
  EXPECT_TRUE(spin->Button()->Windowed());
  spin->SetMinValue(10);
  spin->SetMaxValue(1440);
  for (const char* text : {"abc", "", "-", "0x20", "$20", "1e3"}) {
    spin->SetText(text);
    EXPECT_EQ(spin->Value(), 10) << text;  // not a decimal number: the minimum
  }
  spin->SetText("5000");
  EXPECT_EQ(spin->Value(), 5000);  // out of range until the control is left
  spin->ClampText();
  EXPECT_EQ(spin->Text(), "1440");
  spin->Step(+1);
  EXPECT_EQ(spin->Text(), "1440");
  spin->SetText("3");
  spin->Step(-1);
  EXPECT_EQ(spin->Text(), "10");
}

TEST(Controls, ListSelectionFollowsItsItem) {
  TForm form(nullptr);
  auto* list = form.AddControl<TListBox>("List");
  list->SetItems({"a.example", "B.example"});
  list->SetItemIndex(1);
  list->InsertItem(0, "new");
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_EQ(list->Items()[0], "new");
  EXPECT_EQ(list->IndexOfItem("b.EXAMPLE"), 2);
  EXPECT_EQ(list->IndexOfItem("c"), -1);
  list->SetItemIndex(7);
  EXPECT_EQ(list->ItemIndex(), -1);
  list->SetItemIndex(0);
  list->SetItems({"x"});  // new items: no selection
  EXPECT_EQ(list->ItemIndex(), -1);
}

TEST(Controls, ClicksToggleCheckBoxesAndEndModalLoops) {
  TFakePlatform platform;
  TForm form(nullptr);
  auto* box = form.AddControl<TCheckBox>("Box");
  int clicks = 0;
  box->OnClick = [&](TObject* sender) {
    EXPECT_EQ(sender, box);
    ++clicks;
  };
  box->Click();
  EXPECT_TRUE(box->Checked());
  box->Click();
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(clicks, 2);

  auto* ok = form.AddControl<TButton>("OK");
  ok->SetModalResult(mrOk);
  // A click while the form runs modally ends the loop with the button's result.
  auto window = platform.CreateMessageWindow([&](TMessage&) { ok->Click(); });
  platform.Post(window->Handle(), wmUser, 0, 0);
  EXPECT_FALSE(form.Visible());
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_FALSE(form.Visible());
}

TEST(Controls, CloseAsksTheFormAndEndSessionGetsTheAnswer) {
  TForm form(nullptr);
  bool allow = false, closed = false;
  form.OnCloseQuery = [&](TObject*, bool& canClose) { canClose = allow; };
  form.OnClose = [&](TObject*) { closed = true; };
  form.Show();
  TMessage close{wmClose, 0, 0, 0};
  EXPECT_TRUE(form.Dispatch(close));
  EXPECT_TRUE(form.Visible());
  EXPECT_FALSE(closed);
  TMessage query{wmQueryEndSession, 0, 0, 0};
  form.Dispatch(query);
  EXPECT_EQ(query.Result, 0);
  allow = true;
  form.Dispatch(close);
  EXPECT_FALSE(form.Visible());
  EXPECT_TRUE(closed);
  // Messages of the application's own come to OnMessage first.
  form.OnMessage = [](TMessage& m) {
    m.Result = 7;
    return m.Msg == wmPowerBroadcast;
  };
  TMessage power{wmPowerBroadcast, 7, 0, 0};
  EXPECT_TRUE(form.Dispatch(power));
  EXPECT_EQ(power.Result, 7);
}

namespace {
// A window stand-in: what the model reads must come from it once attached.
class WindowPeer final : public TControlPeer {
 public:
  String Text = "from resource";
  bool Checked = false;
  THandle Handle() const override { return 0x77; }
  String GetText() const override { return Text; }
  void SetText(const String& t) override { Text = t; }
  bool GetChecked() const override { return Checked; }
  void SetChecked(bool c) override { Checked = c; }
  void SetBounds(int, int, int, int) override {}
  void GetBounds(int& l, int& t, int& w, int& h) const override { l = t = w = h = 1; }
  void SetVisible(bool) override {}
  void SetEnabled(bool) override {}
};
}  // namespace

TEST(Controls, AttachedWindowHoldsTheValues) {
  TForm form(nullptr);
  auto* box = form.AddControl<TCheckBox>("Box");
  box->SetChecked(true);
  box->SetCaption("model");
  auto peer = std::make_unique<WindowPeer>();
  WindowPeer* window = peer.get();
  box->AttachPeer(std::move(peer));
  EXPECT_TRUE(window->Checked);                // the model's state went to the window
  EXPECT_EQ(box->Caption(), "from resource");  // the resource's text came to the model
  window->Checked = false;                     // the user unticks it
  EXPECT_FALSE(box->Checked());
  window->Text = "typed";
  box->DetachPeer();
  EXPECT_EQ(box->Caption(), "typed");  // the last values stay with the model
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(box->Handle(), 0u);
}

namespace {
// An edit's window that keeps the length limit it was given.
class EditWindow final : public TControlPeer {
 public:
  int Limit = -1;
  THandle Handle() const override { return 0x78; }
  String GetText() const override { return "0"; }
  void SetText(const String&) override {}
  void SetMaxLength(int length) override { Limit = length; }
  void SetBounds(int, int, int, int) override {}
  void GetBounds(int& l, int& t, int& w, int& h) const override { l = t = w = h = 1; }
  void SetVisible(bool) override {}
  void SetEnabled(bool) override {}
};
}  // namespace

TEST(Controls, EditLengthLimitGoesToItsWindow) {
  TForm form(nullptr);
  for (TCustomEdit* edit : {static_cast<TCustomEdit*>(form.AddControl<TEdit>("Edit")),
                            static_cast<TCustomEdit*>(form.AddControl<TSpinEdit>("Spin"))}) {
    edit->SetMaxLength(2);  // before the window exists
    auto peer = std::make_unique<EditWindow>();
    EditWindow* window = peer.get();
    edit->AttachPeer(std::move(peer));
    EXPECT_EQ(window->Limit, 2) << edit->Name();
    edit->SetMaxLength(4);
    EXPECT_EQ(window->Limit, 4) << edit->Name();
    edit->SetMaxLength(0);  // no limit
    EXPECT_EQ(window->Limit, 0) << edit->Name();
  }
}

TEST(Controls, WindowIsFittedIntoAWorkArea) {
  struct Case {
    TRect Window, Area;
    int Left, Top;
  };
  const TRect screen{0, 0, 1280, 984};
  const TRect leftMonitor{-1920, -120, 0, 960};  // a monitor left of the main one, set higher
  for (const Case& c : {
           Case{{100, 200, 340, 446}, screen, 100, 200},                // inside: stays
           Case{{1200, 900, 1440, 1146}, screen, 1040, 738},            // over the right and bottom edges
           Case{{-500, -40, -260, 206}, screen, 0, 0},                  // over the left and top edges
           Case{{5000, 5000, 5240, 5246}, screen, 1040, 738},           // far off
           Case{{10, 10, 1510, 1110}, screen, 0, 0},                    // larger than the area
           Case{{-3000, -500, -2760, -254}, leftMonitor, -1920, -120},  // an area left of and above 0
       }) {
    TPoint at = FitIntoWorkArea(c.Window, c.Area);
    EXPECT_EQ(at.X, c.Left) << c.Window.Left << "," << c.Window.Top;
    EXPECT_EQ(at.Y, c.Top) << c.Window.Left << "," << c.Window.Top;
  }
}
