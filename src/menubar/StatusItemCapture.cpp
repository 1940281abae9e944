#include "menubar/StatusItemCapture.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "base/Iso8601.h"
#include "base/Utf8.h"
#include "gfx/Drawing.h"
#include "menubar/GlyphImage.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarGeometry.h"
#include "platform/ProcessInfo.h"
#include "platform/Screens.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

const std::set<std::string> kSystemWindowTitles = {"WiFi",
                                                   "Battery",
                                                   "Bluetooth",
                                                   "PersonalHotspot",
                                                   "Hotspot",
                                                   "Tethering",
                                                   "AudioVideoModule",
                                                   "NowPlaying",
                                                   "ScreenMirroring",
                                                   "FocusModes",
                                                   "BentoBox-0",
                                                   "Clock",
                                                   "Menubar",
                                                   "MenuBar"};

std::vector<std::string> splitDots(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) {
      return parts;
    }
    start = dot + 1;
  }
}

std::string number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", v);
  return buffer;
}

std::string details(const ExternalStatusItem& item, bool withWindow) {
  std::string text = item.appName + " [" + item.windowTitle.value_or("-") +
                     "] index=" + std::to_string(item.index);
  if (withWindow) {
    text += " wid=" + std::to_string(item.windowID);
  }
  return text;
}

bool finiteRect(const GlobalRect& r) {
  return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
         std::isfinite(r.size.height);
}

// A crop of `image` (pixels, top-left origin).
std::optional<Image> crop(const Image& image, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > image.pixelWidth || y + h > image.pixelHeight) {
    return std::nullopt;
  }
  Image out;
  out.pixelWidth = w;
  out.pixelHeight = h;
  out.rgba.resize(static_cast<std::size_t>(w) * h * 4);
  for (int row = 0; row < h; ++row) {
    const auto* src =
        image.rgba.data() + (static_cast<std::size_t>(y + row) * image.pixelWidth + x) * 4;
    std::copy(src, src + static_cast<std::size_t>(w) * 4,
              out.rgba.begin() + static_cast<std::ptrdiff_t>(row) * w * 4);
  }
  return out;
}

}  // namespace

StatusItemCapture::StatusItemCapture(Dependencies dependencies)
    : deps_(std::move(dependencies)),
      queue_(deps_.scheduler.makeSerialQueue("com.kestova.Lumarin.capture", QoS::userInitiated)) {}

// ---------------------------------------------------------------------------------------
// The gate

void StatusItemCapture::acquireGate(std::function<void(Release)> body) {
  std::weak_ptr<StatusItemCapture> weak = weak_from_this();
  queue_->post([weak, body = std::move(body)]() mutable {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    self->waiting_.push_back(std::move(body));
    if (!self->inProgress_) {
      self->startNext();
    }
  });
}

void StatusItemCapture::startNext() {
  if (waiting_.empty()) {
    return;
  }
  inProgress_ = true;
  auto body = std::move(waiting_.front());
  waiting_.pop_front();
  const Duration now = deps_.scheduler.clock().monotonicNow();
  Duration wait = Duration::zero();
  if (lastStart_) {
    wait = seconds(kMinimumInterval) - (now - *lastStart_);
  }
  std::weak_ptr<StatusItemCapture> weak = weak_from_this();
  auto run = [weak, body = std::move(body)]() {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    self->lastStart_ = self->deps_.scheduler.clock().monotonicNow();
    bool released = false;
    body([weak, released]() mutable {
      if (released) {
        return;
      }
      released = true;
      if (auto strong = weak.lock()) {
        strong->inProgress_ = false;
        // Started as a task of its own, so this run finishes (and calls its completion)
        // before the next one begins.
        strong->queue_->post([weak] {
          if (auto next = weak.lock(); next && !next->inProgress_) {
            next->startNext();
          }
        });
      }
    });
  };
  if (wait > Duration::zero()) {
    queue_->postAfter(wait, std::move(run));
  } else {
    run();
  }
}

std::optional<ShareableContent> StatusItemCapture::content(bool band, bool& fromCache) {
  const Duration now = deps_.scheduler.clock().monotonicNow();
  if (cachedContent_ && now - cachedContent_->second < seconds(kContentReuse)) {
    fromCache = true;
    return cachedContent_->first;
  }
  fromCache = false;
  auto fetched = deps_.screenCapture.shareableContent(band, band);
  if (!fetched) {
    return std::nullopt;
  }
  cachedContent_ = std::make_pair(*fetched, now);
  return fetched;
}

// ---------------------------------------------------------------------------------------
// Per-item capture

void StatusItemCapture::captureItems(std::vector<ExternalStatusItem> items, Completion completion) {
  start(
      std::move(items), "SC permission=DENIED items=",
      [](StatusItemCapture& self, const std::vector<ExternalStatusItem>& list, Captures& out) {
        self.runItems(list, out);
      },
      std::move(completion));
}

void StatusItemCapture::start(std::vector<ExternalStatusItem> items, const char* deniedStatus,
                              Run run, Completion completion) {
  if (items.empty()) {
    completion({});
    return;
  }
  std::weak_ptr<StatusItemCapture> weak = weak_from_this();
  if (!deps_.screenCapture.preflightAccess()) {
    // Without the permission the gate is not taken; the outcome is still reported from the
    // capture queue like every other one.
    queue_->post([weak, status = deniedStatus + std::to_string(items.size()),
                  completion = std::move(completion)] {
      if (auto self = weak.lock()) {
        self->writeStatus(status);
      }
      completion({});
    });
    return;
  }
  acquireGate([weak, items = std::move(items), run = std::move(run),
               completion = std::move(completion)](const Release& release) {
    Captures out;
    if (auto self = weak.lock()) {
      run(*self, items, out);
    }
    release();
    completion(std::move(out));
  });
}

void StatusItemCapture::runItems(const std::vector<ExternalStatusItem>& items, Captures& out) {
  bool fromCache = false;
  auto shared = content(false, fromCache);
  std::map<std::uint32_t, ShareableWindow> windows;
  auto buildMap = [&] {
    windows.clear();
    if (shared) {
      for (const auto& w : shared->windows) {
        if (w.layer == 25) {
          windows[w.windowID] = w;
        }
      }
    }
  };
  buildMap();
  if (fromCache && std::any_of(items.begin(), items.end(), [&](const auto& item) {
        return item.windowID != 0 && windows.count(item.windowID) == 0;
      })) {
    cachedContent_.reset();
    shared = content(false, fromCache);
    buildMap();
  }
  if (!shared) {
    writeStatus("SC shareableContent=nil");
    return;
  }
  std::vector<ShareableWindow> windowList;
  windowList.reserve(windows.size());
  for (const auto& [id, w] : windows) {
    windowList.push_back(w);
  }
  appendDebug("cycle items=" + std::to_string(items.size()) +
              " scWindows=" + std::to_string(windows.size()));
  for (const auto& item : items) {
    if (item.windowID == 0) {
      appendDebug("MISS no-window-id item=" + details(item, false) +
                  " frame=" + describe(item.frame));
      continue;
    }
    auto it = windows.find(item.windowID);
    if (it == windows.end()) {
      appendDebug("MISS window-not-found item=" + details(item, true) +
                  " nearest=" + nearbyWindowSummary(item.frame, windowList, 5));
      continue;
    }
    const ShareableWindow& window = it->second;
    if (!windowMatches(window, item)) {
      appendDebug("MISS window-mismatch item=" + details(item, true) + " title=" + window.title +
                  " itemFrame=" + describe(item.frame) + " windowFrame=" + describe(window.frame) +
                  " nearest=" + nearbyWindowSummary(item.frame, windowList, 5));
      writeStatus("SKIP window-mismatch item=" + details(item, true) + " title=" + window.title +
                  " itemFrame=" + describe(item.frame) + " windowFrame=" + describe(window.frame));
      continue;
    }
    if (!isValidCaptureBounds(window.frame, 2)) {
      appendDebug("MISS invalid-bounds item=" + details(item, true) +
                  " windowFrame=" + describe(window.frame));
      writeStatus("SKIP invalid-bounds item=" + details(item, true) +
                  " windowFrame=" + describe(window.frame));
      continue;
    }
    const double s = displayScale(window.frame);
    const int w = std::max(2, static_cast<int>(std::ceil(s * window.frame.width())));
    const int h = std::max(2, static_cast<int>(std::ceil(s * window.frame.height())));
    auto raw = deps_.screenCapture.captureWindow(window.windowID, w, h);
    if (!raw || raw->pixelWidth < 2) {
      continue;
    }
    const std::string frames =
        " title=" + (window.title.empty() ? std::string("-") : window.title) +
        " itemFrame=" + describe(item.frame) + " windowFrame=" + describe(window.frame);
    if (glyph::isEffectivelyEmpty(*raw)) {
      appendDebug("MISS empty-capture item=" + details(item, true) + frames);
      continue;
    }
    const double effective =
        std::max(1.0, std::min(s, raw->pixelWidth / std::max(window.frame.width(), 1.0)));
    if (auto image = finish(*raw, effective, item)) {
      out[item.id()] = *image;
      appendDebug("CAPTURE success item=" + details(item, true) + frames);
    }
  }
  std::string status = "SC permission=OK items=" + std::to_string(items.size()) +
                       " scWindows=" + std::to_string(windows.size()) +
                       " captured=" + std::to_string(out.size());
  for (const auto& item : items) {
    if (out.count(item.id()) == 0) {
      status += "\nMISS " + item.appName + " [" + item.windowTitle.value_or("-") +
                "] wid=" + std::to_string(item.windowID);
    }
  }
  writeStatus(status);
}

std::optional<Image> StatusItemCapture::finish(const Image& raw, double scale,
                                               const ExternalStatusItem& item) {
  Image image = glyph::trimmedToOpaque(raw, 12).value_or(raw);
  image.pointSize = Size{image.pixelWidth / scale, image.pixelHeight / scale};
  image.isTemplate = false;
  deps_.iconCache.write(IconCache::cacheKey(item), image);
  image.isTemplate = glyph::isEffectivelyMonochrome(image);
  return image;
}

// ---------------------------------------------------------------------------------------
// Band capture

void StatusItemCapture::captureFromMenuBar(std::vector<ExternalStatusItem> items,
                                           std::function<bool(const ExternalStatusItem&)> isDrawn,
                                           Completion completion) {
  start(
      std::move(items), "SC permission=DENIED (band) items=",
      [isDrawn = std::move(isDrawn)](StatusItemCapture& self,
                                     const std::vector<ExternalStatusItem>& list,
                                     Captures& out) { self.runBand(list, isDrawn, out); },
      std::move(completion));
}

void StatusItemCapture::runBand(const std::vector<ExternalStatusItem>& items,
                                const std::function<bool(const ExternalStatusItem&)>& isDrawn,
                                Captures& out) {
  bool fromCache = false;
  auto shared = content(true, fromCache);
  if (!shared) {
    writeStatus("SC shareableContent=nil (band)");
    return;
  }
  std::vector<ExternalStatusItem> drawn;
  for (const auto& item : items) {
    const bool isItemDrawn = item.drawnHint ? *item.drawnHint : (isDrawn && isDrawn(item));
    if (isItemDrawn) {
      drawn.push_back(item);
    }
  }
  for (const auto& screen : menuBarScreens(deps_.screens)) {
    std::vector<const ExternalStatusItem*> onScreen;
    for (const auto& item : drawn) {
      if (item.frame.midX() >= screen.frame.minX() && item.frame.midX() <= screen.frame.maxX()) {
        onScreen.push_back(&item);
      }
    }
    if (onScreen.empty()) {
      continue;
    }
    const bool hasDisplay =
        std::any_of(shared->displays.begin(), shared->displays.end(),
                    [&](const auto& d) { return d.displayID == screen.displayID; });
    if (!hasDisplay) {
      continue;
    }
    const GlobalRect band(0, 0, screen.frame.width(), 40);
    if (!isValidCaptureBounds(band, screen.scale)) {
      continue;
    }
    const int pw = static_cast<int>(std::ceil(screen.scale * screen.frame.width()));
    const int ph = static_cast<int>(std::ceil(screen.scale * 40));
    auto image = deps_.screenCapture.captureDisplay(screen.displayID, band, pw, ph, true);
    if (!image || image->pixelWidth < 2 || image->pixelHeight < 2) {
      writeStatus("BAND capture failed screen=" + describe(screen.frame));
      continue;
    }
    const double p = image->pixelWidth / screen.frame.width();
    std::vector<std::pair<std::string, GlobalRect>> keyed;
    keyed.reserve(onScreen.size());
    for (const auto* item : onScreen) {
      keyed.emplace_back(item->id(), item->frame);
    }
    const auto exclusions = bandCropExclusions(keyed);
    for (const auto* item : onScreen) {
      if (exclusions.count(item->id()) != 0) {
        appendDebug("BAND REJECT overlap item=" + details(*item, true));
        continue;
      }
      if (!finiteRect(item->frame)) {
        appendDebug("BAND MISS out-of-band item=" + details(*item, true));
        continue;
      }
      const double x0 = std::floor((item->frame.minX() - screen.frame.minX()) * p);
      const double y0 = std::floor((item->frame.minY() - screen.frame.minY()) * p);
      const double x1 = x0 + std::ceil(item->frame.width() * p);
      const double y1 = y0 + std::ceil(item->frame.height() * p);
      // Intersected with the image in floating point before any conversion to pixels.
      const double ix0 = std::clamp(x0, 0.0, static_cast<double>(image->pixelWidth));
      const double iy0 = std::clamp(y0, 0.0, static_cast<double>(image->pixelHeight));
      const double ix1 = std::clamp(x1, 0.0, static_cast<double>(image->pixelWidth));
      const double iy1 = std::clamp(y1, 0.0, static_cast<double>(image->pixelHeight));
      const int cx = static_cast<int>(ix0);
      const int cy = static_cast<int>(iy0);
      const int cw = static_cast<int>(ix1) - cx;
      const int ch = static_cast<int>(iy1) - cy;
      auto cut = (cw > 2 && ch > 2) ? crop(*image, cx, cy, cw, ch) : std::nullopt;
      if (!cut) {
        appendDebug("BAND MISS out-of-band item=" + details(*item, true));
        continue;
      }
      cut->pointSize = Size{cw / p, ch / p};
      if (item->bundleID) {
        if (auto edges = glyph::edgeInkFractions(*cut);
            edges && std::max(edges->first, edges->second) > 0.12) {
          appendDebug("BAND REJECT edge-ink item=" + details(*item, true) +
                      " left=" + number(edges->first) + " right=" + number(edges->second));
          continue;
        }
      }
      std::optional<Image> keyedOut = glyph::hasTransparentBackground(*cut)
                                          ? std::optional<Image>(*cut)
                                          : glyph::keyingOutBackground(*cut);
      if (!keyedOut) {
        continue;
      }
      if (glyph::isEffectivelyEmpty(*keyedOut)) {
        appendDebug("BAND MISS empty item=" + details(*item, true));
        continue;
      }
      if (auto finished = finish(*keyedOut, p, *item)) {
        out[item->id()] = *finished;
      }
    }
  }
  writeStatus("SC band items=" + std::to_string(items.size()) +
              " drawn=" + std::to_string(drawn.size()) + " captured=" + std::to_string(out.size()));
}

// ---------------------------------------------------------------------------------------
// Tests

std::set<std::string> StatusItemCapture::bandCropExclusions(
    const std::vector<std::pair<std::string, GlobalRect>>& items) {
  std::set<std::string> out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (std::size_t j = i + 1; j < items.size(); ++j) {
      const GlobalRect& a = items[i].second;
      const GlobalRect& b = items[j].second;
      const double overlap = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
      bool exclude = false;
      if (std::abs(a.midX() - b.midX()) <= 1) {
        exclude = std::abs(a.width() - b.width()) <= 1 || overlap > 2;
      } else {
        exclude = overlap > 2;
      }
      if (exclude) {
        out.insert(items[i].first);
        out.insert(items[j].first);
      }
    }
  }
  return out;
}

bool StatusItemCapture::captureWindowFrameMatches(const GlobalRect& w, const GlobalRect& item) {
  if (!finiteRect(w) || !finiteRect(item) || !(w.width() > 1) || !(w.height() > 1) ||
      !(item.width() > 1) || !(item.height() > 1)) {
    return false;
  }
  const double t = item.minX() < 0 ? 10 : 6;
  return std::abs(w.midX() - item.midX()) <= t && std::abs(w.midY() - item.midY()) <= t &&
         std::abs(w.width() - item.width()) <= std::max(0.8 * item.width(), 12.0) &&
         std::abs(w.height() - item.height()) <= std::max(0.45 * item.height(), 8.0);
}

bool StatusItemCapture::relatedBundleTitle(const std::string& title, const std::string& bundleID) {
  const auto a = splitDots(title);
  const auto b = splitDots(bundleID);
  return a.size() >= 3 && b.size() >= 3 && a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

bool StatusItemCapture::windowMatches(const ShareableWindow& window,
                                      const ExternalStatusItem& item) {
  if (!captureWindowFrameMatches(window.frame, item.frame)) {
    return false;
  }
  const std::string title = utf8::trimWhitespaceAndNewlines(window.title);
  if (!title.empty() && item.bundleID && title != *item.bundleID &&
      !relatedBundleTitle(title, *item.bundleID)) {
    if (kSystemWindowTitles.count(title) != 0 || splitDots(title).size() > 2) {
      return false;
    }
  }
  return true;
}

bool StatusItemCapture::isValidCaptureBounds(const GlobalRect& rect, double scale) {
  if (rect.isNull()) {
    return true;
  }
  if (!finiteRect(rect) || !(rect.size.width > 0) || !(rect.size.height > 0) ||
      !std::isfinite(scale) || !(scale > 0)) {
    return false;
  }
  const double w = std::ceil(scale * rect.width());
  const double h = std::ceil(scale * rect.height());
  return w > 0 && h > 0 && w <= 16384 && h <= 16384;
}

double StatusItemCapture::displayScale(const GlobalRect& windowFrame) const {
  const auto screens = menuBarScreens(deps_.screens);
  for (const auto& s : screens) {
    if (windowFrame.midX() >= s.frame.minX() && windowFrame.midX() <= s.frame.maxX()) {
      return s.scale;
    }
  }
  return screens.empty() ? 2 : screens.front().scale;
}

std::string StatusItemCapture::describe(const GlobalRect& r) {
  return "(" + number(r.minX()) + ", " + number(r.minY()) + ", " + number(r.width()) + ", " +
         number(r.height()) + ")";
}

std::string StatusItemCapture::nearbyWindowSummary(const GlobalRect& item,
                                                   const std::vector<ShareableWindow>& windows,
                                                   std::size_t limit) {
  std::vector<std::pair<double, const ShareableWindow*>> sorted;
  sorted.reserve(windows.size());
  for (const auto& w : windows) {
    sorted.emplace_back(std::hypot(w.frame.midX() - item.midX(), w.frame.midY() - item.midY()), &w);
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out;
  for (std::size_t i = 0; i < sorted.size() && i < limit; ++i) {
    if (!out.empty()) {
      out += ";";
    }
    out += "{wid=" + std::to_string(sorted[i].second->windowID) +
           ",title=" + sorted[i].second->title +
           ",d=" + std::to_string(std::lround(sorted[i].first)) +
           ",frame=" + describe(sorted[i].second->frame) + "}";
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Permission flow and diagnostics

void StatusItemCapture::openSystemSettings() {
  if (!deps_.screenCapture.preflightAccess()) {
    const auto now = deps_.scheduler.clock().wallNow();
    deps_.defaults.set("permissionFlowStartedAt",
                       std::chrono::duration<double>(now.time_since_epoch()).count());
  }
  deps_.workspace.openURL(
      "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
}

void StatusItemCapture::requestAccess() {
  if (deps_.screenCapture.preflightAccess()) {
    return;
  }
  if (accessRequested_) {
    openSystemSettings();
    return;
  }
  accessRequested_ = true;
  const auto now = deps_.scheduler.clock().wallNow();
  deps_.defaults.set("permissionFlowStartedAt",
                     std::chrono::duration<double>(now.time_since_epoch()).count());
  (void)deps_.screenCapture.requestAccess();
}

bool StatusItemCapture::consumePendingPermissionRelaunch() {
  const auto stored = deps_.defaults.object("permissionFlowStartedAt");
  double startedAt = 0;
  if (stored) {
    if (const auto* d = std::get_if<double>(&*stored)) {
      startedAt = *d;
    } else if (const auto* i = std::get_if<std::int64_t>(&*stored)) {
      startedAt = static_cast<double>(*i);
    }
  }
  if (!(startedAt > 0)) {
    return false;
  }
  deps_.defaults.remove("permissionFlowStartedAt");
  const double now =
      std::chrono::duration<double>(deps_.scheduler.clock().wallNow().time_since_epoch()).count();
  return now - startedAt < 1800;
}

bool StatusItemCapture::debugLoggingEnabled() const {
  return deps_.processInfo.environmentValue("LUMARIN_DEBUG").has_value();
}

std::string StatusItemCapture::dateText() const {
  // The platform's description of a date: "2026-03-01 12:00:05 +0000".
  std::string iso = iso8601::formatUtc(deps_.scheduler.clock().wallNow());
  iso[10] = ' ';
  iso.pop_back();
  return iso + " +0000";
}

void StatusItemCapture::appendDebug(const std::string& text) {
  {
    // The newest lines stay in memory for diagnosis; the file (with LUMARIN_DEBUG) has all.
    std::lock_guard lock(diagnosticsMutex_);
    if (debugLines_.size() >= 512) {
      debugLines_.erase(debugLines_.begin(), debugLines_.begin() + 256);
    }
    debugLines_.push_back(text);
  }
  if (!debugLoggingEnabled()) {
    return;
  }
  const auto dir = deps_.applicationSupport / "Lumarin";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::ofstream out(dir / "capture-debug-status.txt", std::ios::app | std::ios::binary);
  out << dateText() << ": " << text << "\n";
}

void StatusItemCapture::writeStatus(const std::string& text) {
  {
    std::lock_guard lock(diagnosticsMutex_);
    lastStatus_ = text;
  }
  if (!debugLoggingEnabled()) {
    return;
  }
  const auto dir = deps_.applicationSupport / "Lumarin";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  const auto temp = dir / "capture-status.txt.tmp";
  {
    std::ofstream out(temp, std::ios::trunc | std::ios::binary);
    out << dateText() << ": " << text;
  }
  std::filesystem::rename(temp, dir / "capture-status.txt", error);
}

std::string StatusItemCapture::lastStatus() const {
  std::lock_guard lock(diagnosticsMutex_);
  return lastStatus_;
}

std::vector<std::string> StatusItemCapture::debugLines() const {
  std::lock_guard lock(diagnosticsMutex_);
  return debugLines_;
}

}  // namespace lumarin
