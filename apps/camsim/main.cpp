// lumvara-camsim: the camera simulator as a program. Serves until SIGINT or
// SIGTERM; prints the address it listens on first, so scripts can find a port
// chosen by the system.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "apps/camsim/camera_simulator.h"
#include "apps/camsim/connection_script_text.h"

int main(int argc, char** argv) {
  lumvara::camsim::SimulatorOptions options;
  CLI::App app{"lumvara-camsim: a simulated IP camera on loopback"};
  int port = 0;
  int zone = 1000;
  int alarm_ms = 0;
  int reboot_ms = static_cast<int>(options.reboot_downtime.count());
  bool video_loss = false;
  bool verbose = false;
  std::string port_file;
  std::vector<std::string> faults;
  app.add_option("--bind", options.bind_address, "IPv4 address to listen on")->capture_default_str();
  app.add_option("--port", port, "TCP port (0 = any free port)")->check(CLI::Range(0, 65535));
  app.add_option("--user", options.user, "user name the camera accepts")->capture_default_str();
  app.add_option("--pwd", options.pwd, "password the camera accepts");
  app.add_option("--max-connections", options.max_connections, "live connections served at once")
      ->capture_default_str();
  app.add_option("--fps", options.fps, "live frames per second")->capture_default_str();
  app.add_option("--gop", options.gop, "frames from one key frame to the next")->capture_default_str();
  app.add_option("--live-file", options.live_file, "play this H.264 Annex B file in a loop instead of the test pattern")
      ->check(CLI::ExistingFile);
  app.add_option("--zone", zone, "zone written into frames, hours (default: the host's)");
  int audio_kind = options.audio_kind;
  app.add_option("--audio", audio_kind, "camera audio kind: 6 = IMA ADPCM, 7 = A-law")
      ->check(CLI::IsMember({6, 7}))
      ->capture_default_str();
  app.add_option("--tone", options.tone_hz, "camera audio tone in Hz")->capture_default_str();
  app.add_option("--playback-fps", options.playback_fps, "SD playback pace, 0 = unpaced")->capture_default_str();
  app.add_option("--alarm-interval", alarm_ms, "ms between alarm notices (0 = none)");
  app.add_option("--reboot-downtime", reboot_ms, "ms the camera stays away after reboot.cgi");
  app.add_option("--wifi-networks", options.wifi_networks, "networks in the Wi-Fi scan")->capture_default_str();
  app.add_option("--talk-dir", options.talk_dir, "folder for received talk audio");
  app.add_option("--search-port", options.search_port, "UDP search responder port (-1 off, 0 any)")
      ->capture_default_str();
  app.add_option("--search-bind", options.search_bind_address, "search responder address")->capture_default_str();
  app.add_option("--name", options.camera_name, "camera name in search answers");
  app.add_flag("--video-loss", video_loss, "report video loss on live connections");
  app.add_option("--fault", faults,
                 "script a connection (repeatable, taken in order): items action=none|notice|"
                 "corrupt-magic|oversized-length|silence|close|cut-body, cgi=NAME, kind=N, "
                 "after=FRAMES, close=0|1, pieces=7/13/3, gap=MS, length-field=TEXT, no-length");
  app.add_option("--port-file", port_file, "write the chosen port into this file");
  app.add_flag("-v,--verbose", verbose, "print every request line");
  CLI11_PARSE(app, argc, argv);

  options.port = static_cast<uint16_t>(port);
  options.audio_kind = static_cast<uint8_t>(audio_kind);
  if (zone != 1000) options.zone = static_cast<int8_t>(zone);
  options.alarm_interval = std::chrono::milliseconds(alarm_ms);
  options.reboot_downtime = std::chrono::milliseconds(reboot_ms);
  if (verbose) {
    options.on_request = [](const std::string& line) {
      std::printf("request: %s\n", line.c_str());
      std::fflush(stdout);
    };
  }

  // Signals are taken by sigwait below, never by a handler on a serving thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  lumvara::camsim::CameraSimulator simulator(options);
  for (const std::string& fault : faults) {
    std::string error;
    auto script = lumvara::camsim::ParseConnectionScript(fault, &error);
    if (!script) {
      std::fprintf(stderr, "lumvara-camsim: bad --fault '%s': %s\n", fault.c_str(), error.c_str());
      return 2;
    }
    simulator.scriptConnection(std::move(*script));
  }
  simulator.setVideoLoss(video_loss);
  if (!simulator.start()) {
    std::fprintf(stderr, "lumvara-camsim: %s\n", simulator.lastError().c_str());
    return 1;
  }
  if (!port_file.empty()) {
    std::ofstream(port_file) << simulator.port() << "\n";
  }
  std::printf("lumvara-camsim listening on %s:%u", options.bind_address.c_str(), simulator.port());
  if (simulator.searchPort() != 0) std::printf(", search on udp %u", simulator.searchPort());
  std::printf("\n");
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  simulator.stop();
  return 0;
}
