// Our own dialog manager, for platforms without Windows' one: it keeps the
// controls of a template, follows Windows' rules for automatic check boxes
// and radio buttons (a radio group runs from a control with the group style
// to the next one, in template order), sends the procedure the messages
// Windows would, and keeps the keyboard focus. A form (the terminal) only
// draws it and turns keys into the calls below; tests make the same calls.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "dialog/dialog_ops.h"
#include "dialog/dialog_template.h"

class DialogManager final : public DialogOps {
public:
    struct Control {
        const ControlTemplate* t;
        bool checked = false;
        bool enabled = true;
        std::vector<std::string> items;  // drop-down lists
        int32_t selected = -1;
        size_t groupStart = 0;  // index of the control that opens its group
    };

    DialogManager(const DialogTemplate& dialog, DialogProcedure procedure);

    // WM_INITDIALOG with `param`; then the focus goes to the first enabled
    // tab stop, as Windows does when the procedure returns true.
    void open(intptr_t param);
    bool ended() const { return ended_; }
    int32_t result() const { return result_; }

    // What the user does. Disabled controls and missing ids do nothing.
    void click(int32_t id);                          // mouse click on a button or box
    void chooseListItem(int32_t id, int32_t index);  // pick an item of a list
    void pressEnter();                               // the focused push button, else the default one
    void pressEscape();      // Cancel, as Windows turns Escape and the close box into it
    void pressSpace();       // clicks the focused button or box
    void tab(bool forward);  // to the next focus stop
    void arrow(int step);    // within a radio group or a list; elsewhere like tab

    // Focus stops in tab order: enabled tab stops, plus each radio group at
    // its checked button (with no pointer a group must be reachable by keys).
    bool isStop(size_t index) const;
    size_t focus() const { return focus_; }

    const DialogTemplate& dialog() const { return dialog_; }
    const std::vector<Control>& controls() const { return controls_; }
    const Control* find(int32_t id) const;

    // DialogOps: what the procedure asks.
    void check(int32_t id, bool on) override;
    bool isChecked(int32_t id) const override;
    void addListItem(int32_t id, const char* text) override;
    void selectListItem(int32_t id, int32_t index) override;
    int32_t selectedListItem(int32_t id) const override;
    void setUserData(intptr_t value) override { userData_ = value; }
    intptr_t userData() const override { return userData_; }
    void endDialog(int32_t result) override;

private:
    Control* mutableFind(int32_t id);
    void command(int32_t id, uint16_t notification);
    void clickIndex(size_t index);
    bool inGroup(size_t index, size_t group) const;
    bool isRadio(size_t index) const;

    const DialogTemplate& dialog_;
    DialogProcedure procedure_;
    std::vector<Control> controls_;
    intptr_t userData_ = 0;
    size_t focus_ = 0;
    bool ended_ = false;
    int32_t result_ = 0;
};
