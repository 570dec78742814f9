#include "platform/log/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "lumvara/log.h"

namespace lumvara {
namespace {

void writeToStdout(const char* text, void*) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

struct LogSink {
  std::mutex lock;
  LumvaraLogHandler handler = writeToStdout;
  void* context = nullptr;
};

LogSink& sink() {
  static LogSink instance;
  return instance;
}

}  // namespace

void logf(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  LogSink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.handler) s.handler(text, s.context);
}

}  // namespace lumvara

extern "C" LUMVARA_API void lumvara_set_log_handler(LumvaraLogHandler handler, void* context) {
  auto& s = lumvara::sink();
  std::lock_guard<std::mutex> guard(s.lock);
  s.handler = handler;
  s.context = context;
}

extern "C" LUMVARA_API void lumvara_reset_log_handler(void) {
  lumvara_set_log_handler(lumvara::writeToStdout, nullptr);
}
