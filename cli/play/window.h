// The viewer's window: the module's output at a whole-number zoom (nearest
// neighbour, so a scope's pixels stay exact) or, when it cannot fit, scaled
// down to fit; below it a status line in the filter's own 8x8 font. SDL2
// holds the window; nothing here draws on the module's pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "layout/tile_layout.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

// Where a window point falls on the picture, in its pixels.
struct PicturePoint {
    bool inside = false;
    int32_t x = 0, y = 0;
};

class PlayWindow {
public:
    PlayWindow() = default;
    ~PlayWindow() { close(); }
    PlayWindow(const PlayWindow&) = delete;
    PlayWindow& operator=(const PlayWindow&) = delete;

    // Reaches the display server; fails, in one line, without one.
    Status connect();
    // The screen's usable area (less the desktop's panels), and of it the
    // room for a picture above the status line; none when the server does not say.
    std::optional<TileSize> screen() const;
    std::optional<TileSize> pictureRoom() const;
    // Connects if need be and opens a window for a w x h picture.
    Status open(const std::string& title, int32_t w, int32_t h);
    // Takes `picture` (the module's output) into the window: once this
    // returns, the buffer is free for the next frame; present() shows it.
    Status setPicture(const FrameBuffer& picture);
    // Shows the last picture with `status` beneath it.
    Status present(const std::string& status);
    // Draws the last picture again at the window's present size.
    void redraw();
    void toggleFullScreen();
    // Whether the last picture was shown smaller than its pixels.
    bool scaledDown() const { return scaledDown_; }
    PicturePoint pictureAt(int32_t windowX, int32_t windowY) const;
    // SDL's window, for what knows its window system (null before open()).
    SDL_Window* handle() const { return window_; }
    // The window and the connection go (calls the display must answer).
    void close();

private:
    Status ensureTexture(SDL_Texture*& texture, int32_t& tw, int32_t& th, int32_t w, int32_t h);
    void place();

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* picture_ = nullptr;
    SDL_Texture* status_ = nullptr;
    int32_t pictureW_ = 0, pictureH_ = 0, statusW_ = 0, statusH_ = 0;
    FrameBuffer statusStrip_;
    std::string statusShown_;  // the text the status texture holds
    // The picture's place in the window, in output pixels (for high-DPI the same).
    int32_t atX_ = 0, atY_ = 0, shownW_ = 0, shownH_ = 0;
    bool scaledDown_ = false, fullScreen_ = false, initialised_ = false;
};
