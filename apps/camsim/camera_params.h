// The camera's stored settings and the text answers built from them. Keys are
// the ones the camera writes in its answers; set requests name some fields
// differently, and the tables in camera_params.cpp map one to the other.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "apps/camsim/http_request.h"

namespace lumvara::camsim {

class CameraParams {
 public:
  CameraParams();

  std::string get(const std::string& key) const;
  void set(const std::string& key, const std::string& value);

  // True for the CGIs that change settings (set_network.cgi, set_alias.cgi, ...).
  static bool IsSetCgi(const std::string& cgi);
  // Stores every field the request carries; false when the CGI is unknown.
  bool applySet(const HttpRequest& request);

  // Body of get_params.cgi: network, users, DDNS, FTP, mail settings and alias.
  std::string paramsBody() const;
  // Body of get_misc.cgi: the PTZ and LED integers.
  std::string miscBody() const;

 private:
  std::string render(const std::vector<std::string>& keys) const;
  std::map<std::string, std::string> values_;
};

// Body of get_wifi_scan_result.cgi listing `count` made-up networks.
std::string WifiScanBody(int count);

}  // namespace lumvara::camsim
