#include "dialog/config_dialog.h"

namespace {

using namespace dlg;

constexpr uint32_t kChild = kWsChild | kWsVisible;
constexpr uint32_t kCheckBox = kChild | kBsAutoCheckBox | kWsTabStop;
constexpr uint32_t kRadio = kChild | kBsAutoRadioButton;
constexpr uint32_t kGroupBox = kChild | kBsGroupBox | kBsFlat;
constexpr uint32_t kDropList = kChild | kCbsDropDownList | kWsVScroll | kCbsDisableNoScroll | kWsTabStop;
constexpr uint32_t kLabel = kChild | kSsLeft | kWsGroup;
constexpr auto B = ControlClass::Button;
constexpr auto C = ControlClass::ComboBox;
constexpr auto S = ControlClass::Static;

// Template order is the tab order and decides the automatic radio groups:
// a group runs from a kWsGroup control to the next one. So the five display
// buttons form one group, as do 601/709 and NTSC/PAL, while "16-235" falls
// into the first group and "0-255" stands alone; the procedure sets both
// buttons of every two-way choice itself.
// clang-format off
constexpr ControlTemplate kControls[] = {
    // id           class text                         x    y    w    h  style, extended style
    {kIdAccum,       B, "Accumulate across frames",  59, 212,  99,  10, kCheckBox, 0},
    {kIdOk,          B, "OK",                        62, 280,  50,  14, kChild | kBsDefPushButton | kWsTabStop, 0},
    {kIdCancel,      B, "Cancel",                   144, 280,  50,  14, kChild | kBsPushButton | kWsTabStop, 0},
    {kIdRange235,    B, "16-235",                    97,  71,  44,  14, kRadio, 0},
    {kIdRange255,    B, "0-255",                     31,  71,  36,  12, kRadio | kWsGroup, 0},
    {kIdStdDef,      B, "Std Def (601)",             31,  56,  62,  14, kRadio | kWsGroup, 0},
    {kIdHighDef,     B, "High Def (709)",            97,  57,  69,  12, kRadio, 0},
    {kIdSourceBox,   B, "Source Attributes",         17,  32, 168,  69, kGroupBox, kWsExTransparent},
    {kIdVideo,       B, "Video",                     28, 145,  63,  12, kRadio | kWsGroup, kWsExTransparent},
    {kIdWaveform,    B, "Wave Form Monitor",         28, 178,  86,  12, kRadio, kWsExTransparent},
    {kIdHistograms,  B, "Histograms",                28, 200,  50,  12, kRadio, kWsExTransparent},
    {kIdHotPixel,    B, "Hot Pixel Scan",            28, 223,  63,  12, kRadio, kWsExTransparent},
    {kIdVectorscope, B, "Vectorscope",               28, 161,  63,  12, kRadio, kWsExTransparent},
    {kIdNtsc,        B, "NTSC",                      31,  85,  38,  14, kRadio | kWsGroup, 0},
    {kIdPal,         B, "PAL",                       97,  85,  29,  14, kRadio, 0},
    {kIdViewBox,     B, "View",                      17, 135, 168, 135, kGroupBox, kWsExTransparent},
    {kIdGamma,       B, "Gamma Corrected",           31,  43,  73,  12, kCheckBox | kWsDisabled | kBsMultiLine | kBsTop, 0},
    {kIdRed,         B, "Red",                       30, 114,  33,  10, kCheckBox, 0},
    {kIdGreen,       B, "Green",                     63, 114,  33,  10, kCheckBox, 0},
    {kIdBlue,        B, "Blue",                     102, 114,  33,  10, kCheckBox, 0},
    {kIdLuma,        B, "Luma",                     138, 114,  33,  10, kCheckBox, 0},
    {kIdHotFixList,  C, "",                          91, 235,  71,  53, kDropList, 0},
    {kIdMaxIreList,  C, "",                          91, 248,  36,  53, kDropList | kCbsSort, 0},
    {kNoId,          S, "Change:",                   58, 237,  28,   8, kLabel, kWsExRight},
    {kNoId,          S, "Max IRE:",                  45, 251,  41,   8, kLabel, kWsExRight},
    {kIdChannelsBox, B, "Channels",                  17, 104, 167,  27, kGroupBox, kWsExTransparent},
    {kIdWfmGrid,     B, "Show Grid",                 60, 190,  49,  10, kCheckBox, 0},
    {kIdPassthru,    B, "Passthru",                  20,  13, 123,  10, kCheckBox, 0},
};
// clang-format on

// List texts in item order: the item index is the setting (hotFix), or
// (maxIRE - 100) / 10. "Intenstiy" is the list's established spelling.
constexpr const char* kHotFixNames[kHotFixCount] = {"To Black", "Intenstiy", "Saturation"};
constexpr int32_t kMaxIreItems = 3;
constexpr const char* kMaxIreNames[kMaxIreItems] = {"100", "110", "120"};
constexpr int32_t kMaxIreBase = 100;  // item 0
constexpr int32_t kMaxIreStep = 10;   // IRE per item

struct CheckBoxSetting {
    int32_t id;
    uint8_t ScopeSettings::*field;
};
// In the order OK reads them.
constexpr CheckBoxSetting kCheckBoxes[] = {
    {kIdPassthru, &ScopeSettings::passthru}, {kIdAccum, &ScopeSettings::accum},
    {kIdGamma, &ScopeSettings::gamma},       {kIdWfmGrid, &ScopeSettings::wfmGrid},
    {kIdRed, &ScopeSettings::red},           {kIdGreen, &ScopeSettings::green},
    {kIdBlue, &ScopeSettings::blue},         {kIdLuma, &ScopeSettings::luma},
};

struct DisplayButton {
    int32_t id;
    DisplayMode mode;
};
// In the order the dialog sets them at start.
constexpr DisplayButton kDisplayButtons[] = {
    {kIdHistograms, DisplayMode::Histograms},
    {kIdHotPixel, DisplayMode::HotPixel},
    {kIdVideo, DisplayMode::Video},
    {kIdWaveform, DisplayMode::Waveform},
    {kIdVectorscope, DisplayMode::Vectorscope},
};

// A two-way choice: two radio buttons for one switch, in different groups
// or not, always set together.
struct TwoWay {
    int32_t onId, offId;
    uint8_t ScopeSettings::*field;
};
constexpr TwoWay kNtsc = {kIdNtsc, kIdPal, &ScopeSettings::ntsc};
constexpr TwoWay kStdDef = {kIdStdDef, kIdHighDef, &ScopeSettings::stdDef};
constexpr TwoWay kRange = {kIdRange255, kIdRange235, &ScopeSettings::rng255};

void showTwoWay(DialogOps& d, const TwoWay& t, bool on) {
    d.check(t.onId, on);
    d.check(t.offId, !on);
}

void initDialog(DialogOps& d, ScopeSettings& s) {
    d.check(kIdPassthru, s.passthru != 0);
    for (const DisplayButton& b : kDisplayButtons) d.check(b.id, s.mode == static_cast<int32_t>(b.mode));
    d.check(kIdAccum, s.accum != 0);
    d.check(kIdWfmGrid, s.wfmGrid != 0);
    showTwoWay(d, kNtsc, s.ntsc != 0);
    showTwoWay(d, kStdDef, s.stdDef != 0);
    showTwoWay(d, kRange, s.rng255 != 0);
    d.check(kIdRed, s.red != 0);
    d.check(kIdGreen, s.green != 0);
    d.check(kIdBlue, s.blue != 0);
    d.check(kIdLuma, s.luma != 0);
    for (const char* name : kHotFixNames) d.addListItem(kIdHotFixList, name);
    d.selectListItem(kIdHotFixList, s.hotFix);
    for (const char* name : kMaxIreNames) d.addListItem(kIdMaxIreList, name);
    // Cut towards zero: 105 shows "100", 90 shows nothing (item 0 only from 91 up).
    d.selectListItem(kIdMaxIreList, static_cast<int32_t>((int64_t{s.maxIRE} - kMaxIreBase) / kMaxIreStep));
    d.check(kIdGamma, s.gamma != 0);
}

void command(DialogOps& d, ScopeSettings& s, int32_t id, uint16_t notification) {
    if (id == kIdOk) {
        for (const CheckBoxSetting& c : kCheckBoxes) s.*c.field = d.isChecked(c.id) ? 1 : 0;
        d.endDialog(kDialogOk);
        return;
    }
    if (id == kIdCancel) {
        d.endDialog(kDialogCancel);
        return;
    }
    if (id == kIdHotFixList) {
        if (notification == kCbnSelChange) s.hotFix = d.selectedListItem(kIdHotFixList);
        return;
    }
    if (id == kIdMaxIreList) {
        const int32_t item = d.selectedListItem(kIdMaxIreList);
        if (notification == kCbnSelChange && item >= 0 && item < kMaxIreItems)
            s.maxIRE = kMaxIreBase + kMaxIreStep * item;
        return;
    }
    for (const TwoWay* t : {&kRange, &kStdDef, &kNtsc}) {
        if (id == t->onId || id == t->offId) {
            const bool on = id == t->onId;
            s.*t->field = on ? 1 : 0;
            showTwoWay(d, *t, on);
            return;
        }
    }
    for (const DisplayButton& b : kDisplayButtons) {
        if (id == b.id) {
            s.mode = static_cast<int32_t>(b.mode);
            d.check(b.id, true);  // the automatic group unchecks the others
            return;
        }
    }
}

}  // namespace

const DialogTemplate kConfigDialog = {
    "Filter: Kivrel",
    0,
    0,
    201,
    301,
    kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsCenter | kDsSetFont,
    "MS Sans Serif",
    8,
    kControls,
};

ControlKind kindOf(const ControlTemplate& c) {
    switch (c.cls) {
    case ControlClass::ComboBox: return ControlKind::DropList;
    case ControlClass::Static: return ControlKind::Label;
    case ControlClass::Button: break;
    }
    switch (c.style & kBsKindMask) {
    case kBsDefPushButton: return ControlKind::DefaultButton;
    case kBsAutoCheckBox: return ControlKind::CheckBox;
    case kBsAutoRadioButton: return ControlKind::RadioButton;
    case kBsGroupBox: return ControlKind::GroupBox;
    default: return ControlKind::PushButton;
    }
}

bool configDialogProc(DialogOps& dialog, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == kMsgInitDialog) {
        dialog.setUserData(lParam);
    } else if (message != kMsgCommand) {
        return false;
    }
    // Fetched at every message: the dialog keeps the only reference.
    auto* instance = reinterpret_cast<ScopeInstance*>(dialog.userData());
    if (instance == nullptr) return false;  // a command before the dialog was set up
    if (message == kMsgInitDialog) {
        initDialog(dialog, instance->settings);
        return true;  // focus goes to the first tab stop
    }
    command(dialog, instance->settings, static_cast<int32_t>(wParam & 0xFFFF),
            static_cast<uint16_t>((wParam >> 16) & 0xFFFF));
    return true;
}
