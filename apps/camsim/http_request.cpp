#include "apps/camsim/http_request.h"

#include <cstdlib>

namespace lumvara::camsim {

std::string HttpRequest::value(const std::string& key, const std::string& fallback) const {
  auto it = query.find(key);
  return it == query.end() ? fallback : it->second;
}

int HttpRequest::intValue(const std::string& key, int fallback) const {
  auto it = query.find(key);
  return it == query.end() ? fallback : std::atoi(it->second.c_str());
}

std::optional<HttpRequest> ParseHttpRequest(const std::string& head) {
  const size_t line_end = head.find("\r\n");
  if (line_end == std::string::npos) return std::nullopt;
  HttpRequest request;
  request.line = head.substr(0, line_end);
  const std::string& line = request.line;
  if (line.rfind("GET ", 0) != 0) return std::nullopt;
  const size_t version = line.rfind(" HTTP/1.");
  if (version == std::string::npos || version < 4) return std::nullopt;
  std::string target = line.substr(4, version - 4);
  if (!target.empty() && target[0] == '/') target.erase(0, 1);
  const size_t question = target.find('?');
  request.cgi = target.substr(0, question);
  if (request.cgi.empty()) return std::nullopt;
  if (question == std::string::npos) return request;
  const std::string query = target.substr(question + 1);
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string item = query.substr(start, end - start);
    const size_t equals = item.find('=');
    if (!item.empty()) {
      const std::string key = item.substr(0, equals);
      const std::string val = equals == std::string::npos ? "" : item.substr(equals + 1);
      // The first occurrence of a key counts.
      request.query.emplace(key, val);
    }
    start = end + 1;
  }
  return request;
}

}  // namespace lumvara::camsim
