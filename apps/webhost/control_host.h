#pragma once
// One control of a page, on a window thread of its own: a headless
// top-level window the size of the page element (in device pixels) with the
// control as its child. The thread pumps the window's messages (it is the
// control's page thread), runs the calls the page sends, forwards the
// control's events and property changes, and sends the window's pixels as
// JPEG whenever they changed and the page has drawn the previous picture.

#include <lumvara/control.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/webhost/type_library.h"

namespace lumvara::webhost {

// Where a control's messages go: the page's socket. Thread-safe.
class PageLink {
 public:
  virtual ~PageLink() = default;
  virtual void SendText(std::string text) = 0;
  virtual void SendBinary(std::string bytes) = 0;
  // The control could not be created; its host may be destroyed.
  virtual void ControlFailed(int id) = 0;
};

class ControlHost {
 public:
  ControlHost(int id, std::shared_ptr<PageLink> link, const TypeLibrary& library);
  // Tears the control down (its StopVideo path) and ends the thread.
  ~ControlHost();
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;

  // Starts the thread, which creates the window and the control and then
  // answers request `requestId`: the control's id and its property values,
  // or an error (and PageLink::ControlFailed).
  void Start(int64_t requestId, int width, int height);
  // Asks the thread to tear the control down; the destructor waits for it.
  void RequestQuit();

  int id() const { return id_; }

  // Each runs on the control's thread and answers request `requestId`.
  void Call(int64_t requestId, std::string name, nlohmann::json args);
  void Put(int64_t requestId, std::string name, nlohmann::json value);
  // Input and size from the page element; no answer.
  void Mouse(int x, int y, int button, int clicks);
  void Key(int virtualKey);
  void Resize(int width, int height);
  // The page's screen in device pixels: what a full-screen view covers.
  void Screen(int width, int height);
  // The page has painted the last picture; the next one may be sent.
  void PictureDrawn();
  // Draws the control's property page at width x height and answers
  // `requestId` with its caption and its picture (a JPEG, base64).
  void PropertyPage(int64_t requestId, int width, int height);

 private:
  void Post(std::function<void()> task);
  void ThreadMain(int64_t requestId, int width, int height);
  bool Create(int width, int height, std::string* error);
  void RunTasks();
  void MaybeSendPicture();
  // The window's pixels as a JPEG; empty on failure.
  std::string Compress(const std::vector<unsigned char>& pixels, int width, int height);
  // The window whose pixels the page shows: the control's window, or its
  // video window while that is full screen (a top-level window of its own).
  LumvaraWindow ShownWindow();
  void OnSink(int kind, int dispid, const LumvaraVariant* args, int argc);
  static void Sink(LumvaraControl control, int kind, int dispid, const LumvaraVariant* args, int argc, void* context);
  void Reply(int64_t requestId, bool ok, const nlohmann::json& value, const std::string& error);
  nlohmann::json ReadProperty(const Member& property);

  const int id_;
  std::shared_ptr<PageLink> link_;
  const TypeLibrary& library_;

  std::thread thread_;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> pageReady_{true};

  // Control thread only.
  LumvaraWindow window_ = nullptr;
  LumvaraControl control_ = nullptr;
  unsigned long lastChanges_ = 0;
  LumvaraWindow lastShown_ = nullptr;
  uint32_t pictureSeq_ = 0;
  std::vector<unsigned char> pixels_;
  void* compressor_ = nullptr;  // tjhandle, one per control
};

}  // namespace lumvara::webhost
