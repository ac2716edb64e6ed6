// What a form decides for its window: which event a command fires, Enter and Escape, label
// accelerators and the order of its children.
#include <gtest/gtest.h>

#include <vector>

#include "fakes/FakePlatform.h"
#include "toolkit/Forms.h"

namespace {

// A dialog like the settings dialog, with a record of the events its controls fire.
struct Dialog {
  TForm Form{nullptr};
  std::vector<String> Fired;
  TLabel *Server, *Offset, *Interval, *Plain;
  TListBox* List;
  TSpinEdit* Spin;
  TEdit* Edit;
  TCheckBox* Check;
  TButton *Ok, *Cancel;

  Dialog() {
    Server = Form.AddControl<TLabel>("Server", 201);
    Offset = Form.AddControl<TLabel>("Offset", 202);
    Interval = Form.AddControl<TLabel>("Interval", 203);
    Plain = Form.AddControl<TLabel>("Plain", 204);
    List = Form.AddControl<TListBox>("List", 210);
    Spin = Form.AddControl<TSpinEdit>("Spin", 211);
    Edit = Form.AddControl<TEdit>("Edit", 212);
    Check = Form.AddControl<TCheckBox>("Check", 213);
    Ok = Form.AddControl<TButton>("Ok", 301);  // ids other than idOk and idCancel
    Cancel = Form.AddControl<TButton>("Cancel", 302);
    Server->SetCaption("NTP&&A (&s)");
    Server->SetFocusControl(List);
    Offset->SetCaption("Offset (&T)");
    Offset->SetFocusControl(Spin);
    Interval->SetCaption("Interval (&I)");
    Plain->SetCaption("A && B");
    Ok->SetDefault(true);
    Cancel->SetCancel(true);
    Spin->SetMinValue(10);
    Spin->SetMaxValue(20);
    auto record = [this](const char* what) { return [this, what](TObject*) { Fired.push_back(what); }; };
    List->OnClick = record("List.Click");
    List->OnDblClick = record("List.DblClick");
    Edit->OnChange = record("Edit.Change");
    Spin->OnChange = record("Spin.Change");
    Check->OnClick = record("Check.Click");
    Ok->OnClick = record("Ok.Click");
    Cancel->OnClick = record("Cancel.Click");
  }
};

TEST(FormDecisions, EachCommandFiresTheEventOfItsControlAndCode) {
  struct Case {
    int Id;
    uint16_t Code;
    bool Taken;
    std::vector<String> Fired;
  };
  const Case cases[] = {
      {210, lbnSelChange, true, {"List.Click"}},
      {210, lbnDblClk, true, {"List.DblClick"}},
      {210, 3, true, {}},  // another list notification: nothing
      {212, enChange, true, {"Edit.Change"}},
      {211, enChange, true, {"Spin.Change"}},
      {212, enKillFocus, true, {}},
      {213, bnClicked, true, {"Check.Click"}},
      {301, bnClicked, true, {"Ok.Click"}},
      {302, bnClicked, true, {"Cancel.Click"}},
      {301, 5, true, {}},                     // a button notification other than a click
      {idOk, bnClicked, true, {"Ok.Click"}},  // Enter: the default button
      {idCancel, bnClicked, true, {"Cancel.Click"}},  // Escape: the cancel button
      {999, bnClicked, false, {}},
      {0, bnClicked, false, {}},  // id 0 is no control, although labels may carry none
      {201, bnClicked, true, {}},  // a label fires nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "id " << c.Id << " code " << c.Code);
    Dialog d;
    EXPECT_EQ(d.Form.Command(c.Id, c.Code), c.Taken);
    EXPECT_EQ(d.Fired, c.Fired);
  }
}

TEST(FormDecisions, ACheckBoxCommandKeepsTheStateTheWindowGaveIt) {
  Dialog d;
  d.Check->SetChecked(true);
  d.Form.Command(213, bnClicked);
  EXPECT_TRUE(d.Check->Checked());  // the window toggles an automatic check box itself
}

TEST(FormDecisions, ASpinEditLeftWithATextOutOfRangeIsBroughtIntoIt) {
  Dialog d;
  for (auto [typed, kept] : {std::pair{"25", "20"}, {"3", "10"}, {"x", "10"}, {"15", "15"}}) {
    d.Spin->SetText(typed);
    d.Form.Command(211, enKillFocus);
    EXPECT_EQ(d.Spin->Text(), kept) << typed;
  }
}

TEST(FormDecisions, EnterAndEscapeGoToTheDefaultAndCancelButtons) {
  struct Case {
    uint16_t Key;
    bool WithButtons;
    bool Taken;
    std::vector<String> Fired;
  };
  for (const Case& c : {Case{vkReturn, true, true, {"Ok.Click"}}, Case{vkEscape, true, true, {"Cancel.Click"}},
                        Case{vkReturn, false, false, {}}, Case{vkEscape, false, false, {}},
                        Case{'A', true, false, {}}}) {
    SCOPED_TRACE(testing::Message() << "key " << c.Key << (c.WithButtons ? "" : " without buttons"));
    Dialog d;
    if (!c.WithButtons) {
      d.Ok->SetDefault(false);
      d.Cancel->SetCancel(false);
    }
    EXPECT_EQ(d.Form.DialogKey(c.Key), c.Taken);
    EXPECT_EQ(d.Fired, c.Fired);
  }
}

TEST(FormDecisions, ALabelsAcceleratorNamesItsFocusControl) {
  Dialog d;
  struct Case {
    char Key;
    bool Taken;
    TWinControl* Target;
  };
  for (const Case& c : {Case{'s', true, d.List}, Case{'S', true, d.List}, Case{'t', true, d.Spin},
                        Case{'I', true, nullptr},    // a label without a focus control takes the key
                        Case{'A', false, nullptr},   // "&&A" is a plain ampersand and an A
                        Case{' ', false, nullptr},   // "A && B": no accelerator at all
                        Case{'x', false, nullptr}}) {
    SCOPED_TRACE(c.Key);
    TWinControl* target = d.Ok;
    EXPECT_EQ(d.Form.AcceleratorTarget(c.Key, target), c.Taken);
    EXPECT_EQ(target, c.Target);
  }
}

// A window of the given handle.
class HandlePeer : public TControlPeer {
 public:
  explicit HandlePeer(THandle h) : FHandle(h) {}
  THandle Handle() const override { return FHandle; }
  String GetText() const override { return ""; }
  void SetText(const String&) override {}
  void SetBounds(int, int, int, int) override {}
  void GetBounds(int& l, int& t, int& w, int& h) const override { l = t = w = h = 0; }
  void SetVisible(bool) override {}
  void SetEnabled(bool) override {}

 private:
  THandle FHandle;
};

TEST(FormDecisions, ChildrenTakeTheOrderOfTheirWindows) {
  TForm form(nullptr);
  auto* a = form.AddControl<TEdit>("A", 1);
  auto* panel = form.AddControl<TPanel>("Panel", 2);
  auto* b = form.AddControl<TButton>("B", 3);
  auto* unbound = form.AddControl<TLabel>("Unbound");
  auto* c = form.AddControl<TEdit>(panel, "C", 4);
  auto* e = form.AddControl<TEdit>(panel, "E", 5);
  a->AttachPeer(std::make_unique<HandlePeer>(10));
  panel->AttachPeer(std::make_unique<HandlePeer>(20));
  b->AttachPeer(std::make_unique<HandlePeer>(30));
  c->AttachPeer(std::make_unique<HandlePeer>(40));
  e->AttachPeer(std::make_unique<HandlePeer>(50));
  form.ApplyWindowOrder({30, 50, 99, 10, 40, 20});
  ASSERT_EQ(form.ControlCount(), 4);
  EXPECT_EQ(form.Controls(0), b);
  EXPECT_EQ(form.Controls(1), a);
  EXPECT_EQ(form.Controls(2), panel);
  EXPECT_EQ(form.Controls(3), unbound);  // no window: after those with one
  EXPECT_EQ(panel->Controls(0), e);
  EXPECT_EQ(panel->Controls(1), c);
}

}  // namespace
