// The camera simulator: an independent implementation of the camera's side of
// every exchange the client makes (live stream, camera audio, talk reception,
// parameter CGIs, record list, SD playback, LAN search answers), with scripted
// faults. Tests run it in-process on an ephemeral loopback port; the
// lumvara-camsim program runs the same class. Its wire code is its own
// (stream_frame.h says why).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "apps/camsim/stream_frame.h"

namespace lumvara::camsim {

// What happens on one connection. A script is queued with scriptConnection()
// and taken by the next connection whose request names `cgi` (or by the next
// connection of any kind when `cgi` is empty).
struct ConnectionScript {
  enum class Action {
    kNone,             // serve normally (delivery pieces still apply)
    kNotice,           // send one frame of `notice_kind`, then keep serving or close
    kCorruptMagic,     // send one frame whose magic is wrong in its last byte
    kOversizedLength,  // send one header whose length is 0x80001
    kSilence,          // stop sending anything; keep the connection open
    kClose,            // close the connection
    kCutBody,          // command answers: send the header and half the body, then go silent
  };

  std::string cgi;  // e.g. "livestream.cgi", "get_params.cgi"; empty = any request
  Action action = Action::kNone;
  // Stream connections: media frames sent normally before the action.
  uint32_t after_frames = 0;
  uint8_t notice_kind = kKindLoginRefused;
  bool close_after_notice = false;
  // Every byte the connection sends goes out in pieces of these sizes (cycled),
  // each piece a separate send, `piece_gap` apart. Empty = frames whole.
  std::vector<size_t> pieces;
  std::chrono::milliseconds piece_gap{0};
  // Command answers: the name of the length header line. Anything other than
  // the exact "Content-length:" is not understood by the client.
  std::string content_length_field = "Content-length:";
  // Command answers: leave the length header line out altogether.
  bool omit_content_length = false;
};

// One recording on the simulated SD card. Its frames are generated from the
// test pattern with time stamps starting at `start`.
struct Recording {
  std::string name;     // e.g. "20261209120000_000.h264"
  std::time_t start{};  // seconds since 1970
  uint32_t frames = 50;
  bool mjpeg = false;  // JPEG pictures (kind 3) instead of H.264
};

// One talk session: the kind-8 frames received on one live connection.
struct TalkSession {
  uint32_t connection_id = 0;
  std::vector<uint32_t> seqs;     // `seq` of each talk frame, in arrival order
  std::vector<uint32_t> lengths;  // payload length of each
  std::vector<uint8_t> payload;   // every payload, concatenated (raw ADPCM)
  std::vector<int16_t> pcm;       // the payloads decoded, block by block
};

struct SimulatorOptions {
  std::string bind_address = "127.0.0.1";
  uint16_t port = 0;  // 0 = ephemeral; read the choice with port()
  std::string user = "admin";
  std::string pwd = "";
  // Live connections served at once; one more is refused with kind 201.
  int max_connections = 8;
  // Live video.
  int width = 640;
  int height = 360;
  int fps = 25;
  int gop = 50;
  // When set, live connections play this H.264 Annex B file's access units in
  // a loop (at `fps`) instead of the generated pattern.
  std::string live_file;
  // Zone written into every frame header (hours; local = time - zone * 3600).
  // Unset: the host's own zone.
  std::optional<int8_t> zone;
  // Camera audio on audiostream.cgi: kKindAdpcm or kKindAlaw.
  uint8_t audio_kind = kKindAlaw;
  int tone_hz = 1000;
  // SD playback pace in frames per second; 0 sends as fast as the peer reads.
  int playback_fps = 25;
  // How long reboot.cgi leaves the camera unreachable.
  std::chrono::milliseconds reboot_downtime{1000};
  // Alarm notices on every live connection: 32, 34, 33, 35, ... one each
  // interval. Zero = only on command (raiseAlarm).
  std::chrono::milliseconds alarm_interval{0};
  // Networks listed by get_wifi_scan_result.cgi.
  int wifi_networks = 3;
  // When not empty, each talk session is also written there as
  // talk-<connection>.raw (as received) and talk-<connection>.wav (decoded).
  std::string talk_dir;
  // When false, talk sessions keep only each frame's `seq` and length, not its
  // payload or decoded sound, so a long run's record stays a few bytes a
  // frame (the soak measures the client's memory in the same process). A
  // talk_dir .wav is then empty; the .raw file is still written.
  bool keep_talk_audio = true;
  // UDP search responder: -1 off, 0 ephemeral, else the port (cameras use 8600).
  int search_port = -1;
  std::string search_bind_address = "127.0.0.1";
  std::string camera_name = "Lumvara Simulator";
  // Called with each request line as it arrives, on the connection's thread.
  std::function<void(const std::string&)> on_request;
};

class CameraSimulator {
 public:
  explicit CameraSimulator(SimulatorOptions options = {});
  ~CameraSimulator();  // stops
  CameraSimulator(const CameraSimulator&) = delete;
  CameraSimulator& operator=(const CameraSimulator&) = delete;

  // Binds, listens and starts serving; false (with a reason in lastError())
  // when the address cannot be bound.
  bool start();
  // Closes every connection and ends every thread. Safe to call twice.
  void stop();
  uint16_t port() const;
  uint16_t searchPort() const;  // 0 when the responder is off
  std::string lastError() const;

  // Request lines received ("GET /livestream.cgi?... HTTP/1.1", without CRLF),
  // in arrival order, on every connection.
  std::vector<std::string> requestLog() const;
  // Waits until a request line containing `text` has arrived (also one that
  // arrived earlier); true when it did within `timeout`.
  bool waitForRequest(const std::string& text, std::chrono::milliseconds timeout) const;
  void clearRequestLog();

  // Faults: the next matching connection plays `script`.
  void scriptConnection(ConnectionScript script);
  // Credentials that stream and command requests must carry.
  void setCredentials(const std::string& user, const std::string& pwd);
  void setMaxConnections(int count);
  // While set, live connections get one kind-203 notice and no video.
  void setVideoLoss(bool lost);
  // Sends an alarm (or any notice) frame on every live connection now.
  void raiseAlarm(uint8_t kind);
  // Parameter state: keys as the camera's answers write them ("ip", "port",
  // "ddns_user", "led_mode", "alias", ...).
  std::string param(const std::string& key) const;
  void setParam(const std::string& key, const std::string& value);
  // While set, every set_*.cgi is answered with a refusal and changes nothing.
  void setRefuseSets(bool refuse);
  void setWifiNetworks(int count);
  // Replaces the SD card's recordings.
  void setRecordings(std::vector<Recording> recordings);
  std::vector<Recording> recordings() const;
  // The bytes a recording plays back: its frames, whole, one after the other.
  std::vector<uint8_t> recordingBytes(const std::string& name);

  // Talk frames received so far, one session per live connection that sent any.
  std::vector<TalkSession> talkSessions() const;
  // Bytes the talk record has reserved (every session's vectors, by capacity).
  size_t talkRecordBytes() const;
  // Live connections open right now.
  int liveConnections() const;
  // Number of reboots requested so far.
  int reboots() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumvara::camsim
