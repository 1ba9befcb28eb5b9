#include "play/window.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "draw/text.h"

namespace {

constexpr int32_t kStatusMargin = 3;  // pixels around the status line's text
constexpr int32_t kStatusHeight = kGlyphSize + 2 * kStatusMargin;
constexpr uint32_t kStatusInk = 0xFFE0E0E0;    // opaque (the top byte) light grey, apart from any scope
constexpr uint32_t kStatusPaper = 0x00202020;  // dark grey, apart from the pictures' black
constexpr int32_t kNarrowestWindow = 320;      // room for most of the status line

std::string sdlError(const std::string& what) { return what + ": " + SDL_GetError(); }

// Names in the OpenGL renderer string of drivers that draw on the processor
// (Mesa's llvmpipe and softpipe, and its older swrast "Software Rasterizer").
constexpr const char* kSoftwareGl[] = {"llvmpipe", "softpipe", "Software Rasterizer"};

// Whether `renderer` draws through OpenGL done on the processor: then SDL's
// own software renderer does the same work (a copy, a whole-number zoom)
// for less, and leaves the processor to the module.
bool openGlOnTheProcessor(SDL_Renderer* renderer) {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) != 0 || info.name == nullptr ||
        std::strncmp(info.name, "opengl", std::strlen("opengl")) != 0)
        return false;
    using GetString = const GLubyte*(APIENTRY*)(GLenum);
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    if (getString == nullptr) return false;
    const auto* name = reinterpret_cast<const char*>(getString(GL_RENDERER));
    if (name == nullptr) return false;
    for (const char* soft : kSoftwareGl)
        if (std::strstr(name, soft) != nullptr) return true;
    return false;
}

// Copies `from`'s canvas rows into a streaming texture of the same size.
void upload(SDL_Texture* texture, const ConstFrame& from) {
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &pixels, &pitch) != 0) return;
    auto* to = static_cast<uint8_t*>(pixels);
    for (int32_t y = 0; y < from.h; ++y)
        std::memcpy(to + static_cast<ptrdiff_t>(y) * pitch, from.canvasRow(y),
                    static_cast<size_t>(from.w) * kBytesPerPixel);
    SDL_UnlockTexture(texture);
}

}  // namespace

void PlayWindow::close() {
    if (picture_ != nullptr) SDL_DestroyTexture(picture_);
    if (status_ != nullptr) SDL_DestroyTexture(status_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    picture_ = status_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
    initialised_ = false;
}

Status PlayWindow::connect() {
    if (initialised_) return {};
    // A window is all it shows: no screen saver rule of its own, no SIGINT taken over.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    // A drag that begins as the window gains focus is a drag: SDL would
    // otherwise drop a press that comes within a few milliseconds of it
    // (without a window manager, the pointer entering is such a moment).
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // Mesa writes its shader cache from a thread at the lowest priority, and
    // a process has ended only once each of its threads has: on a busy
    // machine that one waits seconds for the processor, and a viewer told to
    // stop lingers on. The renderer's few shaders compile in no time.
    // Set before any library reads it; a user's own setting stands.
    ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    // Without a display server SDL falls back to drivers that draw nowhere
    // (or on the console's framebuffer): a window nobody sees is no preview.
    // Only the servers the session names are tried; SDL_VIDEODRIVER, set on
    // purpose, is the user's to choose.
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (std::getenv("SDL_VIDEODRIVER") == nullptr) {
        if (x11 == nullptr && wayland == nullptr)
            return Status::fail("no display to open a window on: neither DISPLAY nor WAYLAND_DISPLAY is set");
        SDL_SetHint(SDL_HINT_VIDEODRIVER, x11 != nullptr ? "x11" : "wayland");
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return Status::fail("no display to open a window on: " + std::string(SDL_GetError()) +
                            (x11 != nullptr ? " (DISPLAY=" + std::string(x11) + ")" : ""));
    initialised_ = true;
    return {};
}

std::optional<TileSize> PlayWindow::screen() const {
    SDL_Rect usable{};
    if (!initialised_ || SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= 0)
        return std::nullopt;
    return TileSize{usable.w, usable.h};
}

std::optional<TileSize> PlayWindow::pictureRoom() const {
    const std::optional<TileSize> whole = screen();
    if (!whole || whole->h <= kStatusHeight) return std::nullopt;
    return TileSize{whole->w, whole->h - kStatusHeight};
}

Status PlayWindow::open(const std::string& title, int32_t w, int32_t h) {
    if (Status s = connect(); !s.ok()) return s;
    int32_t ww = std::max(w, kNarrowestWindow), wh = h + kStatusHeight;
    if (const std::optional<TileSize> usable = screen()) {
        ww = std::min(ww, usable->w);
        wh = std::min(wh, usable->h);
    }
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, ww, wh,
                               SDL_WINDOW_RESIZABLE);
    if (window_ == nullptr) return Status::fail(sdlError("cannot open the window"));
    renderer_ = SDL_CreateRenderer(window_, -1, 0);
    // A driver asked for by name (SDL_RENDER_DRIVER) is the user's choice.
    if (renderer_ != nullptr && SDL_GetHint(SDL_HINT_RENDER_DRIVER) == nullptr &&
        openGlOnTheProcessor(renderer_)) {
        SDL_DestroyRenderer(renderer_);
        // Else SDL keeps the window's own pixels in an OpenGL texture: the same cost again.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    }
    if (renderer_ == nullptr) return Status::fail(sdlError("cannot draw in the window"));
    return {};
}

Status PlayWindow::ensureTexture(SDL_Texture*& texture, int32_t& tw, int32_t& th, int32_t w, int32_t h) {
    if (texture != nullptr && tw == w && th == h) return {};
    if (texture != nullptr) SDL_DestroyTexture(texture);
    // 0x00RRGGBB in a 32-bit word: the module's pixels as they are.
    texture = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
    if (texture == nullptr) return Status::fail(sdlError("cannot hold a picture in the window"));
    tw = w;
    th = h;
    return {};
}

void PlayWindow::place() {
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(renderer_, &ow, &oh);
    const int32_t areaW = ow, areaH = std::max(1, oh - kStatusHeight);
    const int32_t zoom = std::min(areaW / pictureW_, areaH / pictureH_);
    scaledDown_ = zoom < 1;
    if (zoom >= 1) {
        shownW_ = pictureW_ * zoom;
        shownH_ = pictureH_ * zoom;
    } else {
        // The whole output, smaller: only then may pixels be skipped.
        const double scale =
            std::min(static_cast<double>(areaW) / pictureW_, static_cast<double>(areaH) / pictureH_);
        shownW_ = std::max(1, static_cast<int32_t>(pictureW_ * scale));
        shownH_ = std::max(1, static_cast<int32_t>(pictureH_ * scale));
    }
    atX_ = (areaW - shownW_) / 2;
    atY_ = (areaH - shownH_) / 2;
}

void PlayWindow::redraw() {
    if (picture_ == nullptr) return;
    place();
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer_);
    const SDL_Rect at{atX_, atY_, shownW_, shownH_};
    SDL_RenderCopy(renderer_, picture_, nullptr, &at);
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(renderer_, &ow, &oh);
    const SDL_Rect line{0, oh - kStatusHeight, statusW_, statusH_};
    SDL_RenderCopy(renderer_, status_, nullptr, &line);
    SDL_RenderPresent(renderer_);
}

Status PlayWindow::setPicture(const FrameBuffer& picture) {
    if (Status s = ensureTexture(picture_, pictureW_, pictureH_, picture.w(), picture.h()); !s.ok()) return s;
    upload(picture_, picture.frame());
    return {};
}

Status PlayWindow::present(const std::string& status) {
    if (picture_ == nullptr) return {};
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(renderer_, &ow, &oh);
    const int32_t stripW = std::max(1, ow);
    // The line is drawn again only when its words or the window's width change.
    if (statusStrip_.w() != stripW || status_ == nullptr || status != statusShown_) {
        if (statusStrip_.w() != stripW)
            statusStrip_ = FrameBuffer(stripW, kStatusHeight, kBytesPerPixel * stripW);
        const Frame strip = statusStrip_.frame();
        for (int32_t y = 0; y < strip.h; ++y) std::fill_n(strip.canvasRow(y), strip.w, kStatusPaper);
        drawText(strip, kStatusMargin, kStatusMargin, status.c_str(), kStatusInk);
        if (Status s = ensureTexture(status_, statusW_, statusH_, stripW, kStatusHeight); !s.ok()) return s;
        upload(status_, statusStrip_.frame());
        statusShown_ = status;
    }
    redraw();
    return {};
}

void PlayWindow::toggleFullScreen() {
    fullScreen_ = !fullScreen_;
    SDL_SetWindowFullscreen(window_, fullScreen_ ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

PicturePoint PlayWindow::pictureAt(int32_t windowX, int32_t windowY) const {
    PicturePoint p;
    if (shownW_ <= 0 || shownH_ <= 0) return p;
    // Window points are in the window's units; the renderer's may be finer.
    int ww = 0, wh = 0, ow = 0, oh = 0;
    SDL_GetWindowSize(window_, &ww, &wh);
    SDL_GetRendererOutputSize(renderer_, &ow, &oh);
    const int64_t x = ww > 0 ? static_cast<int64_t>(windowX) * ow / ww : windowX;
    const int64_t y = wh > 0 ? static_cast<int64_t>(windowY) * oh / wh : windowY;
    p.x = static_cast<int32_t>((x - atX_) * pictureW_ / shownW_);
    p.y = static_cast<int32_t>((y - atY_) * pictureH_ / shownH_);
    p.inside = x >= atX_ && y >= atY_ && p.x < pictureW_ && p.y < pictureH_;
    return p;
}
