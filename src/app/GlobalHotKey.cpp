#include "app/GlobalHotKey.h"

#include "diagnostics/DebugLog.h"

namespace lumarin {

void GlobalHotKey::registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers,
                                  std::function<void()> handler) {
  unregisterHotKey(id);
  if (!handlerInstalled_) {
    std::weak_ptr<GlobalHotKey> weak = weak_from_this();
    hotKeys_.installHandler([weak](std::optional<HotKeyID> identity) {
      auto self = weak.lock();
      return self ? self->dispatch(identity) : 0;
    });
    handlerInstalled_ = true;
  }
  HotKeys::Handle handle = 0;
  const int status = hotKeys_.registerHotKey(keyCode, modifiers, HotKeyID{kSignature, id}, handle);
  if (status == 0) {
    entries_[id] = Entry{handle, std::move(handler)};
    return;
  }
  log_.log("hotkey: register id=" + std::to_string(id) +
           " failed status=" + std::to_string(status));
  if (statistics_) {
    statistics_("hotkey.failed", {{"status", static_cast<std::int64_t>(status)}});
  }
}

void GlobalHotKey::registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers) {
  std::weak_ptr<GlobalHotKey> weak = weak_from_this();
  registerHotKey(1, keyCode, modifiers, [weak] {
    if (auto self = weak.lock(); self && self->onTrigger_) {
      self->onTrigger_();
    }
  });
}

void GlobalHotKey::unregisterHotKey(std::uint32_t id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) {
    return;
  }
  const HotKeys::Handle handle = it->second.handle;
  entries_.erase(it);
  hotKeys_.unregisterHotKey(handle);
}

int GlobalHotKey::dispatch(std::optional<HotKeyID> identity) {
  if (!identity) {
    return 0;
  }
  auto it = entries_.find(identity->id);
  if (it != entries_.end() && it->second.handler) {
    auto handler = it->second.handler;  // a handler may re-register its own shortcut
    handler();
  }
  return 0;
}

}  // namespace lumarin
