// zenity's directory selection dialog, run as a child process.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/folder_picker/choosers.h"

extern char** environ;

namespace lumvara::folder_picker {

namespace {

constexpr int kPollMs = 50;
constexpr int kZenityOk = 0;

// The first executable called `name` on PATH.
std::string FindOnPath(const char* name) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

Choice ChooseWithZenity(std::string_view title, const std::function<void()>& idle) {
  const std::string program = FindOnPath("zenity");
  if (program.empty()) return {};

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const std::string titleText(title);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()),   const_cast<char*>("--file-selection"),
                             const_cast<char*>("--directory"),     const_cast<char*>("--title"),
                             const_cast<char*>(titleText.c_str()), nullptr};
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return {};
  }

  std::string output;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      char buffer[4096];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // zenity closed its output: it is ending
      output.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (idle) idle();
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  Choice choice{Outcome::kAnswered, std::nullopt};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != kZenityOk) return choice;  // cancelled, or no display
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (!output.empty()) choice.path = output;
  return choice;
}

}  // namespace lumvara::folder_picker
