// The configuration dialog: its template (resource 101 on Windows) and its
// procedure, which edits an instance's settings in place. The display
// buttons, the three two-way choices and the two lists change the settings
// at once; the check boxes only on OK. Cancel touches nothing.
#pragma once

#include <cstdint>

#include "core/scope_instance.h"
#include "dialog/dialog_ops.h"
#include "dialog/dialog_template.h"

inline constexpr int32_t kConfigDialogResource = 101;

// Results, as configProc hands them to the host.
inline constexpr int32_t kDialogOk = 0;
inline constexpr int32_t kDialogCancel = 1;
inline constexpr int32_t kDialogFailed = -1;    // no dialog could be shown
inline constexpr int32_t kDialogTooSmall = -2;  // the terminal is smaller than the form needs

enum ConfigControl : int32_t {
    kIdAccum = 1000,
    kIdGamma = 1001,
    kIdSourceBox = 1002,
    kIdViewBox = 1003,
    kIdHotFixList = 1004,
    kIdMaxIreList = 1005,
    kIdRed = 1006,
    kIdGreen = 1007,
    kIdBlue = 1008,
    kIdLuma = 1009,
    kIdChannelsBox = 1010,
    kIdWfmGrid = 1011,
    kIdPassthru = 1012,
    kIdRange235 = 1024,
    kIdRange255 = 1025,
    kIdStdDef = 1026,
    kIdHighDef = 1027,
    kIdHistograms = 1028,
    kIdHotPixel = 1029,
    kIdNtsc = 1030,
    kIdPal = 1031,
    kIdWaveform = 1035,
    kIdVideo = 1036,
    kIdVectorscope = 1037,
};

extern const DialogTemplate kConfigDialog;

// WM_INITDIALOG's parameter is the address of the instance to edit.
bool configDialogProc(DialogOps& dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The platform's modal form of kConfigDialog over the instance (dialog_win32.cpp,
// dialog_terminal.cpp): kDialogOk, kDialogCancel, kDialogFailed or (a
// terminal smaller than configFormLeastSize) kDialogTooSmall.
int32_t showConfigDialog(ScopeInstance& instance, void* parentWindow);
