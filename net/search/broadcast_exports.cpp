// The device_broadcast_* exports over one process-wide LanSearchContext.

#include <memory>
#include <mutex>

#include <lumvara/search.h>

#include "net/search/lan_search_context.h"

namespace lumvara {
namespace {

// Guards the published context. Never held while a context stops, so that
// a callback running on the receive thread may still call the exports
// (it then finds no context) without deadlocking a teardown.
std::mutex gSearchLock;
std::unique_ptr<LanSearchContext> gSearchContext;

}  // namespace
}  // namespace lumvara

using lumvara::gSearchContext;
using lumvara::gSearchLock;

extern "C" {

LUMVARA_API int device_broadcast_Initialization(void) {
  std::lock_guard lock(gSearchLock);
  if (gSearchContext) {
    return 1;
  }
  auto context = std::make_unique<lumvara::LanSearchContext>(lumvara::searchDestinationFromEnvironment());
  if (!context->start()) {
    return 0;  // nothing is published: the next call tries again
  }
  gSearchContext = std::move(context);
  return 1;
}

LUMVARA_API int device_broadcast_search(SearchResultCallback callback, void* context) {
  std::lock_guard lock(gSearchLock);
  if (!gSearchContext) {
    return 0;
  }
  return gSearchContext->search(callback, context) ? 1 : 0;
}

LUMVARA_API int device_broadcast_unInitialization(void) {
  std::unique_ptr<lumvara::LanSearchContext> context;
  {
    std::lock_guard lock(gSearchLock);
    if (!gSearchContext) {
      return 1;
    }
    if (gSearchContext->onReceiveThread()) {
      return 0;  // a callback cannot wait for its own thread to end
    }
    context = std::move(gSearchContext);
  }
  context->stop();
  return 1;
}

}  // extern "C"
