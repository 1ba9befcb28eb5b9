// The configuration dialog as a form on a text terminal (dialog_terminal.cpp).
#pragma once

struct TerminalSize {
    int cols = 0, rows = 0;
};

// The smallest terminal the form works in: its whole width, so no line is
// cut (a list and its label, the two halves of a choice share one), and the
// height of its tallest group, so every option of a choice is in view at
// once. Below it the form refuses to open (kDialogTooSmall) and a host can
// name this size.
TerminalSize configFormLeastSize();
