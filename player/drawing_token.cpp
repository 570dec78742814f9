#include "player/drawing_token.h"

#include <mutex>

namespace lumvara {

namespace {

std::mutex tokenLock;
unsigned startups = 0;

}  // namespace

bool drawingStartup() {
  std::lock_guard<std::mutex> guard(tokenLock);
  ++startups;
  return true;
}

bool drawingShutdown() {
  std::lock_guard<std::mutex> guard(tokenLock);
  if (startups == 0) {
    return false;
  }
  --startups;
  return true;
}

bool drawingStarted() {
  std::lock_guard<std::mutex> guard(tokenLock);
  return startups > 0;
}

}  // namespace lumvara
