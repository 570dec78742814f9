// The camera's reading of one HTTP request: the request line, the CGI it
// names and the query's key/value pairs, taken as they stand (the client
// inserts values without URL encoding).
#pragma once

#include <map>
#include <optional>
#include <string>

namespace lumvara::camsim {

// Longest request head (request line and header lines) the camera reads.
inline constexpr size_t kMaxRequestHead = 16384;

struct HttpRequest {
  std::string line;  // the request line without its CRLF
  std::string cgi;   // "livestream.cgi", "get_params.cgi", ... (no leading slash)
  std::map<std::string, std::string> query;

  // The value of `key`, or `fallback` when the query lacks it.
  std::string value(const std::string& key, const std::string& fallback = "") const;
  int intValue(const std::string& key, int fallback = 0) const;
  bool has(const std::string& key) const { return query.count(key) != 0; }
};

// Parses a request head (everything up to and including the empty line).
// Nothing when the request line is not "GET <target> HTTP/1.x".
std::optional<HttpRequest> ParseHttpRequest(const std::string& head);

}  // namespace lumvara::camsim
