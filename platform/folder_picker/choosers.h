#pragma once
// The real choosers behind ChooseFolder. Internal to folder_picker.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumvara::folder_picker {

enum class Outcome {
  kUnavailable,  // this chooser cannot be shown; try the next one
  kAnswered,     // the user answered: `path` is the folder, or nullopt for a cancel
};

struct Choice {
  Outcome outcome = Outcome::kUnavailable;
  std::optional<std::string> path;
};

// org.freedesktop.portal.FileChooser.OpenFile in directory mode on the
// session bus. Unavailable when there is no session bus, no portal on it, or
// the portal refuses the call.
Choice ChooseWithPortal(std::string_view title, const std::function<void()>& idle);

// zenity --file-selection --directory --title <title>. Unavailable when no
// zenity is on PATH or it cannot be started.
Choice ChooseWithZenity(std::string_view title, const std::function<void()>& idle);

// The local path of a file:// URI with its %XX escapes decoded; nullopt for
// any other URI.
std::optional<std::string> PathFromFileUri(std::string_view uri);

}  // namespace lumvara::folder_picker
