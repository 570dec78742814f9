// lumvara-cli end to end: the program runs as a child process against the
// camera simulator in this process, on 127.0.0.1 only.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "apps/camsim/camera_simulator.h"

namespace {

using lumvara::camsim::CameraSimulator;
using lumvara::camsim::SimulatorOptions;

struct RunResult {
  int exitCode = -1;
  std::string out;
};

// Runs a shell command line; stdout is captured, stderr passes through.
RunResult runCommand(const std::string& command) {
  RunResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  std::array<char, 4096> chunk{};
  size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    result.out.append(chunk.data(), got);
  }
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

RunResult cli(const std::string& arguments) { return runCommand(std::string(LUMVARA_CLI_PATH) + " " + arguments); }

std::string tempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/lumvara-cli-test-" + std::to_string(::getpid()) + "-" + name;
}

class CliAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatorOptions options;
    options.search_port = 0;
    simulator_ = std::make_unique<CameraSimulator>(options);
    ASSERT_TRUE(simulator_->start()) << simulator_->lastError();
    camera_ = "127.0.0.1:" + std::to_string(simulator_->port());
  }

  std::unique_ptr<CameraSimulator> simulator_;
  std::string camera_;
};

TEST_F(CliAgainstSimulator, LiveWritesAStreamThatFfprobeReadsFrameForFrame) {
  // scripts/setup installs ffprobe: its absence is a broken setup.
  ASSERT_EQ(std::system("ffprobe -version >/dev/null 2>&1"), 0) << "ffprobe is not installed";
  const std::string out = tempPath("live.h264");
  const RunResult run = cli("live " + camera_ + " --seconds 3 --out " + out);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.out, match, std::regex("frames=(\\d+)"))) << run.out;
  const int written = std::stoi(match[1]);
  EXPECT_GE(written, 50);  // 25 fps for 3 s, from the first key frame
  const RunResult probe = runCommand(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " +
      out);
  ASSERT_EQ(probe.exitCode, 0);
  std::smatch fields;
  ASSERT_TRUE(std::regex_search(probe.out, fields, std::regex("h264,640,360,(\\d+)"))) << probe.out;
  EXPECT_NEAR(std::stoi(fields[1]), written, 2);
  std::remove(out.c_str());
}

TEST_F(CliAgainstSimulator, AudioWritesAnAlawWaveFileThatFfprobeReads) {
  // scripts/setup installs ffprobe: its absence is a broken setup.
  ASSERT_EQ(std::system("ffprobe -version >/dev/null 2>&1"), 0) << "ffprobe is not installed";
  const std::string out = tempPath("audio.wav");
  const RunResult run = cli("audio " + camera_ + " --seconds 2 --out " + out);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.out, match, std::regex("samples=(\\d+)"))) << run.out;
  const double seconds = std::stod(match[1]) / 8000.0;
  EXPECT_GT(seconds, 1.0);
  const RunResult probe = runCommand(
      "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels:"
      "format=duration -of csv=p=0 " +
      out);
  ASSERT_EQ(probe.exitCode, 0);
  std::smatch fields;
  ASSERT_TRUE(std::regex_search(probe.out, fields, std::regex("pcm_alaw,8000,1\\s+([0-9.]+)"))) << probe.out;
  EXPECT_NEAR(std::stod(fields[1]), seconds, 0.01);
  std::remove(out.c_str());
}

struct FailureCase {
  const char* name;
  std::string arguments;  // "{camera}" stands for the simulator's address
  int exitCode;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class CliFailures : public CliAgainstSimulator, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliFailures, EndWithTheirExitCode) {
  std::string arguments = GetParam().arguments;
  const size_t at = arguments.find("{camera}");
  if (at != std::string::npos) {
    arguments.replace(at, 8, camera_);
  }
  const RunResult run = cli(arguments + " 2>/dev/null");
  EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.out;
}

const FailureCase kFailures[] = {
    {"NoSubcommand", "", 2},
    {"AddressWithoutPort", "live 127.0.0.1 --seconds 1 --out /dev/null", 2},
    {"PortOutOfRange", "live 127.0.0.1:70000 --seconds 1 --out /dev/null", 2},
    {"LineBreakInUser", "params get {camera} network --user 'a\nb'", 2},
    {"UnknownGroup", "params get {camera} nosuch", 2},
    {"UnknownField", "params set {camera} ftp nosuch=1", 2},
    {"TextTooLongForField", "params set {camera} ftp svr=" + std::string(64, 's'), 2},
    {"IntegerFieldNotANumber", "params set {camera} ftp port=abc", 2},
    {"ControlCodeUnknown", "ptz {camera} 55", 2},
    {"BadDate", "records list {camera} --from 2026-13-01 --to 2026-12-31", 2},
    {"UnreachableCamera", "live 127.0.0.1:1 --seconds 1 --out /dev/null", 3},
    {"WrongPassword", "live {camera} --pwd wrong --seconds 2 --out /dev/null", 4},
};

INSTANTIATE_TEST_SUITE_P(Cases, CliFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(CliAgainstSimulator, ParamsGetPrintsTheCameraStateAsJson) {
  simulator_->setParam("port", "8081");
  const RunResult run = cli("params get " + camera_ + " network --json");
  ASSERT_EQ(run.exitCode, 0);
  const auto network = nlohmann::json::parse(run.out);
  EXPECT_EQ(network["port"], 8081);
  EXPECT_EQ(network["mask"], "255.255.255.0");
}

TEST_F(CliAgainstSimulator, ParamsSetChangesOnlyTheGivenFields) {
  const std::string userBefore = simulator_->param("ftp_user");
  const RunResult run = cli("params set " + camera_ + " ftp svr=ftp.test port=2121");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(simulator_->param("ftp_svr"), "ftp.test");
  EXPECT_EQ(simulator_->param("ftp_port"), "2121");
  EXPECT_EQ(simulator_->param("ftp_user"), userBefore);
}

TEST_F(CliAgainstSimulator, RefusedSettingsEndWithTheRefusalCode) {
  simulator_->setRefuseSets(true);
  EXPECT_EQ(cli("params set " + camera_ + " ftp port=2121 2>/dev/null").exitCode, 4);
  EXPECT_EQ(cli("alias " + camera_ + " Porch 2>/dev/null").exitCode, 4);
}

TEST_F(CliAgainstSimulator, PtzAliasAndRebootReachTheCamera) {
  ASSERT_EQ(cli("ptz " + camera_ + " 2").exitCode, 0);
  EXPECT_TRUE(simulator_->waitForRequest("decoder_control.cgi", std::chrono::milliseconds(100)));
  EXPECT_TRUE(simulator_->waitForRequest("command=2 ", std::chrono::milliseconds(100)));
  ASSERT_EQ(cli("alias " + camera_ + " Porch").exitCode, 0);
  EXPECT_EQ(simulator_->param("alias"), "Porch");
  ASSERT_EQ(cli("reboot " + camera_).exitCode, 0);
  EXPECT_EQ(simulator_->reboots(), 1);
}

TEST_F(CliAgainstSimulator, WifiScanListsEveryNetwork) {
  simulator_->setWifiNetworks(3);
  const RunResult run = cli("params get " + camera_ + " wifi-scan --json");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(run.out).size(), 3u);
}

TEST_F(CliAgainstSimulator, RecordsListAndPlay) {
  const std::time_t day = 1765353600;  // 2025-12-10 08:00 UTC
  simulator_->setRecordings({{"20251210080000_000.h264", day, 20}, {"20251210090000_001.h264", day + 3600, 30}});
  const RunResult list = cli("records list " + camera_ + " --from 2025-12-01 --to 2025-12-31 --json 2>/dev/null");
  ASSERT_EQ(list.exitCode, 0);
  const auto files = nlohmann::json::parse(list.out);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1]["name"], "20251210090000_001.h264");

  const std::string out = tempPath("play.bin");
  const RunResult play = cli("records play " + camera_ + " 20251210090000_001.h264 --frames --out " + out);
  ASSERT_EQ(play.exitCode, 0) << play.out;
  std::ifstream file(out, std::ios::binary);
  const std::string played((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto expected = simulator_->recordingBytes("20251210090000_001.h264");
  EXPECT_EQ(played, std::string(expected.begin(), expected.end()));
  std::remove(out.c_str());
}

TEST_F(CliAgainstSimulator, SearchFindsTheSimulatorThroughTheOverride) {
  const std::string env =
      "LUMVARA_SEARCH_ADDR=127.0.0.1 LUMVARA_SEARCH_PORT=" + std::to_string(simulator_->searchPort()) + " ";
  const RunResult run = runCommand(env + LUMVARA_CLI_PATH + " search --seconds 0.5 --json 2>/dev/null");
  ASSERT_EQ(run.exitCode, 0);
  const auto cameras = nlohmann::json::parse(run.out);
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0]["ip"], "127.0.0.1");
}

}  // namespace
