#include "platform/desktop/X11HotKeys.h"

#include <xcb/xcb.h>

#include <QSocketNotifier>
#include <cstdlib>
#include <map>
#include <vector>

#include "platform/Scheduler.h"

namespace lumarin {

namespace {

// The port's modifier bits.
constexpr std::uint32_t kCommand = 0x100;
constexpr std::uint32_t kShift = 0x200;
constexpr std::uint32_t kOption = 0x800;
constexpr std::uint32_t kControl = 0x1000;
// The locks a grab must not depend on: Caps Lock, and Num Lock (Mod2 on common keymaps).
constexpr std::uint16_t kLocks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint8_t kBadAccess = 10;

std::uint16_t xModifiers(std::uint32_t modifiers) {
  std::uint16_t out = 0;
  if ((modifiers & kCommand) != 0) {
    out |= XCB_MOD_MASK_4;
  }
  if ((modifiers & kShift) != 0) {
    out |= XCB_MOD_MASK_SHIFT;
  }
  if ((modifiers & kOption) != 0) {
    out |= XCB_MOD_MASK_1;
  }
  if ((modifiers & kControl) != 0) {
    out |= XCB_MOD_MASK_CONTROL;
  }
  return out;
}

}  // namespace

std::uint32_t X11HotKeys::keysymForKeyCode(std::uint32_t keyCode) {
  // The ANSI layout's keys by virtual key code, as their unshifted keysyms.
  static const std::map<std::uint32_t, std::uint32_t> kKeys = {
      {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},     {4, 'h'},      {5, 'g'},
      {6, 'z'},      {7, 'x'},      {8, 'c'},      {9, 'v'},     {11, 'b'},     {12, 'q'},
      {13, 'w'},     {14, 'e'},     {15, 'r'},     {16, 'y'},    {17, 't'},     {18, '1'},
      {19, '2'},     {20, '3'},     {21, '4'},     {22, '6'},    {23, '5'},     {24, '='},
      {25, '9'},     {26, '7'},     {27, '-'},     {28, '8'},    {29, '0'},     {30, ']'},
      {31, 'o'},     {32, 'u'},     {33, '['},     {34, 'i'},    {35, 'p'},     {36, 0xff0d},
      {37, 'l'},     {38, 'j'},     {39, '\''},    {40, 'k'},    {41, ';'},     {42, '\\'},
      {43, ','},     {44, '/'},     {45, 'n'},     {46, 'm'},    {47, '.'},     {48, 0xff09},
      {49, ' '},     {50, '`'},     {51, 0xff08},  {53, 0xff1b}, {122, 0xffbe}, {120, 0xffbf},
      {99, 0xffc0},  {118, 0xffc1}, {96, 0xffc2},  {97, 0xffc3}, {98, 0xffc4},  {100, 0xffc5},
      {101, 0xffc6}, {109, 0xffc7}, {103, 0xffc8}, {111, 0xffc9}};
  const auto found = kKeys.find(keyCode);
  return found == kKeys.end() ? 0 : found->second;
}

class X11HotKeys::Impl {
 public:
  Impl(Scheduler& scheduler, const std::string& display) : scheduler_(scheduler) {
    connection_ = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_) != 0) {
      xcb_disconnect(connection_);
      connection_ = nullptr;
      return;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    root_ = xcb_setup_roots_iterator(setup).data->root;
    minKeycode_ = setup->min_keycode;
    maxKeycode_ = setup->max_keycode;
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_),
                                                  QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { readEvents(); });
  }

  ~Impl() {
    notifier_.reset();
    if (connection_ != nullptr) {
      xcb_disconnect(connection_);  // the server drops the connection's grabs
    }
  }

  bool connected() const { return connection_ != nullptr; }

  int registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                     Handle& handle) {
    if (connection_ == nullptr) {
      return -1;
    }
    const std::uint32_t keysym = keysymForKeyCode(keyCode);
    const xcb_keycode_t keycode = keysym == 0 ? 0 : keycodeFor(keysym);
    if (keycode == 0) {
      return -1;
    }
    const std::uint16_t mods = xModifiers(modifiers);
    std::vector<std::uint16_t> grabbed;
    for (const std::uint16_t locks : kLocks) {
      const xcb_void_cookie_t cookie = xcb_grab_key_checked(
          connection_, 1, root_, mods | locks, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
      xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
      if (error != nullptr) {
        const bool taken = error->error_code == kBadAccess;
        std::free(error);
        for (const std::uint16_t done : grabbed) {
          xcb_ungrab_key(connection_, keycode, root_, mods | done);
        }
        xcb_flush(connection_);
        return taken ? kHotKeyExistsErr : -1;
      }
      grabbed.push_back(locks);
    }
    handle = ++lastHandle_;
    registrations_[handle] = Registration{keycode, mods, identity};
    return 0;
  }

  void unregisterHotKey(Handle handle) {
    const auto found = registrations_.find(handle);
    if (found == registrations_.end() || connection_ == nullptr) {
      return;
    }
    for (const std::uint16_t locks : kLocks) {
      xcb_ungrab_key(connection_, found->second.keycode, root_, found->second.modifiers | locks);
    }
    xcb_flush(connection_);
    registrations_.erase(found);
  }

  void installHandler(std::function<int(std::optional<HotKeyID>)> handler) {
    handler_ = std::move(handler);
  }

 private:
  struct Registration {
    xcb_keycode_t keycode = 0;
    std::uint16_t modifiers = 0;
    HotKeyID identity;
  };

  // The first key that gives `keysym` without modifiers in the server's keymap.
  xcb_keycode_t keycodeFor(std::uint32_t keysym) {
    const auto count = static_cast<std::uint8_t>(maxKeycode_ - minKeycode_ + 1);
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, minKeycode_, count), nullptr);
    if (reply == nullptr) {
      return 0;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perKey = reply->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    for (int i = 0; i < count && found == 0 && perKey > 0; ++i) {
      if (syms[static_cast<std::ptrdiff_t>(i) * perKey] == keysym) {
        found = static_cast<xcb_keycode_t>(minKeycode_ + i);
      }
    }
    std::free(reply);
    return found;
  }

  void readEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
        const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
        const std::uint16_t state =
            press->state & static_cast<std::uint16_t>(~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));
        for (const auto& [handle, registration] : registrations_) {
          if (registration.keycode == press->detail && registration.modifiers == state &&
              handler_) {
            scheduler_.mainQueue().post([handler = handler_, identity = registration.identity] {
              (void)handler(identity);
            });
          }
        }
      }
      std::free(event);
    }
  }

  Scheduler& scheduler_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_keycode_t minKeycode_ = 8;
  xcb_keycode_t maxKeycode_ = 255;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::map<Handle, Registration> registrations_;
  Handle lastHandle_ = 0;
  std::function<int(std::optional<HotKeyID>)> handler_;
};

X11HotKeys::X11HotKeys(Scheduler& scheduler, const std::string& display)
    : impl_(std::make_unique<Impl>(scheduler, display)) {}

X11HotKeys::~X11HotKeys() = default;

bool X11HotKeys::isConnected() const { return impl_->connected(); }

int X11HotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                               Handle& handle) {
  return impl_->registerHotKey(keyCode, modifiers, identity, handle);
}

void X11HotKeys::unregisterHotKey(Handle handle) { impl_->unregisterHotKey(handle); }

void X11HotKeys::installHandler(std::function<int(std::optional<HotKeyID>)> handler) {
  impl_->installHandler(std::move(handler));
}

}  // namespace lumarin
