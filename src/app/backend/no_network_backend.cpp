#include "app/backend/no_network_backend.h"

#include <QTimer>
#include <string>

#include "status/status_update.h"

namespace vuv::app {

void NoNetworkBackend::startSearch(NodeId, const std::string&) {
  // Events never come from inside a call: the end is reported on the next turn of the loop.
  QTimer::singleShot(0, [this] {
    if (events_.status) events_.status(SearchFinished{});
    if (events_.searchFinished) events_.searchFinished({});
  });
}

}  // namespace vuv::app
