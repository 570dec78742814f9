#pragma once
// The controls that exist in the process, as the hosting API created them.
// The module's unload check asks whether any is left.

#include <cstddef>

namespace lumvara::control {

// How many controls exist now (created and not yet destroyed). Any thread.
size_t LiveControlCount();

}  // namespace lumvara::control
