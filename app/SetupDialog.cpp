#include "app/SetupDialog.h"

#include "app/SyncSettings.h"
#include "app/resource.h"

namespace {

using K = TSetupControlKind;

// The rows stand in the order of the windows, which is the tab order of the focusable ones.
// A plain letter typed on a button moves the focus to the control after the label with that
// accelerator in this order, so "時間調整(&T)" stands right before the seconds.
// clang-format off
constexpr TSetupControl kControls[] = {
  // name             id                  kind         caption                              left top  w    h   tab focus
  {"ServerListLabel",         IDC_LABEL1,         K::Label,    "NTPサーバーリスト(&S)",              8,  56, 145, 12, -1, "ServerList", 0, 0, 0, false, false, false},
  {"SecondsLabel",         IDC_LABEL3,         K::Label,    "秒",                                 224, 28, 12,  12, -1, nullptr,      0, 0, 0, false, false, false},
  {"MinutesLabel",         IDC_LABEL4,         K::Label,    "分",                                 224, 52, 12,  12, -1, nullptr,      0, 0, 0, false, false, false},
  {"IntervalLabel",         IDC_LABEL5,         K::Label,    "更新間隔(&I)",                       160, 80, 72,  12, -1, nullptr,      0, 0, 0, false, false, false},
  {"IntervalMinutesLabel",         IDC_LABEL6,         K::Label,    "分",                                 224, 100, 12, 12, -1, nullptr,      0, 0, 0, false, false, false},
  {"ServerLabel",         IDC_LABEL7,         K::Label,    "NTPサーバー(&N)",                    8,   8, 100, 12, -1, "ServerList", 0, 0, 0, false, false, false},
  {"ServerList",     IDC_SERVERLIST,     K::ListBox,  "",                                   8,  72, 145, 88,  0, nullptr,      0, 0, 0, false, false, false},
  {"OffsetLabel",         IDC_LABEL2,         K::Label,    "時間調整(&T)",                       160, 8,  72,  12, -1, "OffsetSec",  0, 0, 0, false, false, false},
  {"OffsetSec",      IDC_OFFSETSEC,      K::SpinEdit, "0",                                  160, 24, 57, 21,  1, nullptr,      kOffsetSecRange.Min, kOffsetSecRange.Max, 2, false, false, false},
  {"OffsetMin",      IDC_OFFSETMIN,      K::SpinEdit, "0",                                  160, 48, 57, 21,  2, nullptr,      kOffsetMinRange.Min, kOffsetMinRange.Max, 4, false, false, false},
  {"OkButton",        IDC_BUTTON1,        K::Button,   "OK",                                 96, 216, 64, 20,  3, nullptr,      0, 0, 0, false, true, false},
  {"CancelButton",        IDC_BUTTON2,        K::Button,   "キャンセル",                         168, 216, 64, 20, 4, nullptr,      0, 0, 0, false, false, true},
  {"UpdateTime",     IDC_UPDATETIME,     K::SpinEdit, "30",                                 160, 96, 57, 21,  5, nullptr,      kUpdateTimeRange.Min, kUpdateTimeRange.Max, 4, false, false, false},
  {"BootUpdateTime", IDC_BOOTUPDATETIME, K::CheckBox, "起動時に時刻を更新する",             8, 168, 225, 17,  6, nullptr,      0, 0, 0, true, false, false},
  {"UseNTPServer",   IDC_USENTPSERVER,   K::Edit,     "",                                   8,  24, 145, 20,  7, nullptr,      0, 0, 0, false, false, false},
  {"CheckTiming",    IDC_CHECKTIMING,    K::CheckBox, "0分と30分近辺での同期を行なわない",  7, 192, 225, 17,  8, nullptr,      0, 0, 0, false, false, false},
};
// clang-format on

}  // namespace

std::span<const TSetupControl> SetupControls() { return kControls; }
