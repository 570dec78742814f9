// The SDL2 presenter: shows a top-level window as a desktop window (X11,
// Wayland, or SDL's offscreen and dummy drivers) through its window surface,
// and reports the desktop's mouse, key, close and resize events.
//
// SDL wants its video calls and its event queue on one thread, so every SDL
// presenter of the process lives on the thread that created the first one.
#include <SDL.h>

#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/log/log.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"

namespace lumvara::winsys {

namespace {

// How often an idle loop looks at SDL's event queue.
constexpr int kEventPollMs = 10;

class SdlPresenter;

// Presenters by SDL window id, so that events drained by one presenter reach
// the window they belong to. Used on the SDL thread only.
std::map<Uint32, SdlPresenter*>& Registry() {
  static std::map<Uint32, SdlPresenter*> registry;
  return registry;
}

uint32_t VirtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint32_t>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint32_t>('0' + (key - SDLK_0));
  switch (key) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_DOWN:
      return VK_DOWN;
    default:
      return 0;
  }
}

class SdlPresenter final : public Presenter {
 public:
  SdlPresenter() = default;
  ~SdlPresenter() override {
    if (window_) {
      Registry().erase(SDL_GetWindowID(window_));
      SDL_DestroyWindow(window_);
    }
  }

  // SDL's video subsystem is started once and kept for the life of the
  // process: shutting it down unloads the display libraries SDL opened,
  // which do not free everything they allocated, and a later window would
  // load them all again.
  static bool Init() {
    static std::mutex mutex;
    static bool initialised = false;
    static std::thread::id owner;
    std::lock_guard lock(mutex);
    if (initialised) {
      if (owner == std::this_thread::get_id()) return true;
      logf("SDL windows must all be made on one thread\n");
      return false;
    }
    // The host keeps its own signal handling.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // Window surfaces are plain memory: no OpenGL renderer behind them.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      logf("SDL video init failed: %s\n", SDL_GetError());
      return false;
    }
    initialised = true;
    owner = std::this_thread::get_id();
    return true;
  }

  const char* name() const override { return "sdl"; }

  bool Open(const Rect& screen_rect, const std::string& title, uint32_t style) override {
    if (window_) return true;
    Uint32 flags = (style & WS_POPUP) ? SDL_WINDOW_BORDERLESS : SDL_WINDOW_RESIZABLE;
    if (!(style & WS_VISIBLE)) flags |= SDL_WINDOW_HIDDEN;
    window_ = SDL_CreateWindow(title.c_str(), screen_rect.left, screen_rect.top, screen_rect.width(),
                               screen_rect.height(), flags);
    if (!window_) {
      logf("SDL window creation failed: %s\n", SDL_GetError());
      return false;
    }
    Registry()[SDL_GetWindowID(window_)] = this;
    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
      SetScreenSize(mode.w, mode.h);
    }
    rect_ = screen_rect;
    return true;
  }

  void Move(const Rect& screen_rect) override {
    if (!window_ || screen_rect == rect_) return;
    if (screen_rect.left != rect_.left || screen_rect.top != rect_.top) {
      SDL_SetWindowPosition(window_, screen_rect.left, screen_rect.top);
    }
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    if (w != screen_rect.width() || h != screen_rect.height()) {
      SDL_SetWindowSize(window_, screen_rect.width(), screen_rect.height());
    }
    rect_ = screen_rect;
  }

  void SetTitle(const std::string& title) override {
    if (window_ && title != title_) SDL_SetWindowTitle(window_, title.c_str());
    title_ = title;
  }

  void SetVisible(bool visible) override {
    if (!window_) return;
    if (visible) {
      SDL_ShowWindow(window_);
    } else {
      SDL_HideWindow(window_);
    }
  }

  void SetTopmost(bool topmost) override {
    if (window_) SDL_SetWindowAlwaysOnTop(window_, topmost ? SDL_TRUE : SDL_FALSE);
  }

  // The window tree gives the window the screen's rectangle; here it only
  // loses (or gets back) its borders. This works with any window manager and
  // with none (an X server on its own ignores full-screen requests).
  bool SetFullscreen(bool on) override {
    if (!window_) return false;
    SDL_SetWindowBordered(window_, on ? SDL_FALSE : SDL_TRUE);
    if (on) SDL_RaiseWindow(window_);
    return true;
  }

  void Present(const uint8_t* pixels, int pitch, int width, int height) override {
    if (!window_) return;
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (!surface) return;
    const int w = std::min(width, surface->w);
    const int h = std::min(height, surface->h);
    if (w > 0 && h > 0 &&
        SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_RGB888, pixels, pitch, surface->format->format, surface->pixels,
                          surface->pitch) == 0) {
      SDL_UpdateWindowSurface(window_);
    }
  }

  bool presents_from_any_thread() const override { return false; }

  bool ReadBack(std::vector<uint8_t>* out, int* width, int* height) const override {
    if (!window_) return false;
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (!surface) return false;
    out->assign(static_cast<size_t>(surface->w) * surface->h * 4, 0);
    if (SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels, surface->pitch,
                          SDL_PIXELFORMAT_RGB888, out->data(), surface->w * 4) != 0) {
      return false;
    }
    if (width) *width = surface->w;
    if (height) *height = surface->h;
    return true;
  }

  void PollEvents(InputSink& sink, int* wake_ms) override {
    *wake_ms = kEventPollMs;
    if (!window_) return;
    SDL_Event event;
    while (SDL_PollEvent(&event)) Route(event);
    auto events = std::move(pending_);
    pending_.clear();
    for (const SDL_Event& e : events) Handle(e, sink);
  }

  std::unique_ptr<Presenter> CreateSibling() const override { return CreateSdlPresenter(); }

 private:
  static Uint32 WindowIdOf(const SDL_Event& e) {
    switch (e.type) {
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        return e.button.windowID;
      case SDL_KEYDOWN:
        return e.key.windowID;
      case SDL_WINDOWEVENT:
        return e.window.windowID;
      default:
        return 0;
    }
  }

  // Hands an event to the presenter of its window.
  static void Route(const SDL_Event& e) {
    auto it = Registry().find(WindowIdOf(e));
    if (it != Registry().end()) it->second->pending_.push_back(e);
  }

  void Handle(const SDL_Event& e, InputSink& sink) {
    switch (e.type) {
      case SDL_MOUSEBUTTONDOWN:
        sink.MouseDown({e.button.x, e.button.y}, e.button.button, e.button.clicks);
        break;
      case SDL_MOUSEBUTTONUP:
        sink.MouseUp({e.button.x, e.button.y}, e.button.button);
        break;
      case SDL_KEYDOWN:
        if (uint32_t vk = VirtualKey(e.key.keysym.sym)) sink.KeyDown(vk);
        break;
      case SDL_WINDOWEVENT:
        HandleWindowEvent(e.window, sink);
        break;
      default:
        break;
    }
  }

  void HandleWindowEvent(const SDL_WindowEvent& e, InputSink& sink) {
    switch (e.event) {
      case SDL_WINDOWEVENT_CLOSE:
        sink.CloseRequested();
        break;
      case SDL_WINDOWEVENT_SIZE_CHANGED:
        rect_.right = rect_.left + e.data1;
        rect_.bottom = rect_.top + e.data2;
        sink.Resized(e.data1, e.data2);
        break;
      case SDL_WINDOWEVENT_MOVED:
        rect_ = rect_.offset(e.data1 - rect_.left, e.data2 - rect_.top);
        sink.Moved(e.data1, e.data2);
        break;
      case SDL_WINDOWEVENT_EXPOSED:
        sink.Exposed();
        break;
      default:
        break;
    }
  }

  SDL_Window* window_ = nullptr;
  Rect rect_;
  std::string title_;
  std::vector<SDL_Event> pending_;
};

}  // namespace

std::unique_ptr<Presenter> CreateSdlPresenter() {
  if (!SdlPresenter::Init()) return nullptr;
  return std::make_unique<SdlPresenter>();
}

}  // namespace lumvara::winsys
