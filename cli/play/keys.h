// The viewer's keys, as a player's: one table that both the event loop and
// the `?` help read, so a key cannot work without being listed.
#pragma once

#include <cstdint>
#include <string>

enum class PlayAction {
    None,
    Quit,
    Pause,
    Back,  // a frame when paused, seconds when playing
    Forward,
    BackLong,  // a minute
    ForwardLong,
    Home,
    End,
    Display,    // `value`: the display mode
    Flip,       // `value`: the Config argument switched
    Channels,   // the next set of channel switches
    HotAction,  // the next hot pixel action
    Ceiling,    // the next hot pixel ceiling
    SavePicture,
    SaveDefaults,
    FullScreen,
    Help,
};

struct KeyBinding {
    int32_t key;  // an SDL_Keycode
    bool shift;   // with Shift held (a capital letter)
    PlayAction action;
    int value;
    const char* name;  // as the help shows the key
    const char* does;
};

// The binding of a key press, or one with PlayAction::None.
const KeyBinding& bindingFor(int32_t key, bool shift);
// Every binding, a line each: "Space  pause or play".
std::string keysHelp();
// The keys in one line, short enough for the status line.
std::string keysLine();
