// What a dialog procedure may ask of the dialog it runs in. Windows' dialog
// manager stands behind it on Windows (dialog_win32.cpp), our own
// DialogManager everywhere else, so one procedure serves both.
#pragma once

#include <cstdint>

class DialogOps {
public:
    virtual void check(int32_t id, bool on) = 0;
    virtual bool isChecked(int32_t id) const = 0;
    virtual void addListItem(int32_t id, const char* text) = 0;
    // An index outside the list clears the selection.
    virtual void selectListItem(int32_t id, int32_t index) = 0;
    virtual int32_t selectedListItem(int32_t id) const = 0;  // -1 for none
    virtual void setUserData(intptr_t value) = 0;
    virtual intptr_t userData() const = 0;
    virtual void endDialog(int32_t result) = 0;

protected:
    ~DialogOps() = default;
};

// A dialog procedure: true when it handled the message.
using DialogProcedure = bool (*)(DialogOps& dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
