// The folder chooser: an injected choice, else the desktop portal, else
// zenity, else cancelled.
#include "platform/folder_picker/folder_picker.h"

#include <cstdlib>
#include <mutex>

#include "platform/folder_picker/choosers.h"

namespace lumvara::folder_picker {

namespace {

struct Hook {
  std::mutex mutex;
  ChoiceHook hook = nullptr;
  void* context = nullptr;
};

Hook& TheHook() {
  static Hook hook;
  return hook;
}

}  // namespace

void SetChoiceHookForTesting(ChoiceHook hook, void* context) {
  Hook& h = TheHook();
  std::lock_guard lock(h.mutex);
  h.hook = hook;
  h.context = context;
}

std::optional<std::string> ChooseFolder(std::string_view title, const std::function<void()>& idle) {
  {
    Hook& h = TheHook();
    std::unique_lock lock(h.mutex);
    if (ChoiceHook hook = h.hook) {
      void* context = h.context;
      lock.unlock();
      return hook(title, context);
    }
  }
  if (const char* injected = std::getenv("LUMVARA_FOLDER_PICKER_CHOICE")) {
    if (*injected == '\0') return std::nullopt;
    return std::string(injected);
  }
  const Choice portal = ChooseWithPortal(title, idle);
  if (portal.outcome != Outcome::kUnavailable) return portal.path;
  const Choice zenity = ChooseWithZenity(title, idle);
  if (zenity.outcome != Outcome::kUnavailable) return zenity.path;
  return std::nullopt;
}

}  // namespace lumvara::folder_picker
