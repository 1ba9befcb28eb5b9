// A dialog as data: the template of a Windows dialog resource, written once
// so that the Windows build, our own dialog manager and the terminal form
// all work from the same controls, and the Windows tests can check the
// resource the system built against it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Style bits with the values the Windows headers give them, so the table
// below reads like the resource script and the Win32 build can assert that
// the two agree.
namespace dlg {
// Window styles.
inline constexpr uint32_t kWsPopup = 0x80000000;
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsDisabled = 0x08000000;
inline constexpr uint32_t kWsCaption = 0x00C00000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsSysMenu = 0x00080000;
inline constexpr uint32_t kWsGroup = 0x00020000;
inline constexpr uint32_t kWsTabStop = 0x00010000;
// Dialog styles.
inline constexpr uint32_t kDsSetFont = 0x0040;
inline constexpr uint32_t kDsModalFrame = 0x0080;
inline constexpr uint32_t kDsCenter = 0x0800;
// Button styles: the low four bits are the kind.
inline constexpr uint32_t kBsKindMask = 0x000F;
inline constexpr uint32_t kBsPushButton = 0x0000;
inline constexpr uint32_t kBsDefPushButton = 0x0001;
inline constexpr uint32_t kBsAutoCheckBox = 0x0003;
inline constexpr uint32_t kBsGroupBox = 0x0007;
inline constexpr uint32_t kBsAutoRadioButton = 0x0009;
inline constexpr uint32_t kBsTop = 0x0400;
inline constexpr uint32_t kBsMultiLine = 0x2000;
inline constexpr uint32_t kBsFlat = 0x8000;
// Combo box styles.
inline constexpr uint32_t kCbsDropDownList = 0x0003;
inline constexpr uint32_t kCbsSort = 0x0100;
inline constexpr uint32_t kCbsDisableNoScroll = 0x0800;
// Static styles.
inline constexpr uint32_t kSsLeft = 0x0000;
// Extended styles.
inline constexpr uint32_t kWsExTransparent = 0x00000020;
inline constexpr uint32_t kWsExRight = 0x00001000;

// The dialog messages a procedure handles, and the notifications it reads
// from the high word of a command's first parameter.
inline constexpr uint32_t kMsgInitDialog = 0x0110;
inline constexpr uint32_t kMsgCommand = 0x0111;
inline constexpr uint16_t kBnClicked = 0;
inline constexpr uint16_t kCbnSelChange = 1;
inline constexpr int32_t kIdOk = 1;
inline constexpr int32_t kIdCancel = 2;
inline constexpr int32_t kNoId = -1;  // a label nobody addresses

inline constexpr uintptr_t commandParam(int32_t id, uint16_t notification) {
    return (static_cast<uintptr_t>(notification) << 16) | (static_cast<uint32_t>(id) & 0xFFFF);
}
}  // namespace dlg

enum class ControlClass : uint8_t { Button, ComboBox, Static };

// What a control is to the user, from its class and style.
enum class ControlKind : uint8_t {
    PushButton,
    DefaultButton,
    CheckBox,
    RadioButton,
    GroupBox,
    DropList,
    Label
};

struct ControlTemplate {
    int32_t id;
    ControlClass cls;
    std::string_view text;
    int16_t x, y, w, h;  // dialog units; a drop-down list's h is its opened height
    uint32_t style;      // WS_CHILD | WS_VISIBLE included, as the control is created
    uint32_t exStyle;
};

struct DialogTemplate {
    std::string_view caption;
    int16_t x, y, w, h;  // dialog units
    uint32_t style;
    std::string_view font;
    int16_t pointSize;
    std::span<const ControlTemplate> controls;  // template order, which is also the tab order
};

ControlKind kindOf(const ControlTemplate& c);
inline bool startsGroup(const ControlTemplate& c) { return (c.style & dlg::kWsGroup) != 0; }
inline bool isTabStop(const ControlTemplate& c) { return (c.style & dlg::kWsTabStop) != 0; }
inline bool startsDisabled(const ControlTemplate& c) { return (c.style & dlg::kWsDisabled) != 0; }
