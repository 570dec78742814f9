// Crash dumps: a host program loads liblumvara.so and crashes; the dump is
// named by the local time, opens in lldb, and the host's own handler (or the
// default action) still ends the process.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/crash/minidump_writer.h"

namespace fs = std::filesystem;

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMVARA_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LUMVARA_TEST_ASAN 1
#endif

constexpr long kZoneOffset = 3 * 3600;  // the helper runs with TZ=XYZ-03 (UTC+3)
const std::regex kDumpName(R"(ocx_CrashDump\d{4}_\d\d_\d\d_\d\d_\d\d_\d\d\.dmp)");

struct ProgramRun {
  int status = 0;
  std::string out;
};

// Runs `exe` with `args`, the current environment plus `env`, optionally as
// the unprivileged user "nobody"; collects standard output.
ProgramRun RunProgram(const std::string& exe, const std::vector<std::string>& args, const std::vector<std::string>& env,
                      bool as_nobody = false) {
  int pipe_fds[2];
  EXPECT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    if (as_nobody) {
      setgroups(0, nullptr);
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(120);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(121);
  }
  close(pipe_fds[1]);
  ProgramRun run;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, static_cast<size_t>(n));
  close(pipe_fds[0]);
  waitpid(pid, &run.status, 0);
  return run;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::vector<fs::path> DumpsIn(const fs::path& folder) {
  std::vector<fs::path> dumps;
  if (!fs::exists(folder)) return dumps;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (std::regex_match(entry.path().filename().string(), kDumpName)) dumps.push_back(entry.path());
  }
  return dumps;
}

std::string NameAt(time_t utc) {
  char name[64];
  lumvara::crash::FormatDumpName(name, sizeof name, utc, kZoneOffset);
  return name;
}

std::string FirstBytes(const fs::path& file, size_t n) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(n, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(n));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::string TidOf(const std::string& out) {
  std::smatch match;
  return std::regex_search(out, match, std::regex(R"(tid=(\d+))")) ? match[1].str() : "";
}

// The sanitizer build stops a null write with its own report before it
// faults, and its runtime owns the fatal-signal handlers: the crashes are
// checked in the normal build.
#ifdef LUMVARA_TEST_ASAN
#define SKIP_CRASHES_UNDER_SANITIZERS() \
  GTEST_SKIP() << "AddressSanitizer and UndefinedBehaviorSanitizer handle crashes themselves in this build"
#else
#define SKIP_CRASHES_UNDER_SANITIZERS() \
  do {                                  \
  } while (0)
#endif

class CrashDump : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lumvara-crash-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    bin_ = root_ / "bin";
    state_ = root_ / "state";
    fs::create_directories(bin_);
    fs::create_directories(state_);
    fs::permissions(root_, fs::perms::all);
    fs::permissions(state_, fs::perms::all);
    // A copy of the host program, so that its folder is this test's own.
    helper_ = bin_ / "crash_helper";
    fs::copy_file(CRASH_HELPER, helper_);
    // Leak checks off: the unload case unloads a library whose
    // process-lifetime objects would then look leaked.
    env_ = {"TZ=XYZ-03", "XDG_STATE_HOME=" + state_.string(), "ASAN_OPTIONS=detect_leaks=0"};
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  ProgramRun Crash(const std::vector<std::string>& how, bool as_nobody = false) {
    std::vector<std::string> args = {LUMVARA_LIBRARY};
    args.insert(args.end(), how.begin(), how.end());
    before_ = time(nullptr);
    ProgramRun run = RunProgram(helper_.string(), args, env_, as_nobody);
    after_ = time(nullptr);
    return run;
  }

  // The one dump in `folder`, checked: named by a local time of the run, MDMP.
  fs::path OneDump(const fs::path& folder) {
    const auto dumps = DumpsIn(folder);
    EXPECT_EQ(dumps.size(), 1u) << "dumps in " << folder;
    if (dumps.size() != 1) return {};
    const std::string name = dumps[0].filename().string();
    EXPECT_GE(name, NameAt(before_));
    EXPECT_LE(name, NameAt(after_));
    EXPECT_EQ(FirstBytes(dumps[0], 4), "MDMP");
    EXPECT_EQ(fs::status(dumps[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    return dumps[0];
  }

  fs::path root_, bin_, state_, helper_;
  std::vector<std::string> env_;
  time_t before_ = 0, after_ = 0;
};

struct CrashCase {
  const char* name;
  std::vector<std::string> how;
  int exit_code;  // when the host's handler ends the process
  int signal;     // when the default action does
};

const CrashCase kCrashCases[] = {
    {"NullWriteToHostHandler", {"segv", "host"}, 77, 0},
    {"NullWriteToDefaultAction", {"segv"}, 0, SIGSEGV},
    {"AbortToHostHandler", {"abort", "host"}, 77, 0},
    {"AbortToDefaultAction", {"abort"}, 0, SIGABRT},
    {"DivideByZeroToHostHandler", {"fpe", "host"}, 77, 0},
    {"DivideByZeroToDefaultAction", {"fpe", "thread"}, 0, SIGFPE},
    {"IllegalInstructionToHostHandler", {"ill", "host"}, 77, 0},
    {"IllegalInstructionToDefaultAction", {"ill"}, 0, SIGILL},
    {"BusErrorToHostHandler", {"bus", "host"}, 77, 0},
    {"BusErrorToDefaultAction", {"bus"}, 0, SIGBUS},
    {"StackOverflowOnTheSignalStack", {"overflow"}, 0, SIGSEGV},
    {"TwoThreadsCrashingAtOnce", {"segv", "both"}, 0, SIGSEGV},
};

TEST_F(CrashDump, EachFatalSignalLeavesOneDumpAndEndsAsBefore) {
  SKIP_CRASHES_UNDER_SANITIZERS();
  for (const auto& c : kCrashCases) {
    SCOPED_TRACE(c.name);
    for (const auto& old : DumpsIn(bin_)) fs::remove(old);
    const ProgramRun run = Crash(c.how);
    if (c.signal) {
      ASSERT_TRUE(WIFSIGNALED(run.status)) << "status " << run.status;
      EXPECT_EQ(WTERMSIG(run.status), c.signal);
    } else {
      ASSERT_TRUE(WIFEXITED(run.status)) << "status " << run.status;
      EXPECT_EQ(WEXITSTATUS(run.status), c.exit_code);
      EXPECT_NE(run.out.find("host handler ran"), std::string::npos);
    }
    OneDump(bin_);
  }
}

TEST_F(CrashDump, LldbListsTheCrashingThreadAndNamesTheFaultingFunction) {
  SKIP_CRASHES_UNDER_SANITIZERS();
  if (Shell("command -v lldb").empty()) GTEST_SKIP() << "lldb is not installed (scripts/setup installs it)";
  const ProgramRun run = Crash({"segv", "thread"});
  ASSERT_TRUE(WIFSIGNALED(run.status));
  const std::string tid = TidOf(run.out);
  ASSERT_FALSE(tid.empty()) << run.out;
  const fs::path dump = OneDump(bin_);
  ASSERT_FALSE(dump.empty());
  const std::string out = Shell("timeout 120 lldb --batch --no-lldbinit " + helper_.string() + " -c " + dump.string() +
                                " -o 'thread list' -o 'bt' -o 'image list' 2>&1");
  EXPECT_NE(out.find("tid = " + tid), std::string::npos) << out;
  EXPECT_NE(out.find("SIGSEGV"), std::string::npos) << out;
  EXPECT_NE(out.find("thread #2"), std::string::npos) << "the blocked second thread\n" << out;
  EXPECT_NE(out.find("pause"), std::string::npos) << "where the second thread blocks\n" << out;
  EXPECT_NE(out.find("lumvara_test_write_through_null"), std::string::npos) << out;
  EXPECT_NE(out.find("lumvara_test_crash_here"), std::string::npos) << "the caller, from the stack\n" << out;
  EXPECT_NE(out.find(fs::path(LUMVARA_LIBRARY).filename().string()), std::string::npos) << "the module list\n" << out;
}

TEST_F(CrashDump, UnwritableProgramFolderSendsTheDumpToTheStateFolder) {
  SKIP_CRASHES_UNDER_SANITIZERS();
  bool as_nobody = geteuid() == 0;
  // Root writes anywhere: the program then runs as "nobody", for whom the
  // program's folder is not writable.
  fs::permissions(bin_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  if (!as_nobody) fs::permissions(bin_, fs::perms::owner_write, fs::perm_options::remove);
  const ProgramRun run = Crash({"segv", "host"}, as_nobody);
  ASSERT_TRUE(WIFEXITED(run.status)) << "status " << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 77);
  EXPECT_TRUE(DumpsIn(bin_).empty());
  OneDump(state_ / "lumvara");
  fs::permissions(bin_, fs::perms::owner_all, fs::perm_options::add);
}

TEST_F(CrashDump, ADumpOfTheSameSecondReplacesTheFile) {
  SKIP_CRASHES_UNDER_SANITIZERS();
  // Stand-ins for every second the run may take.
  const time_t now = time(nullptr);
  const std::string filler(1 << 20, 'X');
  for (time_t t = now - 1; t < now + 20; ++t) std::ofstream(bin_ / NameAt(t), std::ios::binary) << filler;
  const size_t files = DumpsIn(bin_).size();
  const ProgramRun run = Crash({"segv", "host"});
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(DumpsIn(bin_).size(), files);
  int replaced = 0;
  for (const auto& dump : DumpsIn(bin_)) {
    if (FirstBytes(dump, 4) == "MDMP") {
      ++replaced;
      // Written from an empty file: nothing of the old content is left.
      std::ifstream in(dump, std::ios::binary);
      const std::string content(std::istreambuf_iterator<char>(in), {});
      EXPECT_EQ(content.find(std::string(64, 'X')), std::string::npos);
    }
  }
  EXPECT_EQ(replaced, 1);
}

TEST_F(CrashDump, UnloadingTheLibraryRestoresTheHostsHandler) {
  const ProgramRun run = RunProgram(helper_.string(), {LUMVARA_LIBRARY, "unload"}, env_);
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

struct NameCase {
  int64_t utc;
  long offset;
  const char* name;
};

TEST(CrashDumpName, LocalDateAndTimeWithZeroPadding) {
  const NameCase cases[] = {
      {0, 0, "ocx_CrashDump1970_01_01_00_00_00.dmp"},
      {1614935223, 0, "ocx_CrashDump2021_03_05_09_07_03.dmp"},
      {1614935223, 8 * 3600, "ocx_CrashDump2021_03_05_17_07_03.dmp"},
      {1614935223, -10 * 3600, "ocx_CrashDump2021_03_04_23_07_03.dmp"},  // the day before
      {951782400, 0, "ocx_CrashDump2000_02_29_00_00_00.dmp"},            // leap day
      {1735689599, 0, "ocx_CrashDump2024_12_31_23_59_59.dmp"},
      {1735689599, 1, "ocx_CrashDump2025_01_01_00_00_00.dmp"},
      {0, -1, "ocx_CrashDump1969_12_31_23_59_59.dmp"},
  };
  for (const auto& c : cases) {
    char name[64];
    EXPECT_EQ(lumvara::crash::FormatDumpName(name, sizeof name, c.utc, c.offset), std::strlen(c.name));
    EXPECT_STREQ(name, c.name);
  }
  char small[36];
  EXPECT_EQ(lumvara::crash::FormatDumpName(small, sizeof small, 0, 0), 0u);
}

}  // namespace
