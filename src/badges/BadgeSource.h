#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/Observable.h"
#include "model/DockItem.h"

namespace lumarin {

// Where the apps' badges come from: the Dock's accessibility tree on the Mac, the launcher
// protocol's signals on a freedesktop desktop. Publishes every app it knows as a map from the
// app's identifier (bundle identifier, or desktop file ID with its ".desktop") to its item;
// the item renderer, styles, visibility rules, tooltips and statistics read only this.
//
// `items` and `isReading` belong to the main queue; `setWatched` may be called from any
// thread. Sources are created with std::make_shared; their callbacks hold them weakly.
class BadgeSource {
 public:
  virtual ~BadgeSource() = default;

  // Starts listening (or reading). A second call does nothing. Main queue.
  virtual void start() = 0;
  // The apps the user monitors. A source that reads on demand reads these first; a source
  // that is told everything may ignore it.
  virtual void setWatched(std::set<std::string> ids) = 0;
  // The apps a user could add, in the order "Add App" lists them (the Dock's order; on the
  // desktop, running apps first, then the installed ones). Read on the calling thread;
  // changes none of the source's state.
  virtual std::vector<DockItem> snapshotDockItems() = 0;

  virtual const Observable<std::map<std::string, DockItem>>& items() const = 0;
  // True while a read is under way (the own item's menu shows it); a source told of changes
  // as they happen never reads.
  virtual const Observable<bool>& isReading() const = 0;
};

}  // namespace lumarin
