#pragma once
// Lets the user choose a folder. In order of preference:
//   1. a choice injected for tests (SetChoiceHookForTesting, or the
//      environment variable LUMVARA_FOLDER_PICKER_CHOICE: set and empty means
//      the user cancels, any other value is the folder chosen);
//   2. the desktop portal's file chooser (org.freedesktop.portal.FileChooser
//      on the session bus, directory mode), when the bus has a portal;
//   3. zenity --file-selection --directory, when it is installed;
//   4. none: counts as cancelled.
// Blocks the calling thread until the user answers; `idle`, when given, runs
// about every 50 ms meanwhile (a window thread pumps its messages there).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumvara::folder_picker {

// The chosen folder's path, or nullopt when the user cancelled or no chooser
// is available.
std::optional<std::string> ChooseFolder(std::string_view title, const std::function<void()>& idle = {});

// Replaces every chooser by `hook` (null: back to the real ones). The hook
// gets the title and returns what ChooseFolder returns. Any thread.
using ChoiceHook = std::optional<std::string> (*)(std::string_view title, void* context);
void SetChoiceHookForTesting(ChoiceHook hook, void* context);

// For tests: while it lives, ChooseFolder answers `choice` (nullopt: the user
// cancels) and counts the calls and remembers the last title.
class ScopedFolderChoice {
 public:
  explicit ScopedFolderChoice(std::optional<std::string> choice) : choice_(std::move(choice)) {
    SetChoiceHookForTesting(&ScopedFolderChoice::Answer, this);
  }
  ~ScopedFolderChoice() { SetChoiceHookForTesting(nullptr, nullptr); }
  ScopedFolderChoice(const ScopedFolderChoice&) = delete;
  ScopedFolderChoice& operator=(const ScopedFolderChoice&) = delete;

  int calls() const { return calls_; }
  const std::string& lastTitle() const { return lastTitle_; }

 private:
  static std::optional<std::string> Answer(std::string_view title, void* context) {
    auto* self = static_cast<ScopedFolderChoice*>(context);
    ++self->calls_;
    self->lastTitle_ = std::string(title);
    return self->choice_;
  }
  std::optional<std::string> choice_;
  int calls_ = 0;
  std::string lastTitle_;
};

}  // namespace lumvara::folder_picker
