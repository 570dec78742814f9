#pragma once
// CLumvaraPropPage: the control's only property page. It has no settings:
// a panel with the page's caption and one static hint text. Hosts show it
// on the control's properties verb (lumvara_property_page_create).

#include <cstddef>

#include "platform/winsys/window.h"

namespace lumvara::control {

class CLumvaraPropPage {
 public:
  // The hint the page shows (UTF-8).
  static const char* HintText();
  // Creates the page's window as a visible child of `parent`, owned by the
  // calling thread; the window frees the page when it is destroyed. Null
  // when the parent is not a window.
  static winsys::HWND Create(winsys::HWND parent, int x, int y, int width, int height);
  // How many pages exist now. Any thread.
  static size_t LiveCount();
};

}  // namespace lumvara::control
