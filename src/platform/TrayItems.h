#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Image.h"
#include "base/Observable.h"
#include "platform/Menu.h"

namespace lumarin {

// An item another app shows in the desktop's tray, as a tile of the HUD needs it.
struct TrayItem {
  std::string key;      // "<bus name><object path>": stable while the item lives
  std::string service;  // the bus name it was registered under
  std::string path;     // its object
  std::string id;       // the app's id for it
  std::string title;    // its title, else its tooltip's title, else its id
  std::string category;
  std::string status;  // "Active", "Passive" (the host hides it), "NeedsAttention"
  // The picture that fits a tile best: the attention picture while it needs attention, else
  // its own; from its pixmaps, else its icon name through its theme path or the icon theme.
  std::shared_ptr<const Image> picture;
  std::string pictureSource;  // "pixmap", "icon" (by name), "" without picture
  std::string iconName;
  bool itemIsMenu = false;         // a left click shows its menu
  std::string menuPath;            // its exported menu; empty without one
  std::uint64_t menuRevision = 0;  // counts the changes its menu told of
  std::uint64_t order = 0;         // the order it was registered in
  bool answered = false;           // its properties have been read at least once

  bool operator==(const TrayItem& other) const {
    return key == other.key && service == other.service && path == other.path && id == other.id &&
           title == other.title && category == other.category && status == other.status &&
           picture == other.picture && pictureSource == other.pictureSource &&
           iconName == other.iconName && itemIsMenu == other.itemIsMenu &&
           menuPath == other.menuPath && menuRevision == other.menuRevision &&
           order == other.order && answered == other.answered;
  }
};

// Every tray item on the desktop, kept fresh by the items' own signals, and the calls a click
// on one of them makes. Main queue.
class TrayItems {
 public:
  virtual ~TrayItems() = default;
  // In the tray host's order where it is known, else in registration order.
  virtual const Observable<std::vector<TrayItem>>& items() const = 0;

  // How a call to an item ended: `ok`, or the error the app answered (a missing method among
  // them), or no answer within the timeout.
  struct CallResult {
    bool ok = false;
    std::string error;
  };
  using Done = std::function<void(const CallResult&)>;
  // The left click at a screen point.
  virtual void activate(const std::string& key, int x, int y, Done done) = 0;
  // The middle click.
  virtual void secondaryActivate(const std::string& key, int x, int y, Done done) = 0;
  // The app's own context menu (many apps show none).
  virtual void contextMenu(const std::string& key, int x, int y, Done done) = 0;
  // The wheel: `delta` steps, "vertical" or "horizontal".
  virtual void scroll(const std::string& key, int delta, const std::string& orientation,
                      Done done) = 0;

  // The item's exported menu as it stands now, read without showing anything; none when it
  // has none or did not answer in time.
  virtual void readMenu(const std::string& key, std::function<void(std::optional<Menu>)> done) = 0;
  // Tells the app what became of an entry of that menu: "clicked" runs it; "opened" and
  // "closed" for a submenu shown and hidden.
  virtual void menuEvent(const std::string& key, const MenuItem& entry,
                         const std::string& event) = 0;
};

}  // namespace lumarin
