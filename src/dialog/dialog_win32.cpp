// The configuration dialog on Windows: the system's dialog manager runs
// resource 101 from this module, and the procedure reaches it through
// DialogOps.
#include <windows.h>

#include "dialog/config_dialog.h"

// The template's style words are Windows' own.
static_assert(dlg::kWsPopup == WS_POPUP && dlg::kWsChild == WS_CHILD && dlg::kWsVisible == WS_VISIBLE);
static_assert(dlg::kWsDisabled == WS_DISABLED && dlg::kWsCaption == WS_CAPTION &&
              dlg::kWsVScroll == WS_VSCROLL);
static_assert(dlg::kWsSysMenu == WS_SYSMENU && dlg::kWsGroup == WS_GROUP && dlg::kWsTabStop == WS_TABSTOP);
static_assert(dlg::kDsSetFont == DS_SETFONT && dlg::kDsModalFrame == DS_MODALFRAME &&
              dlg::kDsCenter == DS_CENTER);
static_assert(dlg::kBsPushButton == BS_PUSHBUTTON && dlg::kBsDefPushButton == BS_DEFPUSHBUTTON);
static_assert(dlg::kBsAutoCheckBox == BS_AUTOCHECKBOX && dlg::kBsGroupBox == BS_GROUPBOX);
static_assert(dlg::kBsAutoRadioButton == BS_AUTORADIOBUTTON && dlg::kBsTop == BS_TOP);
static_assert(dlg::kBsMultiLine == BS_MULTILINE && dlg::kBsFlat == BS_FLAT &&
              dlg::kBsKindMask == BS_TYPEMASK);
static_assert(dlg::kCbsDropDownList == CBS_DROPDOWNLIST && dlg::kCbsSort == CBS_SORT);
static_assert(dlg::kCbsDisableNoScroll == CBS_DISABLENOSCROLL && dlg::kSsLeft == SS_LEFT);
static_assert(dlg::kWsExTransparent == WS_EX_TRANSPARENT && dlg::kWsExRight == WS_EX_RIGHT);
static_assert(dlg::kMsgInitDialog == WM_INITDIALOG && dlg::kMsgCommand == WM_COMMAND);
static_assert(dlg::kBnClicked == BN_CLICKED && dlg::kCbnSelChange == CBN_SELCHANGE);
static_assert(dlg::kIdOk == IDOK && dlg::kIdCancel == IDCANCEL);

namespace {

class Win32Dialog final : public DialogOps {
public:
    explicit Win32Dialog(HWND dialog) : h_(dialog) {}
    void check(int32_t id, bool on) override { CheckDlgButton(h_, id, on ? BST_CHECKED : BST_UNCHECKED); }
    bool isChecked(int32_t id) const override { return IsDlgButtonChecked(h_, id) == BST_CHECKED; }
    void addListItem(int32_t id, const char* text) override {
        SendMessageA(GetDlgItem(h_, id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    void selectListItem(int32_t id, int32_t index) override {
        SendMessageA(GetDlgItem(h_, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    int32_t selectedListItem(int32_t id) const override {
        return static_cast<int32_t>(SendDlgItemMessageA(h_, id, CB_GETCURSEL, 0, 0));
    }
    // Pointer-sized on both word sizes: a 64-bit instance address survives.
    void setUserData(intptr_t value) override { SetWindowLongPtrA(h_, DWLP_USER, value); }
    intptr_t userData() const override { return GetWindowLongPtrA(h_, DWLP_USER); }
    void endDialog(int32_t result) override { EndDialog(h_, result); }

private:
    HWND h_;
};

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Win32Dialog ops(dialog);
    return configDialogProc(ops, message, wParam, lParam) ? TRUE : FALSE;
}

// The module this code was loaded in, which holds the template: the host's
// own handle for us is not always filled in.
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&dialogProc), &module);
    return module;
}

}  // namespace

int32_t showConfigDialog(ScopeInstance& instance, void* parentWindow) {
    const INT_PTR result =
        DialogBoxParamA(thisModule(), MAKEINTRESOURCEA(kConfigDialogResource),
                        static_cast<HWND>(parentWindow), dialogProc, reinterpret_cast<LPARAM>(&instance));
    return static_cast<int32_t>(result);
}
