// Parameter CGIs: get_params, get_misc, the set_* family, the Wi-Fi scan,
// decoder control and reboot, answered on a kept command connection.
#include <string>

#include "apps/camsim/camera_simulator_impl.h"

namespace lumvara::camsim {
namespace {

std::string Answer(const ConnectionScript& script, const std::string& body) {
  std::string head = "HTTP/1.1 200 OK\r\nServer: Lumvara camsim\r\n";
  head += "Content-Type: text/plain\r\n";
  if (!script.omit_content_length) {
    head += script.content_length_field + " " + std::to_string(body.size()) + "\r\n";
  }
  head += "Cache-Control: no-cache\r\nConnection: keep-alive\r\n\r\n";
  return head;
}

}  // namespace

bool CameraSimulator::Impl::serveCommand(ConnectionLink& link, const HttpRequest& request,
                                         const ConnectionScript& script) {
  using Action = ConnectionScript::Action;
  if (script.action == Action::kClose) return false;
  if (script.action == Action::kSilence) {
    holdSilent(link);
    return false;
  }
  bool reboot_after = false;
  const std::string body = commandBody(request, reboot_after);
  const std::string head = Answer(script, body);
  if (script.action == Action::kCutBody) {
    link.send(head + body.substr(0, body.size() / 2));
    holdSilent(link);
    return false;
  }
  const bool sent = link.send(head + body);
  if (reboot_after) {
    rebootRequested_.store(true);
    const uint64_t one = 1;
    (void)!::write(acceptWake_, &one, sizeof one);
    return false;
  }
  return sent;
}

std::string CameraSimulator::Impl::commandBody(const HttpRequest& request, bool& reboot_after) {
  const std::string& cgi = request.cgi;
  const std::string refused = "var result=\"Auth Failed\";\r\n";
  const std::string ok = "var result=\"ok\";\r\n";
  if (!credentialsMatch(request.value("loginuse"), request.value("loginpas"))) return refused;
  if (cgi == "get_record_file.cgi") return recordListBody(request);
  std::lock_guard<std::mutex> lock(mutex_);
  if (cgi == "get_params.cgi") return params_.paramsBody();
  if (cgi == "get_misc.cgi") return params_.miscBody();
  if (cgi == "get_wifi_scan_result.cgi") return WifiScanBody(wifiNetworks_);
  if (cgi == "decoder_control.cgi") return ok;
  if (cgi == "reboot.cgi") {
    reboot_after = true;
    return ok;
  }
  if (CameraParams::IsSetCgi(cgi)) {
    if (refuseSets_) return "var result=\"error\";\r\n";
    params_.applySet(request);
    return ok;
  }
  return "var result=\"unknown cgi\";\r\n";
}

}  // namespace lumvara::camsim
