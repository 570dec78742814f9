// records list and records play: the camera's SD-card recordings.

#include <lumvara/device.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "apps/cli/commands.h"
#include "apps/cli/stream_writer.h"

namespace lumvara::cli {

namespace {

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" (a "T" may separate date and time).
bool parseCalendarTime(const std::string& text, CalendarTime& time) {
  CalendarTime parsed;
  char separator = 0;
  int consumed = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d:%2d", &parsed.year, &parsed.month, &parsed.day,
                                 &consumed, &separator, &parsed.hour, &parsed.minute, &parsed.second);
  if (fields < 3) {
    return false;
  }
  if (fields == 3 && static_cast<size_t>(consumed) != text.size()) {
    return false;
  }
  if (fields > 3 && separator != ' ' && separator != 'T') {
    return false;
  }
  if (fields > 3 && fields < 6) {
    return false;
  }
  if (parsed.month < 1 || parsed.month > 12 || parsed.day < 1 || parsed.day > 31 || parsed.hour < 0 ||
      parsed.hour > 23 || parsed.minute < 0 || parsed.minute > 59 || parsed.second < 0 || parsed.second > 59 ||
      parsed.year < 1970) {
    return false;
  }
  time = parsed;
  return true;
}

struct RecordFile {
  std::string name;
  int size = 0;
};

struct RecordList {
  std::mutex lock;
  std::vector<RecordFile> files;

  // Runs on the device's record search thread.
  static int onFile(const char* name, const char*, int size, void* context) {
    auto* self = static_cast<RecordList*>(context);
    std::lock_guard guard(self->lock);
    self->files.push_back({name != nullptr ? name : "", size});
    return 0;
  }
};

}  // namespace

int runRecordsList(const RecordsListOptions& options) {
  CalendarTime from;
  CalendarTime to;
  if (!parseCalendarTime(options.from, from) || !parseCalendarTime(options.to, to)) {
    return fail(kExitBadInput, "dates are YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS'");
  }
  CameraSession session(options.target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  RecordList list;
  device_record_file_search_list(session.handle(), from.year, from.month, from.day, from.hour, from.minute, from.second,
                                 to.year, to.month, to.day, to.hour, to.minute, to.second, RecordList::onFile, &list);
  // There is no end-of-list notice, but a search waits for the one before
  // it: a second search with impossible dates returns once the first has
  // reported everything, and reports nothing itself.
  device_record_file_search_list(session.handle(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, RecordList::onFile, &list);

  std::lock_guard guard(list.lock);
  if (options.json) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const auto& file : list.files) {
      files.push_back({{"name", file.name}, {"size", file.size}});
    }
    std::printf("%s\n", files.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    for (const auto& file : list.files) {
      std::printf("%s  %d\n", file.name.c_str(), file.size);
    }
  }
  std::fprintf(stderr, "%zu recording(s)\n", list.files.size());
  return kExitOk;
}

int runRecordsPlay(const RecordsPlayOptions& options) {
  if (options.name.empty() || options.name.size() > 127 || options.name.find_first_of("\r\n") != std::string::npos) {
    return fail(kExitBadInput, "the file name must be 1 to 127 bytes without line breaks");
  }
  if (options.offset < 0) {
    return fail(kExitBadInput, "--offset must not be negative");
  }
  StreamWriter writer(options.out, options.wholeFrames);
  if (!writer.opened()) {
    return fail(kExitFailure, "cannot create " + options.out + ": " + std::strerror(errno));
  }
  CameraSession session(options.target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  // Frames of the first request precede the requested offset: drop them.
  // The restart closes that connection before it reconnects, so only the
  // first frames of the new one could arrive before the writer resumes.
  writer.setPaused(options.offset > 0);
  if (device_record_file_start(session.handle(), options.name.c_str(), StreamWriter::onFrame, &writer) != 1) {
    return fail(kExitUnreachable,
                "cannot connect to " + options.target.host + ":" + std::to_string(options.target.port));
  }
  if (options.offset > 0 && device_record_file_set_pos(session.handle(), options.offset) != 1) {
    device_record_file_stop(session.handle());
    return fail(kExitUnreachable, "cannot reconnect for the offset");
  }
  writer.setPaused(false);
  // The camera closes the connection at the end of the file; nothing is
  // reported then, so playback ends after a quiet spell.
  constexpr int64_t kQuietMs = 2000;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.seconds);
  while (std::chrono::steady_clock::now() < end && writer.idleMs() < kQuietMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  device_record_file_stop(session.handle());
  if (!writer.close()) {
    return fail(kExitFailure, "writing " + options.out + " failed");
  }
  std::printf("frames=%llu bytes=%llu\n", static_cast<unsigned long long>(writer.frames()),
              static_cast<unsigned long long>(writer.bytes()));
  if (writer.frames() == 0) {
    return fail(kExitFailure, "no frames arrived (unknown file?)");
  }
  return kExitOk;
}

}  // namespace lumvara::cli
