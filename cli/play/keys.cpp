#include "play/keys.h"

#include <SDL.h>

#include "core/settings_vocabulary.h"

namespace {

// key, shift, what it does, its value, the key's name, the help's words
constexpr KeyBinding kBindings[] = {
    {SDLK_q, false, PlayAction::Quit, 0, "q", "quit"},
    {SDLK_ESCAPE, false, PlayAction::Quit, 0, "Esc", "quit"},
    {SDLK_SPACE, false, PlayAction::Pause, 0, "Space", "pause or play"},
    {SDLK_LEFT, false, PlayAction::Back, 0, "Left", "a frame back (paused), 5 s back (playing)"},
    {SDLK_RIGHT, false, PlayAction::Forward, 0, "Right", "a frame on (paused), 5 s on (playing)"},
    {SDLK_DOWN, false, PlayAction::BackLong, 0, "Down", "a minute back"},
    {SDLK_UP, false, PlayAction::ForwardLong, 0, "Up", "a minute on"},
    {SDLK_HOME, false, PlayAction::Home, 0, "Home", "the first frame"},
    {SDLK_END, false, PlayAction::End, 0, "End", "the last frame"},
    {SDLK_1, false, PlayAction::Display, static_cast<int>(DisplayMode::Histograms), "1", "histograms"},
    {SDLK_2, false, PlayAction::Display, static_cast<int>(DisplayMode::HotPixel), "2", "hot pixel scan"},
    {SDLK_3, false, PlayAction::Display, static_cast<int>(DisplayMode::Video), "3", "video"},
    {SDLK_4, false, PlayAction::Display, static_cast<int>(DisplayMode::Waveform), "4", "waveform"},
    {SDLK_5, false, PlayAction::Display, static_cast<int>(DisplayMode::Vectorscope), "5", "vectorscope"},
    {SDLK_g, false, PlayAction::Flip, kArgWfmGrid, "g", "grid on or off"},
    {SDLK_a, false, PlayAction::Flip, kArgAccum, "a", "accumulate on or off"},
    {SDLK_p, false, PlayAction::Flip, kArgPassthru, "p", "passthru on or off"},
    {SDLK_r, false, PlayAction::Flip, kArgRng255, "r", "source range 0-255 or 16-235"},
    {SDLK_d, false, PlayAction::Flip, kArgStdDef, "d", "matrix 601 or 709"},
    {SDLK_n, false, PlayAction::Flip, kArgNtsc, "n", "NTSC or PAL"},
    {SDLK_c, false, PlayAction::Channels, 0, "c", "next channels (all, luma, red, green, blue)"},
    {SDLK_h, false, PlayAction::HotAction, 0, "h", "next hot pixel action"},
    {SDLK_h, true, PlayAction::Ceiling, 0, "H", "next hot pixel ceiling (100, 110, 120 IRE)"},
    {SDLK_s, false, PlayAction::SavePicture, 0, "s", "save the display as a PNG"},
    {SDLK_s, true, PlayAction::SaveDefaults, 0, "S", "save the settings as the defaults"},
    {SDLK_f, false, PlayAction::FullScreen, 0, "f", "full screen on or off"},
    {SDLK_SLASH, true, PlayAction::Help, 0, "?", "these keys"},
    {SDLK_QUESTION, false, PlayAction::Help, 0, "?", "these keys"},
};

constexpr KeyBinding kNoBinding = {0, false, PlayAction::None, 0, "", ""};

}  // namespace

const KeyBinding& bindingFor(int32_t key, bool shift) {
    for (const KeyBinding& b : kBindings)
        if (b.key == key && b.shift == shift) return b;
    return kNoBinding;
}

std::string keysHelp() {
    std::string text;
    std::string previous;
    for (const KeyBinding& b : kBindings) {
        if (b.does == previous) continue;  // one line for two keys that do the same
        previous = b.does;
        text += std::string(b.name) + "\t" + b.does + "\n";
    }
    return text;
}

std::string keysLine() {
    return "Spc pause  <- -> step/5s  Up Dn 1min  1-5 display  g a p r d n c h H  s S f  q quit";
}
