#include "platform/crash/crash_handler.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/crash/minidump_writer.h"

namespace lumvara::crash {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr size_t kAltStackSize = 64 * 1024;
constexpr size_t kGuardSize = 4096;
constexpr int kPathCapacity = PATH_MAX;

struct Installation {
  bool installed = false;
  struct sigaction previous[kSignalCount] = {};
  // The alternate stack we gave the loading thread, and what it had before.
  void* alt_mapping = nullptr;
  pid_t alt_thread = 0;
  stack_t previous_alt = {};
  CrashEnvironment environment = {};
  long utc_offset = 0;
  char primary[kPathCapacity] = {};
  char fallback[kPathCapacity] = {};
};

Installation g_install;

// 0: no crash yet; 1: a thread is writing its dump; 2: done.
std::atomic<int> g_state{0};
std::atomic<pid_t> g_writer{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "the handler may only use lock-free atomics");

pid_t Gettid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

size_t Length(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Copies `text` into `out` at `*at` if it fits; false otherwise.
bool Append(char* out, size_t* at, size_t capacity, const char* text) {
  const size_t n = Length(text);
  if (*at + n + 1 > capacity) return false;
  std::memcpy(out + *at, text, n);
  *at += n;
  out[*at] = '\0';
  return true;
}

void PrepareFolders() {
  char exe[kPathCapacity];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    char* slash = std::strrchr(exe, '/');
    if (slash) {
      slash[1] = '\0';
      size_t at = 0;
      Append(g_install.primary, &at, sizeof g_install.primary, exe);
    }
  }
  size_t at = 0;
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  if (state && state[0] == '/') {
    Append(g_install.fallback, &at, sizeof g_install.fallback, state);
  } else if (home && home[0] == '/') {
    Append(g_install.fallback, &at, sizeof g_install.fallback, home) &&
        Append(g_install.fallback, &at, sizeof g_install.fallback, "/.local/state");
  } else {
    return;
  }
  if (!Append(g_install.fallback, &at, sizeof g_install.fallback, "/lumvara/")) g_install.fallback[0] = '\0';
}

long LocalUtcOffset() {
  const time_t now = time(nullptr);
  tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return local.tm_gmtoff;
}

// Creates every folder along `path` (which ends in '/'), in place.
void MakeFolders(char* path) {
  for (char* p = path + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    mkdir(path, 0700);
    *p = '/';
  }
}

int OpenDump(char* path, size_t capacity, const char* folder, const char* name, bool make_folders) {
  if (!folder[0]) return -1;
  size_t at = 0;
  path[0] = '\0';
  if (!Append(path, &at, capacity, folder)) return -1;
  if (make_folders) MakeFolders(path);
  if (!Append(path, &at, capacity, name)) return -1;
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
}

void WriteDump(int signo, siginfo_t* info, void* context) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char name[64];
  if (!FormatDumpName(name, sizeof name, now.tv_sec, g_install.utc_offset)) return;
  static char path[kPathCapacity];
  int fd = OpenDump(path, sizeof path, g_install.primary, name, false);
  if (fd < 0) fd = OpenDump(path, sizeof path, g_install.fallback, name, true);
  if (fd < 0) return;
  WriteMinidump(fd, signo, info, static_cast<const ucontext_t*>(context), g_install.environment);
  close(fd);
}

int SignalIndex(int signo) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signo) return static_cast<int>(i);
  }
  return -1;
}

// Hands the signal to whoever handled it before us. A fault raised by an
// instruction (SIGSEGV, SIGBUS, SIGILL, SIGFPE from the processor) happens
// again when the handler returns and then reaches the restored handler with
// its own information; a signal that was sent (kill, raise, abort) is queued
// again with the same information, and is delivered once this handler
// returns (it is blocked until then).
void PassOn(int signo, siginfo_t* info) {
  const int index = SignalIndex(signo);
  if (index >= 0) sigaction(signo, &g_install.previous[index], nullptr);
  const bool sent = info == nullptr || info->si_code <= 0 || signo == SIGABRT;
  if (!sent) return;
  siginfo_t again{};
  if (info) again = *info;
  again.si_signo = signo;
  if (syscall(SYS_rt_tgsigqueueinfo, getpid(), Gettid(), signo, &again) != 0) {
    syscall(SYS_tgkill, getpid(), Gettid(), signo);
  }
}

void Handler(int signo, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const pid_t self = Gettid();
  int expected = 0;
  if (g_state.compare_exchange_strong(expected, 1)) {
    g_writer.store(self);
    WriteDump(signo, info, context);
    g_state.store(2);
  } else if (g_writer.load() != self) {
    // Another thread is writing: wait (bounded) until its dump is complete,
    // so that the process does not end under it.
    for (int i = 0; i < 10000 && g_state.load() == 1; ++i) {
      timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    }
  }
  PassOn(signo, info);
  errno = saved_errno;
}

bool IsOurs(const struct sigaction& action) { return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == Handler; }

void InstallAltStack() {
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
  void* mapping = mmap(nullptr, kGuardSize + kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return;
  // The lowest page stays a guard, so an overflow of the signal stack faults
  // instead of running into other memory.
  mprotect(mapping, kGuardSize, PROT_NONE);
  stack_t ours{};
  ours.ss_sp = static_cast<char*>(mapping) + kGuardSize;
  ours.ss_size = kAltStackSize;
  if (sigaltstack(&ours, &g_install.previous_alt) != 0) {
    munmap(mapping, kGuardSize + kAltStackSize);
    return;
  }
  g_install.alt_mapping = mapping;
  g_install.alt_thread = Gettid();
}

void RemoveAltStack() {
  if (!g_install.alt_mapping) return;
  // Only the thread that set it can take the stack back; on any other thread
  // the memory stays mapped, since the loading thread may still be using it.
  if (Gettid() != g_install.alt_thread) return;
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0) return;
  if (current.ss_sp != static_cast<char*>(g_install.alt_mapping) + kGuardSize) return;
  if (current.ss_flags & SS_ONSTACK) return;
  stack_t disable = g_install.previous_alt;
  if (sigaltstack(&disable, nullptr) != 0) return;
  munmap(g_install.alt_mapping, kGuardSize + kAltStackSize);
  g_install.alt_mapping = nullptr;
}

__attribute__((constructor)) void InstallAtLoad() { InstallCrashHandler(); }
__attribute__((destructor)) void UninstallAtUnload() { UninstallCrashHandler(); }

}  // namespace

void InstallCrashHandler() {
  if (g_install.installed) return;
  PrepareEnvironment(&g_install.environment);
  g_install.utc_offset = LocalUtcOffset();
  PrepareFolders();
  InstallAltStack();
  struct sigaction action {};
  action.sa_sigaction = Handler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signo : kSignals) sigaddset(&action.sa_mask, signo);
  for (size_t i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &g_install.previous[i]);
  g_install.installed = true;
}

void UninstallCrashHandler() {
  if (!g_install.installed) return;
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction current {};
    if (sigaction(kSignals[i], nullptr, &current) == 0 && IsOurs(current)) {
      sigaction(kSignals[i], &g_install.previous[i], nullptr);
    }
  }
  RemoveAltStack();
  g_install.installed = false;
}

bool CrashHandlerInstalled() {
  struct sigaction current {};
  return sigaction(SIGSEGV, nullptr, &current) == 0 && IsOurs(current);
}

const char* PrimaryDumpFolder() { return g_install.primary; }
const char* FallbackDumpFolder() { return g_install.fallback; }

}  // namespace lumvara::crash
