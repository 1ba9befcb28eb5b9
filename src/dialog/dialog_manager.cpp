#include "dialog/dialog_manager.h"

#include <algorithm>
#include <cctype>

namespace {

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

DialogManager::DialogManager(const DialogTemplate& dialog, DialogProcedure procedure)
    : dialog_(dialog), procedure_(procedure) {
    size_t group = 0;
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlTemplate& t = dialog.controls[i];
        if (startsGroup(t)) group = i;  // the first control opens a group of its own accord
        Control c;
        c.t = &t;
        c.enabled = !startsDisabled(t);
        c.groupStart = group;
        controls_.push_back(std::move(c));
    }
}

void DialogManager::open(intptr_t param) {
    procedure_(*this, dlg::kMsgInitDialog, 0, param);
    for (size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i].enabled && isTabStop(*controls_[i].t)) {
            focus_ = i;
            return;
        }
    }
    for (size_t i = 0; i < controls_.size(); ++i) {
        if (isStop(i)) {
            focus_ = i;
            return;
        }
    }
}

const DialogManager::Control* DialogManager::find(int32_t id) const {
    for (const Control& c : controls_)
        if (c.t->id == id) return &c;
    return nullptr;
}

DialogManager::Control* DialogManager::mutableFind(int32_t id) {
    return const_cast<Control*>(static_cast<const DialogManager*>(this)->find(id));
}

bool DialogManager::isRadio(size_t index) const {
    return kindOf(*controls_[index].t) == ControlKind::RadioButton;
}

bool DialogManager::inGroup(size_t index, size_t group) const { return controls_[index].groupStart == group; }

bool DialogManager::isStop(size_t index) const {
    const Control& c = controls_[index];
    if (!c.enabled) return false;
    if (isTabStop(*c.t)) return true;
    if (!isRadio(index)) return false;
    // A radio group is entered at its checked button, or its first one.
    size_t entry = controls_.size();
    for (size_t i = c.groupStart; i < controls_.size() && inGroup(i, c.groupStart); ++i) {
        if (!isRadio(i) || !controls_[i].enabled) continue;
        if (controls_[i].checked) return i == index;
        if (entry == controls_.size()) entry = i;
    }
    return entry == index;
}

void DialogManager::command(int32_t id, uint16_t notification) {
    if (ended_) return;
    procedure_(*this, dlg::kMsgCommand, dlg::commandParam(id, notification), 0);
}

void DialogManager::clickIndex(size_t index) {
    Control& c = controls_[index];
    if (!c.enabled || ended_) return;
    switch (kindOf(*c.t)) {
    case ControlKind::CheckBox: c.checked = !c.checked; break;
    case ControlKind::RadioButton:
        for (size_t i = c.groupStart; i < controls_.size() && inGroup(i, c.groupStart); ++i)
            if (isRadio(i)) controls_[i].checked = false;
        c.checked = true;
        break;
    case ControlKind::PushButton:
    case ControlKind::DefaultButton: break;
    case ControlKind::GroupBox:
    case ControlKind::DropList:
    case ControlKind::Label: return;
    }
    focus_ = index;
    command(c.t->id, dlg::kBnClicked);
}

void DialogManager::click(int32_t id) {
    for (size_t i = 0; i < controls_.size(); ++i)
        if (controls_[i].t->id == id) return clickIndex(i);
}

void DialogManager::chooseListItem(int32_t id, int32_t index) {
    Control* c = mutableFind(id);
    if (c == nullptr || !c->enabled || ended_ || index < 0 || index >= static_cast<int32_t>(c->items.size()))
        return;
    c->selected = index;
    command(id, dlg::kCbnSelChange);
}

void DialogManager::pressEnter() {
    const ControlKind focused = kindOf(*controls_[focus_].t);
    if (focused == ControlKind::PushButton || focused == ControlKind::DefaultButton)
        return clickIndex(focus_);
    for (size_t i = 0; i < controls_.size(); ++i)
        if (kindOf(*controls_[i].t) == ControlKind::DefaultButton && controls_[i].enabled)
            return clickIndex(i);
    command(dlg::kIdOk, dlg::kBnClicked);
}

void DialogManager::pressEscape() { command(dlg::kIdCancel, dlg::kBnClicked); }

void DialogManager::pressSpace() {
    switch (kindOf(*controls_[focus_].t)) {
    case ControlKind::PushButton:
    case ControlKind::DefaultButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: clickIndex(focus_); break;
    default: break;
    }
}

void DialogManager::tab(bool forward) {
    const size_t n = controls_.size();
    for (size_t k = 1; k <= n; ++k) {
        const size_t i = forward ? (focus_ + k) % n : (focus_ + n - k % n) % n;
        if (isStop(i)) {
            focus_ = i;
            return;
        }
    }
}

void DialogManager::arrow(int step) {
    Control& c = controls_[focus_];
    if (isRadio(focus_)) {
        // Like Windows: the next enabled button of the group, round the end,
        // takes the focus and is clicked.
        std::vector<size_t> group;
        for (size_t i = c.groupStart; i < controls_.size() && inGroup(i, c.groupStart); ++i)
            if (isRadio(i) && controls_[i].enabled) group.push_back(i);
        const auto at = std::find(group.begin(), group.end(), focus_);
        if (group.size() < 2 || at == group.end()) return;
        const size_t n = group.size(), pos = static_cast<size_t>(at - group.begin());
        clickIndex(group[(pos + (step > 0 ? 1 : n - 1)) % n]);
        return;
    }
    if (kindOf(*c.t) == ControlKind::DropList) {
        const int32_t last = static_cast<int32_t>(c.items.size()) - 1;
        const int32_t next = c.selected < 0 ? 0 : std::clamp(c.selected + (step > 0 ? 1 : -1), 0, last);
        if (last >= 0 && next != c.selected) chooseListItem(c.t->id, next);
        return;
    }
    tab(step > 0);
}

void DialogManager::check(int32_t id, bool on) {
    if (Control* c = mutableFind(id)) c->checked = on;
}

bool DialogManager::isChecked(int32_t id) const {
    const Control* c = find(id);
    return c != nullptr && c->checked;
}

void DialogManager::addListItem(int32_t id, const char* text) {
    Control* c = mutableFind(id);
    if (c == nullptr) return;
    std::string item(text);
    auto at = c->items.end();
    if ((c->t->style & dlg::kCbsSort) != 0)
        at = std::upper_bound(c->items.begin(), c->items.end(), item, lessIgnoringCase);
    // An insertion before the selection moves it with its item.
    if (c->selected >= at - c->items.begin()) ++c->selected;
    c->items.insert(at, std::move(item));
}

void DialogManager::selectListItem(int32_t id, int32_t index) {
    if (Control* c = mutableFind(id))
        c->selected = index >= 0 && index < static_cast<int32_t>(c->items.size()) ? index : -1;
}

int32_t DialogManager::selectedListItem(int32_t id) const {
    const Control* c = find(id);
    return c != nullptr ? c->selected : -1;
}

void DialogManager::endDialog(int32_t result) {
    ended_ = true;
    result_ = result;
}
