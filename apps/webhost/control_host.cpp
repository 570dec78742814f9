#include "apps/webhost/control_host.h"

#include <lumvara/module.h>
#include <lumvara/window.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "apps/webhost/picture_message.h"

namespace lumvara::webhost {
namespace {

using nlohmann::json;

// How long one pump waits for a window message before the thread looks at
// its task queue and the window's pixels again.
constexpr int kPumpMillis = 5;
// Full-resolution colour: the control draws one-pixel frames and small
// coloured text that half-resolution chroma would wash out.
constexpr int kJpegQuality = 90;

json FromVariant(const LumvaraVariant& v) {
  switch (v.vt) {
    case LUMVARA_VT_I4:
      return v.lVal;
    case LUMVARA_VT_BSTR:
      return v.bstrVal ? json(v.bstrVal) : json("");
    default:
      return nullptr;
  }
}

// Converts a page's value to the parameter's type; false when it does not
// fit (a string for a long, a fraction, a number out of 32-bit range ...).
bool ToVariant(const json& value, ValueType type, LumvaraVariant* out, std::string* text) {
  *out = LumvaraVariant{};
  if (type == ValueType::kLong) {
    if (!value.is_number_integer()) return false;
    const int64_t n = value.get<int64_t>();
    if (n < INT32_MIN || n > INT32_MAX) return false;
    out->vt = LUMVARA_VT_I4;
    out->lVal = static_cast<int32_t>(n);
    return true;
  }
  if (type == ValueType::kString) {
    if (!value.is_string()) return false;
    *text = value.get<std::string>();
    if (text->find('\0') != std::string::npos) return false;
    out->vt = LUMVARA_VT_BSTR;
    return true;
  }
  return false;
}

// How long the property page may take to paint itself.
constexpr auto kPropertyPageWait = std::chrono::seconds(2);

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) {
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (size_t k = 0; k < 4; ++k) out.push_back(k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3F] : '=');
  }
  return out;
}

std::string InvokeError(long code) {
  switch (code) {
    case LUMVARA_DISP_E_MEMBERNOTFOUND:
      return "unknown member";
    case LUMVARA_DISP_E_TYPEMISMATCH:
      return "wrong argument type";
    case LUMVARA_DISP_E_BADPARAMCOUNT:
      return "wrong number of arguments";
    default:
      return "call failed";
  }
}

}  // namespace

ControlHost::ControlHost(int id, std::shared_ptr<PageLink> link, const TypeLibrary& library)
    : id_(id), link_(std::move(link)), library_(library) {}

ControlHost::~ControlHost() {
  RequestQuit();
  if (thread_.joinable()) thread_.join();
}

void ControlHost::RequestQuit() { quit_ = true; }

void ControlHost::Start(int64_t requestId, int width, int height) {
  thread_ = std::thread([this, requestId, width, height] { ThreadMain(requestId, width, height); });
}

bool ControlHost::Create(int width, int height, std::string* error) {
  window_ = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, nullptr, width, height);
  if (window_ == nullptr) {
    *error = "cannot create the control's window";
    return false;
  }
  control_ = lumvara_control_create(LUMVARA_CONTROL_PROGID, window_, 0, 0, width, height);
  if (control_ == nullptr) {
    *error = "cannot create the control";
    return false;
  }
  compressor_ = tjInitCompress();
  if (compressor_ == nullptr) {
    *error = "cannot create the picture compressor";
    return false;
  }
  lumvara_control_advise(control_, &ControlHost::Sink, this);
  return true;
}

void ControlHost::ThreadMain(int64_t requestId, int width, int height) {
  std::string error;
  const bool ok = Create(width, height, &error);
  if (ok) {
    json properties = json::object();
    for (const Member& p : library_.properties()) properties[p.name] = ReadProperty(p);
    Reply(requestId, true, json{{"control", id_}, {"properties", properties}}, {});
  } else {
    Reply(requestId, false, nullptr, error);
    link_->ControlFailed(id_);
  }

  while (ok && !quit_) {
    lumvara_window_pump(kPumpMillis);
    RunTasks();
    MaybeSendPicture();
  }
  {
    std::lock_guard lock(mutex_);
    tasks_.clear();
  }
  if (control_ != nullptr) {
    lumvara_control_advise(control_, nullptr, nullptr);
    lumvara_control_destroy(control_);
  }
  if (window_ != nullptr) lumvara_window_destroy(window_);
  if (compressor_ != nullptr) tjDestroy(compressor_);
  // Messages the teardown left behind are dispatched before the thread ends.
  lumvara_window_pump(0);
}

void ControlHost::Post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
}

void ControlHost::RunTasks() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard lock(mutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) {
    if (!quit_) task();
  }
}

void ControlHost::Reply(int64_t requestId, bool ok, const json& value, const std::string& error) {
  json reply = {{"id", requestId}, {"ok", ok}};
  if (ok)
    reply["result"] = value;
  else
    reply["error"] = error;
  link_->SendText(reply.dump());
}

void ControlHost::Call(int64_t requestId, std::string name, json args) {
  Post([this, requestId, name = std::move(name), args = std::move(args)] {
    const Member* method = library_.Method(name);
    if (method == nullptr) return Reply(requestId, false, nullptr, "unknown method '" + name + "'");
    if (!args.is_array() || args.size() != method->params.size()) {
      return Reply(requestId, false, nullptr, name + " takes " + std::to_string(method->params.size()) + " arguments");
    }
    std::vector<LumvaraVariant> variants(args.size());
    std::vector<std::string> texts(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      if (!ToVariant(args[i], method->params[i].type, &variants[i], &texts[i])) {
        return Reply(requestId, false, nullptr, "argument '" + method->params[i].name + "' has the wrong type");
      }
    }
    for (size_t i = 0; i < variants.size(); ++i) {
      if (variants[i].vt == LUMVARA_VT_BSTR) variants[i].bstrVal = texts[i].c_str();
    }
    LumvaraVariant result{};
    const long rc = lumvara_control_invoke(control_, method->dispid, LUMVARA_DISPATCH_METHOD, variants.data(),
                                           static_cast<int>(variants.size()), &result);
    if (rc != LUMVARA_S_OK) return Reply(requestId, false, nullptr, InvokeError(rc));
    const json value = FromVariant(result);
    lumvara_variant_clear(&result);
    Reply(requestId, true, value, {});
  });
}

void ControlHost::Put(int64_t requestId, std::string name, json value) {
  Post([this, requestId, name = std::move(name), value = std::move(value)] {
    const Member* property = library_.Property(name);
    if (property == nullptr) return Reply(requestId, false, nullptr, "unknown property '" + name + "'");
    LumvaraVariant v{};
    std::string text;
    if (!ToVariant(value, property->type, &v, &text)) {
      return Reply(requestId, false, nullptr, "property '" + name + "' has the wrong type");
    }
    if (v.vt == LUMVARA_VT_BSTR) v.bstrVal = text.c_str();
    const long rc = lumvara_control_invoke(control_, property->dispid, LUMVARA_DISPATCH_PROPERTYPUT, &v, 1, nullptr);
    if (rc != LUMVARA_S_OK) return Reply(requestId, false, nullptr, InvokeError(rc));
    Reply(requestId, true, nullptr, {});
  });
}

void ControlHost::Mouse(int x, int y, int button, int clicks) {
  Post([this, x, y, button, clicks] { lumvara_window_send_mouse(ShownWindow(), x, y, button, clicks); });
}

void ControlHost::Key(int virtualKey) {
  Post([this, virtualKey] { lumvara_window_send_key(ShownWindow(), virtualKey); });
}

void ControlHost::Screen(int width, int height) {
  Post([width, height] { lumvara_window_set_screen_size(width, height); });
}

LumvaraWindow ControlHost::ShownWindow() {
  LumvaraWindow video = lumvara_control_video_window(control_);
  // Reading pixels fails on a child window, so this finds a full-screen view.
  if (video != nullptr && lumvara_window_read_pixels(video, nullptr, 0, 0, nullptr, nullptr) > 0) return video;
  return window_;
}

void ControlHost::Resize(int width, int height) {
  Post([this, width, height] {
    lumvara_window_set_rect(window_, 0, 0, width, height);
    lumvara_window_set_rect(lumvara_control_window(control_), 0, 0, width, height);
  });
}

void ControlHost::PictureDrawn() { pageReady_ = true; }

json ControlHost::ReadProperty(const Member& property) {
  LumvaraVariant v{};
  if (lumvara_control_invoke(control_, property.dispid, LUMVARA_DISPATCH_PROPERTYGET, nullptr, 0, &v) != LUMVARA_S_OK) {
    return nullptr;
  }
  json value = FromVariant(v);
  lumvara_variant_clear(&v);
  return value;
}

void ControlHost::Sink(LumvaraControl, int kind, int dispid, const LumvaraVariant* args, int argc, void* context) {
  static_cast<ControlHost*>(context)->OnSink(kind, dispid, args, argc);
}

void ControlHost::OnSink(int kind, int dispid, const LumvaraVariant* args, int argc) {
  if (kind == LUMVARA_SINK_PROPERTY_CHANGED) {
    const Member* property = library_.PropertyById(dispid);
    if (property == nullptr) return;
    link_->SendText(
        json{{"op", "property"}, {"control", id_}, {"name", property->name}, {"value", ReadProperty(*property)}}
            .dump());
    return;
  }
  const Member* event = library_.EventById(dispid);
  if (event == nullptr) return;
  json list = json::array();
  for (int i = 0; i < argc; ++i) list.push_back(FromVariant(args[i]));
  link_->SendText(json{{"op", "event"}, {"control", id_}, {"name", event->name}, {"args", list}}.dump());
}

void ControlHost::MaybeSendPicture() {
  if (!pageReady_) return;
  LumvaraWindow shown = ShownWindow();
  const unsigned long changes = lumvara_window_changes(shown);
  if (shown == lastShown_ && changes == lastChanges_) return;
  int width = 0;
  int height = 0;
  const long needed = lumvara_window_read_pixels(shown, nullptr, 0, 0, &width, &height);
  if (needed <= 0) return;
  pixels_.resize(static_cast<size_t>(needed));
  const double taken = PictureClockMillis();
  // The frame stamp changes with the pixels but is read apart from them: when
  // a new frame lands in between, the pixels may be either frame's, and the
  // older stamp is the one that never makes a picture look younger than it is.
  const double frameBefore = lumvara_window_frame_input_time(shown);
  if (lumvara_window_read_pixels(shown, pixels_.data(), needed, 0, &width, &height) != needed) return;
  const double frameAfter = lumvara_window_frame_input_time(shown);
  const double frame = frameBefore > 0 ? frameBefore : frameAfter;
  lastChanges_ = changes;
  lastShown_ = shown;

  std::string jpeg = Compress(pixels_, width, height);
  if (jpeg.empty()) return;
  std::string message = EncodePictureHeader(PictureHeader{static_cast<uint32_t>(id_), ++pictureSeq_, taken, frame});
  message.append(jpeg);
  pageReady_ = false;
  link_->SendBinary(std::move(message));
}

std::string ControlHost::Compress(const std::vector<unsigned char>& pixels, int width, int height) {
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  if (tjCompress2(compressor_, pixels.data(), width, width * 4, height, TJPF_BGRX, &jpeg, &jpegSize, TJSAMP_444,
                  kJpegQuality, TJFLAG_FASTDCT) != 0) {
    tjFree(jpeg);
    return {};
  }
  std::string out(reinterpret_cast<const char*>(jpeg), jpegSize);
  tjFree(jpeg);
  return out;
}

void ControlHost::PropertyPage(int64_t requestId, int width, int height) {
  Post([this, requestId, width, height] {
    // The page in a headless window of its own, drawn once and read back.
    LumvaraWindow holder = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, nullptr, width, height);
    LumvaraWindow page = holder != nullptr ? lumvara_property_page_create(holder, 0, 0, width, height) : nullptr;
    if (page == nullptr) {
      if (holder != nullptr) lumvara_window_destroy(holder);
      return Reply(requestId, false, nullptr, "cannot show the property page");
    }
    // Pumped until the page has painted and nothing more changes.
    const auto deadline = std::chrono::steady_clock::now() + kPropertyPageWait;
    unsigned long changes = 0;
    do {
      changes = lumvara_window_changes(holder);
      lumvara_window_pump(10);
    } while ((changes == 0 || lumvara_window_changes(holder) != changes) &&
             std::chrono::steady_clock::now() < deadline);
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    const long needed = lumvara_window_read_pixels(holder, nullptr, 0, 0, &w, &h);
    if (needed > 0) {
      pixels.resize(static_cast<size_t>(needed));
      if (lumvara_window_read_pixels(holder, pixels.data(), needed, 0, &w, &h) != needed) pixels.clear();
    }
    lumvara_window_destroy(holder);
    const std::string jpeg = pixels.empty() ? std::string() : Compress(pixels, w, h);
    if (jpeg.empty()) return Reply(requestId, false, nullptr, "cannot show the property page");
    Reply(requestId, true,
          json{{"caption", lumvara_property_page_caption()}, {"width", w}, {"height", h}, {"jpeg", Base64(jpeg)}}, {});
  });
}

}  // namespace lumvara::webhost
