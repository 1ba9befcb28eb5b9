// The configuration dialog's procedure, run by our own dialog manager as a
// user would run it: clicks, list choices, keys. What OK leaves in the
// instance is what configProc hands to the store.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/scope_instance.h"
#include "dialog/config_dialog.h"
#include "dialog/dialog_manager.h"
#include "support/test_host.h"

namespace {

using dlg::kIdCancel;
using dlg::kIdOk;

struct Session {
    explicit Session(const ScopeSettings& s) : instance(std::make_unique<ScopeInstance>()) {
        instance->settings = s;
        dialog.open(reinterpret_cast<intptr_t>(instance.get()));
    }
    ScopeSettings& settings() { return instance->settings; }
    std::string selectedText(int32_t id) const {
        const DialogManager::Control* c = dialog.find(id);
        return c->selected < 0 ? "(none)" : c->items[static_cast<size_t>(c->selected)];
    }

    std::unique_ptr<ScopeInstance> instance;
    DialogManager dialog{kConfigDialog, configDialogProc};
};

bool same(const ScopeSettings& a, const ScopeSettings& b) { return describe(a) == describe(b); }

// Settings far from the defaults in every field, and the defaults.
std::vector<ScopeSettings> startingPoints() {
    ScopeSettings flipped = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 2, 120};
    ScopeSettings odd = kDefaultSettings;
    odd.mode = 7;  // only a script line stores these
    odd.hotFix = -1;
    odd.maxIRE = 105;
    return {kDefaultSettings, flipped, odd};
}

constexpr int32_t kDisplayIds[kDisplayModeCount] = {kIdHistograms, kIdHotPixel, kIdVideo, kIdWaveform,
                                                    kIdVectorscope};

}  // namespace

TEST(ConfigDialog, StartStatesShowTheSettings) {
    for (const ScopeSettings& s : startingPoints()) {
        SCOPED_TRACE(describe(s));
        Session d(s);
        const DialogManager& m = d.dialog;
        EXPECT_EQ(m.isChecked(kIdPassthru), s.passthru != 0);
        EXPECT_EQ(m.isChecked(kIdAccum), s.accum != 0);
        EXPECT_EQ(m.isChecked(kIdGamma), s.gamma != 0);
        EXPECT_EQ(m.isChecked(kIdWfmGrid), s.wfmGrid != 0);
        EXPECT_EQ(m.isChecked(kIdRed), s.red != 0);
        EXPECT_EQ(m.isChecked(kIdGreen), s.green != 0);
        EXPECT_EQ(m.isChecked(kIdBlue), s.blue != 0);
        EXPECT_EQ(m.isChecked(kIdLuma), s.luma != 0);
        for (int mode = 0; mode < kDisplayModeCount; ++mode)
            EXPECT_EQ(m.isChecked(kDisplayIds[mode]), s.mode == mode);
        EXPECT_EQ(m.isChecked(kIdNtsc), s.ntsc != 0);
        EXPECT_EQ(m.isChecked(kIdPal), s.ntsc == 0);
        EXPECT_EQ(m.isChecked(kIdStdDef), s.stdDef != 0);
        EXPECT_EQ(m.isChecked(kIdHighDef), s.stdDef == 0);
        EXPECT_EQ(m.isChecked(kIdRange255), s.rng255 != 0);
        EXPECT_EQ(m.isChecked(kIdRange235), s.rng255 == 0);
        EXPECT_EQ(m.find(kIdHotFixList)->items,
                  (std::vector<std::string>{"To Black", "Intenstiy", "Saturation"}));
        EXPECT_EQ(m.find(kIdMaxIreList)->items, (std::vector<std::string>{"100", "110", "120"}));
        // Focus on the first enabled tab stop.
        EXPECT_EQ(m.controls()[m.focus()].t->id, kIdAccum);
        EXPECT_FALSE(m.ended());
    }
}

TEST(ConfigDialog, OkUntouchedHandsBackEveryValueUnchanged) {
    for (const ScopeSettings& s : startingPoints()) {
        SCOPED_TRACE(describe(s));
        Session d(s);
        d.dialog.pressEnter();  // the focus is on a check box: the default button, OK
        EXPECT_TRUE(d.dialog.ended());
        EXPECT_EQ(d.dialog.result(), kDialogOk);
        EXPECT_TRUE(same(d.settings(), s)) << describe(d.settings());
    }
}

TEST(ConfigDialog, DisplayButtonsChangeTheModeAtOnceAndCancelKeepsIt) {
    Session d(kDefaultSettings);
    d.dialog.click(kIdVectorscope);
    EXPECT_EQ(d.settings().mode, 4);  // before the dialog ends
    for (int mode = 0; mode < kDisplayModeCount; ++mode)
        EXPECT_EQ(d.dialog.isChecked(kDisplayIds[mode]), mode == 4);
    d.dialog.pressEscape();
    EXPECT_EQ(d.dialog.result(), kDialogCancel);
    ScopeSettings expected = kDefaultSettings;
    expected.mode = 4;
    EXPECT_TRUE(same(d.settings(), expected)) << describe(d.settings());
}

TEST(ConfigDialog, CheckBoxesChangeOnlyOnOk) {
    for (bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        Session d(kDefaultSettings);
        for (int32_t id : {kIdRed, kIdPassthru, kIdAccum, kIdWfmGrid, kIdLuma}) d.dialog.click(id);
        EXPECT_TRUE(same(d.settings(), kDefaultSettings));  // nothing yet
        EXPECT_FALSE(d.dialog.isChecked(kIdRed));
        if (ok)
            d.dialog.click(kIdOk);
        else
            d.dialog.click(kIdCancel);
        ScopeSettings expected = kDefaultSettings;
        if (ok) {
            expected.red = 0;
            expected.passthru = 1;
            expected.accum = 1;
            expected.wfmGrid = 0;
            expected.luma = 0;
        }
        EXPECT_TRUE(same(d.settings(), expected)) << describe(d.settings());
        EXPECT_EQ(d.dialog.result(), ok ? kDialogOk : kDialogCancel);
    }
}

TEST(ConfigDialog, TwoWayChoicesSetBothButtonsAcrossGroups) {
    Session d(kDefaultSettings);
    d.dialog.click(kIdRange235);
    EXPECT_EQ(d.settings().rng255, 0);
    EXPECT_FALSE(d.dialog.isChecked(kIdRange255));
    d.dialog.click(kIdRange255);
    EXPECT_EQ(d.settings().rng255, 1);
    EXPECT_TRUE(d.dialog.isChecked(kIdRange255));
    EXPECT_FALSE(d.dialog.isChecked(kIdRange235));  // the procedure did that: not one group
    d.dialog.click(kIdPal);
    d.dialog.click(kIdHighDef);
    EXPECT_EQ(d.settings().ntsc, 0);
    EXPECT_EQ(d.settings().stdDef, 0);
    EXPECT_FALSE(d.dialog.isChecked(kIdNtsc));
    EXPECT_FALSE(d.dialog.isChecked(kIdStdDef));
    d.dialog.pressEscape();  // changed at once: Cancel keeps them
    EXPECT_EQ(d.settings().ntsc, 0);
    EXPECT_EQ(d.settings().rng255, 1);
}

// The group rules alone, with a procedure that does nothing.
TEST(DialogManager, AutomaticRadioGroupsRunFromOneGroupStartToTheNext) {
    DialogManager m(kConfigDialog, [](DialogOps&, uint32_t, uintptr_t, intptr_t) { return false; });
    m.open(0);
    m.click(kIdRange235);
    m.click(kIdRange255);
    EXPECT_TRUE(m.isChecked(kIdRange235));  // two groups: both stay checked
    EXPECT_TRUE(m.isChecked(kIdRange255));
    for (int32_t id : kDisplayIds) {
        m.click(id);
        for (int32_t other : kDisplayIds) EXPECT_EQ(m.isChecked(other), other == id);
    }
    m.click(kIdStdDef);
    m.click(kIdHighDef);
    EXPECT_FALSE(m.isChecked(kIdStdDef));
    m.click(kIdNtsc);
    EXPECT_TRUE(m.isChecked(kIdHighDef));  // NTSC opens a group of its own
}

TEST(ConfigDialog, MaxIreShowsItsCutQuotientAndKeepsItsValue) {
    struct Case {
        int32_t maxIRE;
        const char* shown;
    };
    for (const Case& c : {Case{120, "120"}, Case{110, "110"}, Case{100, "100"}, Case{105, "100"},
                          Case{91, "100"}, Case{119, "110"}, Case{90, "(none)"}, Case{0, "(none)"}}) {
        SCOPED_TRACE(c.maxIRE);
        ScopeSettings s = kDefaultSettings;
        s.maxIRE = c.maxIRE;
        Session d(s);
        EXPECT_EQ(d.selectedText(kIdMaxIreList), c.shown);
        d.dialog.click(kIdOk);
        EXPECT_EQ(d.settings().maxIRE, c.maxIRE);  // unchanged unless picked
    }
    for (int32_t item = 0; item < 3; ++item) {
        Session d(kDefaultSettings);
        d.dialog.chooseListItem(kIdMaxIreList, item);
        EXPECT_EQ(d.settings().maxIRE, 100 + 10 * item);
        d.dialog.pressEscape();
        EXPECT_EQ(d.settings().maxIRE, 100 + 10 * item);
    }
}

TEST(ConfigDialog, HotFixListShowsItsItemAndChangesAtOnce) {
    ScopeSettings s = kDefaultSettings;
    s.hotFix = 1;
    Session d(s);
    EXPECT_EQ(d.selectedText(kIdHotFixList), "Intenstiy");
    d.dialog.chooseListItem(kIdHotFixList, 2);
    EXPECT_EQ(d.settings().hotFix, 2);
    EXPECT_EQ(d.selectedText(kIdHotFixList), "Saturation");
    d.dialog.pressEscape();
    EXPECT_EQ(d.settings().hotFix, 2);

    for (int32_t bad : {-1, 3, 1000}) {
        SCOPED_TRACE(bad);
        s.hotFix = bad;
        Session e(s);
        EXPECT_EQ(e.selectedText(kIdHotFixList), "(none)");
        e.dialog.click(kIdOk);
        EXPECT_EQ(e.settings().hotFix, bad);
    }
}

TEST(ConfigDialog, GammaIsShownButCannotChange) {
    for (uint8_t gamma : {0, 1}) {
        SCOPED_TRACE(+gamma);
        ScopeSettings s = kDefaultSettings;
        s.gamma = gamma;
        Session d(s);
        EXPECT_EQ(d.dialog.isChecked(kIdGamma), gamma != 0);
        EXPECT_FALSE(d.dialog.find(kIdGamma)->enabled);
        d.dialog.click(kIdGamma);
        for (int i = 0; i < 40; ++i) {
            d.dialog.tab(true);
            EXPECT_NE(d.dialog.controls()[d.dialog.focus()].t->id, kIdGamma);
        }
        d.dialog.click(kIdOk);
        EXPECT_EQ(d.settings().gamma, gamma);
    }
}

TEST(DialogManager, KeysWalkTheTabStopsAndRadioGroups) {
    Session d(kDefaultSettings);
    DialogManager& m = d.dialog;
    std::vector<int32_t> order;
    for (size_t i = 0; i < m.controls().size(); ++i) {
        order.push_back(m.controls()[m.focus()].t->id);
        m.tab(true);
    }
    // Template order; a radio group is entered at its checked button.
    const std::vector<int32_t> expected = {
        kIdAccum, kIdOk,    kIdCancel, kIdRange235, kIdRange255,   kIdStdDef,     kIdHistograms, kIdNtsc,
        kIdRed,   kIdGreen, kIdBlue,   kIdLuma,     kIdHotFixList, kIdMaxIreList, kIdWfmGrid,    kIdPassthru};
    order.resize(expected.size() + 1);
    EXPECT_EQ(order.back(), kIdAccum);  // and round again
    order.pop_back();
    EXPECT_EQ(order, expected);
    while (m.controls()[m.focus()].t->id != kIdAccum) m.tab(true);
    m.tab(false);
    EXPECT_EQ(m.controls()[m.focus()].t->id, kIdPassthru);

    // Within the display group, arrows move and choose, round the end.
    while (m.controls()[m.focus()].t->id != kIdHistograms) m.tab(true);
    m.arrow(+1);
    EXPECT_EQ(d.settings().mode, static_cast<int32_t>(DisplayMode::HotPixel));
    m.arrow(+1);
    EXPECT_EQ(d.settings().mode, static_cast<int32_t>(DisplayMode::Vectorscope));
    m.arrow(+1);
    EXPECT_EQ(d.settings().mode, static_cast<int32_t>(DisplayMode::Video));  // first of the group
    m.arrow(-1);
    EXPECT_EQ(d.settings().mode, static_cast<int32_t>(DisplayMode::Vectorscope));

    // In a list, arrows pick the neighbouring item and stop at the ends.
    while (m.controls()[m.focus()].t->id != kIdHotFixList) m.tab(true);
    for (int i = 0; i < 4; ++i) m.arrow(+1);
    EXPECT_EQ(d.settings().hotFix, 2);
    m.arrow(-1);
    EXPECT_EQ(d.settings().hotFix, 1);

    // Space toggles a box; Enter on a push button presses that one.
    while (m.controls()[m.focus()].t->id != kIdRed) m.tab(true);
    m.pressSpace();
    EXPECT_FALSE(m.isChecked(kIdRed));
    while (m.controls()[m.focus()].t->id != kIdCancel) m.tab(true);
    m.pressEnter();
    EXPECT_EQ(m.result(), kDialogCancel);
    EXPECT_EQ(d.settings().red, 1);
}
