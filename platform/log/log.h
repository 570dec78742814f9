#pragma once
// The library's one diagnostic channel. Every message the camera client and
// the other layers print goes through logf(), so a host can silence or
// redirect them with lumvara_set_log_handler().

namespace lumvara {

// printf-style; the formatted text is handed to the current handler.
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lumvara
