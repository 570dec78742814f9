#include <lumvara/search.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/cli/commands.h"

namespace lumvara::cli {

namespace {

struct FoundCamera {
  std::string ip;
  int port = 0;
  std::string name;
};

struct SearchResults {
  std::mutex lock;
  std::vector<FoundCamera> cameras;

  // Runs on the search thread. A camera that answers twice is listed once.
  static void onAnswer(const SearchResultRecord* record, void* context) {
    auto* self = static_cast<SearchResults*>(context);
    FoundCamera camera{std::string(record->ip, strnlen(record->ip, sizeof record->ip)), record->port,
                       std::string(record->name, strnlen(record->name, sizeof record->name))};
    std::lock_guard guard(self->lock);
    for (const auto& known : self->cameras) {
      if (known.ip == camera.ip) {
        return;
      }
    }
    self->cameras.push_back(std::move(camera));
  }
};

}  // namespace

int runSearch(const SearchOptions& options) {
  if (options.seconds < 0 || options.seconds > 3600) {
    return fail(kExitBadInput, "--seconds must lie in 0..3600");
  }
  if (device_broadcast_Initialization() != 1) {
    return fail(kExitFailure, "cannot open the search socket");
  }
  SearchResults results;
  if (device_broadcast_search(SearchResults::onAnswer, &results) != 1) {
    device_broadcast_unInitialization();
    return fail(kExitFailure, "cannot send the search request");
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
  device_broadcast_unInitialization();

  std::lock_guard guard(results.lock);
  if (options.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& camera : results.cameras) {
      list.push_back({{"ip", camera.ip}, {"port", camera.port}, {"name", camera.name}});
    }
    std::printf("%s\n", list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return kExitOk;
  }
  for (const auto& camera : results.cameras) {
    std::printf("%s:%d  %s\n", camera.ip.c_str(), camera.port, camera.name.c_str());
  }
  std::fprintf(stderr, "%zu camera(s) found\n", results.cameras.size());
  return kExitOk;
}

}  // namespace lumvara::cli
