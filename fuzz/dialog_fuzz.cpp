// The configuration dialog's procedure under random user events on our own
// dialog manager, from any settings a record may hold: every event is
// handled, the switches stay 0 or 1, and once the dialog has ended the
// settings are what a host would save or keep.
#include <cstdlib>
#include <memory>

#include "core/scope_instance.h"
#include "dialog/config_dialog.h"
#include "dialog/dialog_manager.h"
#include "fuzz_input.h"

namespace {

enum Event : uint8_t { kClick, kChoose, kEnter, kEscape, kSpace, kTab, kArrow, kEvents };
constexpr int kMaxEvents = 200;

bool isSwitch(uint8_t v) { return v == 0 || v == 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    auto inst = std::make_unique<ScopeInstance>();
    ScopeSettings& s = inst->settings;
    s = kDefaultSettings;
    // A record as a script or a hand-edited store can leave it: any numbers.
    if (in.next<uint8_t>() & 1) {
        s.mode = in.next<int32_t>();
        s.hotFix = in.next<int32_t>();
        s.maxIRE = in.next<int32_t>();
    }
    const ScopeSettings before = s;
    DialogManager dialog(kConfigDialog, configDialogProc);
    dialog.open(reinterpret_cast<intptr_t>(inst.get()));
    const auto& controls = dialog.controls();
    for (int k = 0; k < kMaxEvents && !in.empty() && !dialog.ended(); ++k) {
        const int32_t id =
            controls[static_cast<size_t>(in.inRange(0, static_cast<int64_t>(controls.size()) - 1))].t->id;
        switch (in.next<uint8_t>() % kEvents) {
        case kClick: dialog.click(id); break;
        case kChoose: dialog.chooseListItem(id, static_cast<int32_t>(in.inRange(-2, 12))); break;
        case kEnter: dialog.pressEnter(); break;
        case kEscape: dialog.pressEscape(); break;
        case kSpace: dialog.pressSpace(); break;
        case kTab: dialog.tab(in.next<uint8_t>() & 1); break;
        case kArrow: dialog.arrow(in.next<uint8_t>() & 1 ? 1 : -1); break;
        }
    }
    for (uint8_t v : {s.accum, s.passthru, s.ntsc, s.gamma, s.stdDef, s.rng255, s.luma, s.red, s.green,
                      s.blue, s.wfmGrid})
        if (!isSwitch(v)) std::abort();
    // "Gamma Corrected" is never offered: it leaves as it came.
    if (s.gamma != before.gamma) std::abort();
    // The numbers are what they were or what a control can choose.
    auto chosenOrKept = [](int32_t now, int32_t was, int32_t lo, int32_t hi) {
        return now == was || (now >= lo && now <= hi);
    };
    if (!chosenOrKept(s.mode, before.mode, 0, kDisplayModeCount - 1) ||
        !chosenOrKept(s.hotFix, before.hotFix, kHotFixToBlack, kHotFixCount - 1) ||
        !chosenOrKept(s.maxIRE, before.maxIRE, kMaxIreLowest, kMaxIreHighest))
        std::abort();
    return 0;
}
