// The hosting API: a control behind an opaque handle, driven by DISPID
// through the dispatcher, with the host's event sink.
#include <lumvara/control.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "control/dispatch/dispatch_table.h"
#include "control/dispatch/dispatcher.h"
#include "control/dispatch/type_library.h"
#include "control/live_controls.h"
#include "control/module/class_factory.h"
#include "control/lumvara_ctrl.h"
#include "platform/log/log.h"
#include "platform/winsys/window.h"

using lumvara::control::CLumvaraCtrl;
using lumvara::control::ControlEvents;
using lumvara::control::DispatchArgs;
using lumvara::control::DispatchTarget;
using lumvara::control::DispatchValue;
namespace dispid = lumvara::control::dispid;

struct LumvaraControlObject final : public ControlEvents, public DispatchTarget {
  LumvaraControlObject() : thread(std::this_thread::get_id()), ctrl(this) {}

  // ---- ControlEvents: runs on the window thread ----
  void FireEvent(int eventDispid, std::vector<DispatchValue> args) override {
    if (!sink) return;
    ++sinkDepth;
    lumvara::control::FireEvent(sink, this, sinkContext, eventDispid, std::move(args));
    --sinkDepth;
  }
  void PropertyChanged(int propertyDispid) override {
    if (!sink) return;
    ++sinkDepth;
    lumvara::control::FirePropertyChanged(sink, this, sinkContext, propertyDispid);
    --sinkDepth;
  }

  // ---- DispatchTarget: the call has passed the dispatcher's checks ----
  DispatchValue InvokeMethod(int id, const DispatchArgs& a) override {
    auto result = [](int32_t value) { return DispatchValue::Long(value); };
    switch (id) {
      case dispid::kPlayVideo:
        return result(ctrl.PlayVideo(a.String(0), a.String(1), a.String(2), a.Long(3), a.Long(4), a.Long(5)));
      case dispid::kStopVideo:
        return result(ctrl.StopVideo());
      case dispid::kSetFocus:
        return result(ctrl.SetFocus(a.Long(0)));
      case dispid::kShowMax:
        ctrl.ShowMax();
        break;
      case dispid::kShowNormal:
        ctrl.ShowNormal();
        break;
      case dispid::kCapturePic:
        return result(ctrl.CapturePic());
      case dispid::kOpenSound:
        return result(ctrl.OpenSound());
      case dispid::kCloseSound:
        return result(ctrl.CloseSound());
      case dispid::kStartTalk:
        return result(ctrl.StartTalk());
      case dispid::kStopTalk:
        return result(ctrl.StopTalk());
      case dispid::kStartRecord:
        return result(ctrl.StartRecord());
      case dispid::kStopRecord:
        return result(ctrl.StopRecord());
      case dispid::kSetPath:
        ctrl.SetPath();
        break;
      case dispid::kOnSearchCameras:
        ctrl.OnSearchCameras();
        break;
      case dispid::kSetFlip:
        return result(ctrl.SetFlip(a.Long(0)));
      case dispid::kSetOsd:
        return result(ctrl.SetOsd(a.String(0)));
      case dispid::kRemoveOsd:
        return result(ctrl.RemoveOsd());
      case dispid::kUpdataSize:
        ctrl.UpdataSize();
        break;
      case dispid::kSetRecordProperty:
        ctrl.SetRecordProperty(a.Long(0), a.Long(1), a.Long(2), a.Long(3));
        break;
      case dispid::kSdRecordFilePlay:
        return result(ctrl.SdRecordFilePlay(a.String(0), a.String(1), a.String(2), a.Long(3), a.String(4), a.Long(5)));
      case dispid::kSdRecordFileStop:
        return result(ctrl.SdRecordFileStop());
      case dispid::kSdRecordFileSetPos:
        return result(ctrl.SdRecordFileSetPos(a.Long(0)));
      case dispid::kSetAlias:
        return result(ctrl.SetAlias(a.String(0)));
      case dispid::kGetVersion:
        return result(ctrl.GetVersion());
      default:
        break;
    }
    return DispatchValue::Empty();
  }

  DispatchValue GetProperty(int id) override {
    switch (id) {
      case dispid::kSoundState:
        return DispatchValue::Long(ctrl.m_SoundState);
      case dispid::kTalkState:
        return DispatchValue::Long(ctrl.m_TalkState);
      case dispid::kRecordState:
        return DispatchValue::Long(ctrl.m_RecordState);
      case dispid::kVideoState:
        return DispatchValue::Long(ctrl.m_VideoState);
      case dispid::kRecFilePath:
        return DispatchValue::String(ctrl.m_RecFilePath);
      case dispid::kRecFileLen:
        return DispatchValue::Long(ctrl.m_RecFileLen);
      case dispid::kRecTimeLen:
        return DispatchValue::Long(ctrl.m_RecTimeLen);
      case dispid::kReservedSpace:
        return DispatchValue::Long(ctrl.m_ReservedSpace);
      case dispid::kRecCover:
        return DispatchValue::Long(ctrl.m_RecCover);
      default:
        return DispatchValue::Empty();
    }
  }

  void PutProperty(int id, const DispatchValue& value) override {
    // A plain store and the change handler: nothing starts or stops.
    switch (id) {
      case dispid::kSoundState:
        ctrl.m_SoundState = value.lVal;
        ctrl.OnSoundStateChanged();
        break;
      case dispid::kTalkState:
        ctrl.m_TalkState = value.lVal;
        ctrl.OnTalkStateChanged();
        break;
      case dispid::kRecordState:
        ctrl.m_RecordState = value.lVal;
        ctrl.OnRecordStateChanged();
        break;
      case dispid::kVideoState:
        ctrl.m_VideoState = value.lVal;
        ctrl.OnVideoStateChanged();
        break;
      case dispid::kRecFilePath:
        ctrl.m_RecFilePath = value.str;
        ctrl.OnRecFilePathChanged();
        break;
      case dispid::kRecFileLen:
        ctrl.m_RecFileLen = value.lVal;
        ctrl.OnRecFileLenChanged();
        break;
      case dispid::kRecTimeLen:
        ctrl.m_RecTimeLen = value.lVal;
        ctrl.OnRecTimeLenChanged();
        break;
      case dispid::kReservedSpace:
        ctrl.m_ReservedSpace = value.lVal;
        ctrl.OnReservedSpaceChanged();
        break;
      case dispid::kRecCover:
        ctrl.m_RecCover = value.lVal;
        ctrl.OnRecCoverChanged();
        break;
      default:
        break;
    }
  }

  bool OnWindowThread() const { return std::this_thread::get_id() == thread; }

  const std::thread::id thread;
  LumvaraEventSink sink = nullptr;
  void* sinkContext = nullptr;
  int sinkDepth = 0;  // > 0 while the host's sink runs
  CLumvaraCtrl ctrl;
};

namespace {

constexpr int kMaxSide = 16384;

std::mutex& LiveMutex() {
  static std::mutex mutex;
  return mutex;
}

std::set<LumvaraControlObject*>& LiveSet() {
  static auto* controls = new std::set<LumvaraControlObject*>;
  return *controls;
}

// The control, when the handle names one that exists.
LumvaraControlObject* Live(LumvaraControl control) {
  std::lock_guard lock(LiveMutex());
  return LiveSet().count(control) ? control : nullptr;
}

// The control, when it exists and the caller is its window thread.
LumvaraControlObject* LiveOnThread(LumvaraControl control) {
  LumvaraControlObject* object = Live(control);
  return object && object->OnWindowThread() ? object : nullptr;
}

}  // namespace

namespace lumvara::control {

size_t LiveControlCount() {
  std::lock_guard lock(LiveMutex());
  return LiveSet().size();
}

}  // namespace lumvara::control

extern "C" {

LUMVARA_API LumvaraControl lumvara_control_create(const char* progid, LumvaraWindow parent, int x, int y, int width,
                                                  int height) {
  if (progid == nullptr || std::strcmp(progid, LUMVARA_CONTROL_PROGID) != 0) return nullptr;
  // Through the class factory DllGetClassObject hands out.
  void* control = nullptr;
  lumvara::control::ControlClassFactory().CreateInstance(parent, x, y, width, height, &control);
  return static_cast<LumvaraControl>(control);
}

}  // extern "C"

// The control factory's creation (class_factory.h).
LumvaraControl lumvara::control::CreateHostedControl(lumvara::winsys::HWND parent, int x, int y, int width,
                                                     int height) {
  if (!lumvara::winsys::IsWindow(parent)) return nullptr;
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return nullptr;
  auto object = std::make_unique<LumvaraControlObject>();
  if (!object->ctrl.CreateControlWindow(parent, {x, y, x + width, y + height})) {
    lumvara::logf("control: the control's window cannot be created");
    return nullptr;
  }
  std::lock_guard lock(LiveMutex());
  LiveSet().insert(object.get());
  return object.release();
}

extern "C" {

LUMVARA_API int lumvara_control_get_dispid(LumvaraControl control, const char* name) {
  if (name == nullptr || Live(control) == nullptr) return -1;
  return lumvara::control::LookupDispid(name);
}

LUMVARA_API long lumvara_control_invoke(LumvaraControl control, int dispid, int flags, const LumvaraVariant* args,
                                        int argc, LumvaraVariant* result) {
  LumvaraControlObject* object = Live(control);
  if (object == nullptr) {
    if (result) *result = LumvaraVariant{LUMVARA_VT_EMPTY, 0, nullptr};
    return LUMVARA_E_INVALIDHANDLE;
  }
  if (!object->OnWindowThread()) {
    if (result) *result = LumvaraVariant{LUMVARA_VT_EMPTY, 0, nullptr};
    return LUMVARA_RPC_E_WRONG_THREAD;
  }
  return lumvara::control::Invoke(*object, dispid, flags, args, argc, result);
}

LUMVARA_API int lumvara_control_advise(LumvaraControl control, LumvaraEventSink sink, void* context) {
  LumvaraControlObject* object = LiveOnThread(control);
  if (object == nullptr) return 0;
  object->sink = sink;
  object->sinkContext = sink ? context : nullptr;
  return 1;
}

LUMVARA_API LumvaraWindow lumvara_control_window(LumvaraControl control) {
  LumvaraControlObject* object = Live(control);
  return object ? object->ctrl.GetSafeHwnd() : nullptr;
}

LUMVARA_API LumvaraWindow lumvara_control_video_window(LumvaraControl control) {
  LumvaraControlObject* object = LiveOnThread(control);
  return object ? object->ctrl.VideoWindow() : nullptr;
}

LUMVARA_API void lumvara_variant_clear(LumvaraVariant* value) { lumvara::control::ClearVariant(value); }

LUMVARA_API int lumvara_control_destroy(LumvaraControl control) {
  LumvaraControlObject* object = LiveOnThread(control);
  // The sink runs inside the control's own code, which must not lose its
  // object underneath it.
  if (object == nullptr || object->sinkDepth > 0) return 0;
  {
    std::lock_guard lock(LiveMutex());
    LiveSet().erase(object);
  }
  object->sink = nullptr;
  object->ctrl.DestroyControlWindow();
  delete object;
  return 1;
}

LUMVARA_API const char* lumvara_control_type_library(void) { return lumvara::control::TypeLibraryJson(); }

}  // extern "C"
