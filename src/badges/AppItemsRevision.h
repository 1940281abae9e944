#pragma once

#include "base/Observable.h"

namespace lumarin {

// A counter the app status items bump after every reconciliation, so views that preview the
// items (the settings window) know to redraw. Main queue.
struct AppItemsRevision {
  Observable<int> value{0};
};

}  // namespace lumarin
