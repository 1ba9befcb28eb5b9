// The configuration dialog as a terminal form, for systems without Windows'
// dialog manager: our own DialogManager runs the procedure, and this file
// lays the template's controls out in character cells, draws them with
// ncurses on the controlling terminal and turns keys into the manager's
// calls. Standard input and output stay the host's.
#include <curses.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dialog/config_dialog.h"
#include "dialog/dialog_manager.h"
#include "dialog/terminal_form.h"

namespace {

// A dialog unit is a quarter of the average character width and an eighth
// of the character height, so this is about one cell.
constexpr int kUnitsPerColumn = 4;
constexpr int kUnitsPerRow = 8;
constexpr int kFrame = 1;             // the border round the whole form
constexpr int kSameLineUnits = 6;     // controls this close in y share a line
constexpr short kEscapeDelayMs = 25;  // Escape alone, not the start of a key sequence
constexpr int kCtrlC = 3;
constexpr int kEscape = 27;

// Where a control sits in cells, inside the frame.
struct Cell {
    int row = 0, col = 0, width = 0;
    int lastRow = 0, lastCol = 0;  // group boxes: their bottom line and right edge
};

struct Layout {
    std::vector<Cell> cells;  // one per control, in template order
    int rows = 0, cols = 0;   // the whole form, frame included
};

std::string marker(const DialogManager::Control& c) {
    switch (kindOf(*c.t)) {
    case ControlKind::CheckBox: return c.checked ? "[x] " : "[ ] ";
    case ControlKind::RadioButton: return c.checked ? "(*) " : "( ) ";
    default: return "";
    }
}

size_t widestItem(const DialogManager::Control& c) {
    size_t w = 0;
    for (const std::string& item : c.items) w = std::max(w, item.size());
    return w;
}

// The text a control shows, at its full width.
std::string face(const DialogManager::Control& c, int width) {
    const std::string text(c.t->text);
    switch (kindOf(*c.t)) {
    case ControlKind::PushButton:
    case ControlKind::DefaultButton: return "< " + text + " >";
    case ControlKind::DropList: {
        std::string item = c.selected >= 0 ? c.items[static_cast<size_t>(c.selected)] : "";
        item.resize(static_cast<size_t>(std::max(width - 4, 0)), ' ');
        return "[" + item + " v]";
    }
    case ControlKind::Label:
        // Right-aligned labels end next to what they name.
        if ((c.t->exStyle & dlg::kWsExRight) != 0 && static_cast<int>(text.size()) < width)
            return std::string(static_cast<size_t>(width) - text.size(), ' ') + text;
        return text;
    default: return marker(c) + text;
    }
}

int naturalWidth(const DialogManager::Control& c) {
    const int units = c.t->w / kUnitsPerColumn;
    switch (kindOf(*c.t)) {
    case ControlKind::DropList: return std::max(units, static_cast<int>(widestItem(c)) + 4);
    case ControlKind::Label: return std::max(units, static_cast<int>(c.t->text.size()));
    case ControlKind::GroupBox: return units;
    default: return static_cast<int>(face(c, 0).size());
    }
}

// Lines first: group box edges get lines of their own, other controls share
// one with those a few units above or below them. Each line keeps its row of
// y / 8, moved down as far as needed to stay below the line before; when
// that is taller than `maxRows`, the lines are packed one after another.
// Columns: x / 4, moved right past the control before on the same line.
Layout layOut(const DialogManager& m, int maxRows) {
    const auto& controls = m.controls();
    const size_t n = controls.size();
    struct Anchor {
        int y;
        size_t control;
        bool boxEdge, bottom;
    };
    std::vector<Anchor> anchors;
    for (size_t i = 0; i < n; ++i) {
        const ControlTemplate& t = *controls[i].t;
        const bool box = kindOf(t) == ControlKind::GroupBox;
        anchors.push_back({t.y, i, box, false});
        if (box) anchors.push_back({t.y + t.h, i, true, true});
    }
    std::stable_sort(anchors.begin(), anchors.end(),
                     [](const Anchor& a, const Anchor& b) { return a.y < b.y; });

    std::vector<int> lineOf(anchors.size()), lineY;
    for (size_t a = 0; a < anchors.size(); ++a) {
        const bool joins = a > 0 && !anchors[a].boxEdge && !anchors[a - 1].boxEdge &&
                           anchors[a].y - lineY.back() < kSameLineUnits;
        if (!joins) lineY.push_back(anchors[a].y);
        lineOf[a] = static_cast<int>(lineY.size()) - 1;
    }
    std::vector<int> lineRow(lineY.size());
    for (size_t l = 0; l < lineY.size(); ++l)
        lineRow[l] = std::max(lineY[l] / kUnitsPerRow, l > 0 ? lineRow[l - 1] + 1 : 0);
    if (!lineRow.empty() && lineRow.back() + 1 + 2 * kFrame > maxRows)
        for (size_t l = 0; l < lineRow.size(); ++l) lineRow[l] = static_cast<int>(l);

    Layout layout;
    layout.cells.resize(n);
    for (size_t a = 0; a < anchors.size(); ++a) {
        Cell& cell = layout.cells[anchors[a].control];
        const int row = kFrame + lineRow[static_cast<size_t>(lineOf[a])];
        if (anchors[a].bottom)
            cell.lastRow = row;
        else
            cell.row = cell.lastRow = row;
    }
    // Left to right within each row, group boxes aside.
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const Cell &ca = layout.cells[a], &cb = layout.cells[b];
        return ca.row != cb.row ? ca.row < cb.row : controls[a].t->x < controls[b].t->x;
    });
    int row = -1, end = 0;
    for (size_t i : order) {
        Cell& cell = layout.cells[i];
        const ControlTemplate& t = *controls[i].t;
        cell.width = naturalWidth(controls[i]);
        cell.col = kFrame + t.x / kUnitsPerColumn;
        if (kindOf(t) == ControlKind::GroupBox) {
            cell.lastCol = cell.col + cell.width;
            continue;
        }
        if (cell.row != row) row = cell.row, end = 0;
        cell.col = std::max(cell.col, end + 1);
        end = cell.col + cell.width;
    }
    // A group box reaches past whatever now lies inside it; the form past everything.
    int right = kFrame + m.dialog().w / kUnitsPerColumn;
    for (size_t b = 0; b < n; ++b) {
        if (kindOf(*controls[b].t) != ControlKind::GroupBox) continue;
        Cell& box = layout.cells[b];
        for (size_t i = 0; i < n; ++i) {
            const Cell& c = layout.cells[i];
            if (i != b && c.row > box.row && c.row < box.lastRow && c.col > box.col && c.col < box.lastCol)
                box.lastCol = std::max(box.lastCol, c.col + c.width + 1);
        }
    }
    for (const Cell& c : layout.cells) right = std::max({right, c.col + c.width, c.lastCol});
    layout.cols = right + 1 + kFrame;
    for (const Cell& c : layout.cells) layout.rows = std::max(layout.rows, c.lastRow + 1 + kFrame);
    return layout;
}

// Lines packed one after another, as the smallest terminal gets them.
constexpr int kPackedRows = 0;

bool isBox(const DialogManager& m, size_t i) { return kindOf(*m.controls()[i].t) == ControlKind::GroupBox; }

TerminalSize leastSize(const DialogManager& m) {
    const Layout packed = layOut(m, kPackedRows);
    TerminalSize least{packed.cols, 1};
    for (size_t i = 0; i < packed.cells.size(); ++i)
        if (isBox(m, i)) least.rows = std::max(least.rows, packed.cells[i].lastRow - packed.cells[i].row + 1);
    return least;
}

// The group box round a control, or the control itself when it is in none.
Cell groupOf(const DialogManager& m, const Layout& layout, size_t control) {
    const Cell& c = layout.cells[control];
    for (size_t b = 0; b < layout.cells.size(); ++b) {
        const Cell& box = layout.cells[b];
        if (b != control && isBox(m, b) && c.row > box.row && c.row < box.lastRow && c.col > box.col &&
            c.col < box.lastCol)
            return box;
    }
    return c;
}

// Plain characters rather than the terminal's line set: they look the same
// on every terminal and in a copy of the screen.
void drawBox(WINDOW* w, int top, int left, int bottom, int right) {
    mvwhline(w, top, left + 1, '-', right - left - 1);
    mvwhline(w, bottom, left + 1, '-', right - left - 1);
    mvwvline(w, top + 1, left, '|', bottom - top - 1);
    mvwvline(w, top + 1, right, '|', bottom - top - 1);
    for (int y : {top, bottom})
        for (int x : {left, right}) mvwaddch(w, y, x, '+');
}

constexpr const char* kKeysHelp = " Tab Space arrows  Enter OK  Esc Cancel ";

void draw(WINDOW* pad, const DialogManager& m, const Layout& layout) {
    werase(pad);
    drawBox(pad, 0, 0, layout.rows - 1, layout.cols - 1);
    mvwprintw(pad, 0, 2, " %.*s ", static_cast<int>(m.dialog().caption.size()), m.dialog().caption.data());
    if (static_cast<int>(std::string(kKeysHelp).size()) + 4 <= layout.cols)
        mvwaddstr(pad, layout.rows - 1, 2, kKeysHelp);
    const auto& controls = m.controls();
    for (size_t i = 0; i < controls.size(); ++i) {
        const DialogManager::Control& c = controls[i];
        const Cell& cell = layout.cells[i];
        if (kindOf(*c.t) == ControlKind::GroupBox) {
            drawBox(pad, cell.row, cell.col, cell.lastRow, cell.lastCol);
            mvwprintw(pad, cell.row, cell.col + 2, " %.*s ", static_cast<int>(c.t->text.size()),
                      c.t->text.data());
        }
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        const DialogManager::Control& c = controls[i];
        const Cell& cell = layout.cells[i];
        if (kindOf(*c.t) == ControlKind::GroupBox) continue;
        attr_t a = A_NORMAL;
        if (!c.enabled) a |= A_DIM;
        if (i == m.focus()) a |= A_REVERSE;
        if (kindOf(*c.t) == ControlKind::DefaultButton) a |= A_BOLD;
        wattrset(pad, a);
        mvwaddstr(pad, cell.row, cell.col, face(c, cell.width).c_str());
        wattrset(pad, A_NORMAL);
    }
}

// Shows as much of the form as the terminal holds, centred when it fits,
// else scrolled so that the focused control is in view with its whole group.
void show(WINDOW* pad, const Layout& layout, const Cell& focus, const Cell& group, int& top, int& left) {
    const int viewRows = std::min(layout.rows, LINES), viewCols = std::min(layout.cols, COLS);
    if (group.row < top) top = group.row;
    if (group.lastRow >= top + viewRows) top = group.lastRow - viewRows + 1;
    if (focus.row < top) top = focus.row;
    if (focus.row >= top + viewRows) top = focus.row - viewRows + 1;
    if (focus.col < left) left = focus.col;
    if (focus.col + focus.width > left + viewCols) left = focus.col + focus.width - viewCols;
    top = std::clamp(top, 0, layout.rows - viewRows);
    left = std::clamp(left, 0, layout.cols - viewCols);
    const int y = (LINES - viewRows) / 2, x = (COLS - viewCols) / 2;
    erase();
    wnoutrefresh(stdscr);
    pnoutrefresh(pad, top, left, y, x, y + viewRows - 1, x + viewCols - 1);
    doupdate();
}

void handleKey(DialogManager& m, int key) {
    switch (key) {
    case '\t': m.tab(true); break;
    case KEY_BTAB: m.tab(false); break;
    case KEY_UP:
    case KEY_LEFT: m.arrow(-1); break;
    case KEY_DOWN:
    case KEY_RIGHT: m.arrow(+1); break;
    case ' ': m.pressSpace(); break;
    case '\n':
    case '\r':
    case KEY_ENTER: m.pressEnter(); break;
    case kEscape:
    case kCtrlC: m.pressEscape(); break;
    default: break;
    }
}

struct Terminal {
    FILE* out = nullptr;
    FILE* in = nullptr;
    SCREEN* screen = nullptr;
    ~Terminal() {
        if (screen != nullptr) {
            endwin();
            delscreen(screen);
        }
        if (out != nullptr) std::fclose(out);
        if (in != nullptr) std::fclose(in);
    }
};

bool tooSmall(const TerminalSize& least) { return COLS < least.cols || LINES < least.rows; }

}  // namespace

TerminalSize configFormLeastSize() {
    // The lists' widths come from the items the dialog fills in as it opens.
    const auto instance = std::make_unique<ScopeInstance>();
    instance->settings = kDefaultSettings;
    DialogManager m(kConfigDialog, configDialogProc);
    m.open(reinterpret_cast<intptr_t>(instance.get()));
    return leastSize(m);
}

int32_t showConfigDialog(ScopeInstance& instance, void*) {
    Terminal term;
    term.out = std::fopen("/dev/tty", "w");
    term.in = std::fopen("/dev/tty", "r");
    if (term.out == nullptr || term.in == nullptr) return kDialogFailed;  // no controlling terminal
    term.screen = newterm(nullptr, term.out, term.in);
    if (term.screen == nullptr) return kDialogFailed;  // a terminal we cannot drive
    set_term(term.screen);
    raw();  // Ctrl-C cancels the form rather than killing the host
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(kEscapeDelayMs);
    curs_set(0);

    DialogManager m(kConfigDialog, configDialogProc);
    m.open(reinterpret_cast<intptr_t>(&instance));
    const TerminalSize least = leastSize(m);
    if (tooSmall(least)) return kDialogTooSmall;
    Layout layout = layOut(m, LINES);
    WINDOW* pad = newpad(layout.rows, layout.cols);
    if (pad == nullptr) return kDialogFailed;
    keypad(pad, TRUE);
    int top = 0, left = 0;
    while (!m.ended()) {
        // Shrunk below the least size while open: a note until it grows
        // again, when Escape still cancels.
        if (tooSmall(least)) {
            erase();
            mvprintw(0, 0, "Make the terminal at least %dx%d (Esc cancels)", least.cols, least.rows);
            refresh();
        } else {
            draw(pad, m, layout);
            show(pad, layout, layout.cells[m.focus()], groupOf(m, layout, m.focus()), top, left);
        }
        const int key = wgetch(pad);
        if (key == ERR) {
            m.pressEscape();  // the terminal went away
        } else if (key == KEY_RESIZE) {
            layout = layOut(m, LINES);
            delwin(pad);
            pad = newpad(layout.rows, layout.cols);
            if (pad == nullptr) return kDialogFailed;
            keypad(pad, TRUE);
        } else if (!tooSmall(least) || key == kEscape || key == kCtrlC) {
            handleKey(m, key);
        }
    }
    delwin(pad);
    return m.result();
}
