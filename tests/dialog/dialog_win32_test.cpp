// The real Windows dialog, shown by the built module's configProc (under
// Wine here) and worked from a timer inside its modal loop: the controls
// the system built from the resource must be the table our own manager and
// the terminal form use, and both must end in the same state.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dialog/config_dialog.h"
#include "dialog/dialog_manager.h"
#include "settings/store_fixture.h"
#include "support/test_host.h"

namespace {

using Steps = std::function<void(HWND)>;

struct Script {
    Steps steps;
    bool ran = false;
    int ticks = 0;
};
Script* script = nullptr;

constexpr UINT kTickMs = 10;
constexpr int kGiveUpTicks = 500;  // no dialog, or one that will not end

BOOL CALLBACK findOurDialog(HWND w, LPARAM out) {
    char caption[64] = {}, cls[16] = {};
    GetWindowTextA(w, caption, sizeof caption);
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "#32770" && kConfigDialog.caption == caption) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK onTick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findOurDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    if (!script->ran) {
        script->ran = true;
        script->steps(dialog);  // ends with a press of OK or Cancel
    } else if (++script->ticks > kGiveUpTicks) {
        ADD_FAILURE() << "the dialog did not end";
        EndDialog(dialog, 99);
    }
}

// configProc of the loaded module, with `steps` run once the dialog shows.
int configure(TestInstance& instance, Steps steps) {
    Script s{std::move(steps)};
    script = &s;
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, onTick);
    const int result = instance.configure();
    KillTimer(nullptr, timer);
    script = nullptr;
    EXPECT_TRUE(s.ran) << "no dialog showed";
    return result;
}

// A person's click: a disabled control gets no mouse input at all.
void click(HWND dialog, int32_t id) {
    HWND w = GetDlgItem(dialog, id);
    if (IsWindowEnabled(w)) SendMessageA(w, BM_CLICK, 0, 0);
}

// As the user picks an item: the selection, then the list's notification.
void choose(HWND dialog, int32_t id, int32_t item) {
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::string textOf(HWND w) {
    char text[128] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

const char* className(ControlClass c) {
    switch (c) {
    case ControlClass::Button: return "Button";
    case ControlClass::ComboBox: return "ComboBox";
    case ControlClass::Static: return "Static";
    }
    return "";
}

// Position and size are converted apart, as the system creates a control.
RECT dialogUnits(HWND dialog, int x, int y, int w, int h) {
    RECT r = {x, y, w, h};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

std::string rectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// The system's own additions to a control's styles: a checked radio button
// becomes a tab stop and an unchecked one stops being one; every dialog
// control is created with WS_EX_NOPARENTNOTIFY; a drop-down list hands its
// scroll bar style on to its list.
constexpr DWORD kStyleSetBySystem = WS_TABSTOP;
constexpr DWORD kListStyles = WS_VSCROLL;
constexpr DWORD kExStyleSetBySystem = WS_EX_NOPARENTNOTIFY;

void expectBuiltAsDescribed(HWND dialog) {
    EXPECT_EQ(textOf(dialog), kConfigDialog.caption);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    EXPECT_EQ(style & kConfigDialog.style, kConfigDialog.style) << std::hex << style;
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(rectText(client), rectText(dialogUnits(dialog, 0, 0, kConfigDialog.w, kConfigDialog.h)));
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(std::string(font.lfFaceName), kConfigDialog.font);

    HWND w = GetWindow(dialog, GW_CHILD);  // children in template order
    for (const ControlTemplate& c : kConfigDialog.controls) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.id));
        ASSERT_NE(w, nullptr) << "fewer controls than described";
        char cls[32] = {};
        GetClassNameA(w, cls, sizeof cls);
        EXPECT_STRCASEEQ(cls, className(c.cls));
        EXPECT_EQ(GetDlgCtrlID(w), c.id);
        if (c.cls != ControlClass::ComboBox) EXPECT_EQ(textOf(w), c.text);
        const bool radio = kindOf(c) == ControlKind::RadioButton;
        const DWORD mask = radio                             ? ~kStyleSetBySystem
                           : c.cls == ControlClass::ComboBox ? ~kListStyles
                                                             : ~DWORD{0};
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)) & mask, c.style & mask)
            << std::hex << GetWindowLongA(w, GWL_STYLE) << " " << c.style;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_EXSTYLE)) & ~kExStyleSetBySystem, c.exStyle);
        RECT r;
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        RECT expected = dialogUnits(dialog, c.x, c.y, c.w, c.h);
        if (c.cls == ControlClass::ComboBox) {
            // Closed, a list is as tall as its selection field; h is its opened height.
            // The opened list lies within the template's height, field and
            // borders included (how much the borders take varies by system).
            RECT dropped;
            SendMessageA(w, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            const LONG opened = dropped.bottom - dropped.top, field = r.bottom - r.top;
            EXPECT_GT(opened, field);
            EXPECT_LE(opened + field, expected.bottom - expected.top);
            EXPECT_GT(opened + 2 * field, expected.bottom - expected.top);
            r.bottom = expected.bottom;
            // The list takes over the scroll bar styles.
            COMBOBOXINFO info = {sizeof info};
            GetComboBoxInfo(w, &info);
            EXPECT_EQ(GetWindowLongA(info.hwndList, GWL_STYLE) & WS_VSCROLL, WS_VSCROLL);
        }
        EXPECT_EQ(rectText(r), rectText(expected));
        w = GetWindow(w, GW_HWNDNEXT);
    }
    EXPECT_EQ(w, nullptr) << "more controls than described";
}

// Every control's state against our own manager's after the same steps.
void expectSameStateAs(HWND dialog, const DialogManager& ours) {
    for (const DialogManager::Control& c : ours.controls()) {
        if (c.t->id == dlg::kNoId) continue;
        SCOPED_TRACE(std::string(c.t->text) + " " + std::to_string(c.t->id));
        HWND w = GetDlgItem(dialog, c.t->id);
        EXPECT_EQ(IsWindowEnabled(w) != FALSE, c.enabled);
        switch (kindOf(*c.t)) {
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
            EXPECT_EQ(IsDlgButtonChecked(dialog, c.t->id) == BST_CHECKED, c.checked);
            break;
        case ControlKind::DropList: {
            EXPECT_EQ(SendMessageA(w, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(c.items.size()));
            for (size_t i = 0; i < c.items.size(); ++i) {
                char item[64] = {};
                SendMessageA(w, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
                EXPECT_EQ(item, c.items[i]);
            }
            EXPECT_EQ(SendMessageA(w, CB_GETCURSEL, 0, 0), c.selected);
            break;
        }
        default: break;
        }
    }
}

struct Case {
    const char* name;
    ScopeSettings start;
    std::function<void(HWND)> win32;           // the user's steps on the real dialog
    std::function<void(DialogManager&)> ours;  // the same steps on ours
    bool ok;
};

}  // namespace

TEST(DialogWin32, ResourceIsTheDescribedTemplateAndBehavesAsOurManager) {
    LoadedModule module(KIVREL_MODULE_FILE);
    ASSERT_TRUE(module.ok()) << module.error();
    TestHost host(module.entryPoints());
    ScopeSettings flipped = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 1, 105};
    const Case cases[] = {
        {"untouched, OK", kDefaultSettings, [](HWND) {}, [](DialogManager&) {}, true},
        {"Vectorscope, Red off, Cancel", kDefaultSettings,
         [](HWND d) {
             click(d, kIdVectorscope);
             click(d, kIdRed);
         },
         [](DialogManager& m) {
             m.click(kIdVectorscope);
             m.click(kIdRed);
         },
         false},
        {"every kind changed, OK", flipped,
         [](HWND d) {
             for (int32_t id : {kIdRange235, kIdRange255, kIdHighDef, kIdNtsc, kIdHotPixel, kIdRed,
                                kIdPassthru, kIdGamma, kIdWfmGrid})
                 click(d, id);
             choose(d, kIdHotFixList, 2);
             choose(d, kIdMaxIreList, 0);
         },
         [](DialogManager& m) {
             for (int32_t id : {kIdRange235, kIdRange255, kIdHighDef, kIdNtsc, kIdHotPixel, kIdRed,
                                kIdPassthru, kIdGamma, kIdWfmGrid})
                 m.click(id);
             m.chooseListItem(kIdHotFixList, 2);
             m.chooseListItem(kIdMaxIreList, 0);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rawstore::clear();
        TestInstance instance(host);
        instance.settings() = c.start;
        auto ours = std::make_unique<ScopeInstance>();
        ours->settings = c.start;
        DialogManager manager(kConfigDialog, configDialogProc);
        manager.open(reinterpret_cast<intptr_t>(ours.get()));
        c.ours(manager);

        const int result = configure(instance, [&](HWND d) {
            expectBuiltAsDescribed(d);
            c.win32(d);
            expectSameStateAs(d, manager);
            click(d, c.ok ? IDOK : IDCANCEL);
        });
        if (c.ok)
            manager.click(dlg::kIdOk);
        else
            manager.pressEscape();
        EXPECT_EQ(result, c.ok ? kDialogOk : kDialogCancel);
        EXPECT_EQ(result, manager.result());
        EXPECT_EQ(describe(instance.settings()), describe(ours->settings));
        // OK saved all of them in the registry, where the next instance starts; Cancel wrote nothing.
        if (c.ok)
            EXPECT_EQ(describe(TestInstance(host).settings()), describe(instance.settings()));
        else
            EXPECT_FALSE(rawstore::keyExists());
    }
    rawstore::clear();
}

TEST(DialogWin32, EscapeCancels) {
    LoadedModule module(KIVREL_MODULE_FILE);
    ASSERT_TRUE(module.ok()) << module.error();
    TestHost host(module.entryPoints());
    TestInstance instance(host);
    instance.settings() = kDefaultSettings;
    const int result = configure(instance, [](HWND d) {
        click(d, kIdVectorscope);
        click(d, kIdBlue);
        // As the keyboard delivers it: the dialog manager turns Escape into Cancel.
        PostMessageA(GetDlgItem(d, kIdBlue), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(result, kDialogCancel);
    EXPECT_EQ(instance.settings().mode, static_cast<int32_t>(DisplayMode::Vectorscope));
    EXPECT_EQ(instance.settings().blue, 1);
}

TEST(DialogWin32, VersionRecord) {
    const DWORD size = GetFileVersionInfoSizeA(KIVREL_MODULE_FILE, nullptr);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(KIVREL_MODULE_FILE, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);  // .0.1
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    const std::pair<const char*, const char*> strings[] = {
        {"CompanyName", "Dunmarl"},       {"FileDescription", "kivrel"},      {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "kivrel"},       {"OriginalFilename", "kivrel.vdf"}, {"ProductName", "kivrel"},
        {"ProductVersion", "1, 0, 0, 1"},
    };
    for (const auto& [name, value] : strings) {
        char* text = nullptr;
        const std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &len)) << name;
        EXPECT_STREQ(text, value);
    }
}
