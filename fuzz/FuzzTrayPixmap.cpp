// An item's pixmaps as any app on the session bus may send them: any number, any declared
// size, any buffer. The bytes give the wanted size, then per pixmap a width and height (16 bits
// each, signed) and a buffer of some length (filled, or cut short, from the input).
#include <QByteArray>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/desktop/TrayImages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) {
    return 0;
  }
  const int pixels = static_cast<std::uint8_t>(in.front());
  in.remove_prefix(1);
  dbus::IconPixmapList pixmaps;
  while (in.size() >= 6 && pixmaps.size() < 16) {
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::uint16_t length = 0;
    std::memcpy(&width, in.data(), 2);
    std::memcpy(&height, in.data() + 2, 2);
    std::memcpy(&length, in.data() + 4, 2);
    in.remove_prefix(6);
    dbus::IconPixmap pixmap;
    pixmap.width = width;
    pixmap.height = height;
    // A buffer the size it claims when the length's top bit says so, else what the input has.
    if ((length & 0x8000) != 0 && width > 0 && height > 0 && width <= 64 && height <= 64) {
      pixmap.bytes = QByteArray(static_cast<qsizetype>(width) * height * 4, '\x7f');
    } else {
      const std::size_t n = std::min<std::size_t>(length & 0x7fff, in.size());
      pixmap.bytes = QByteArray(in.data(), static_cast<qsizetype>(n));
      in.remove_prefix(n);
    }
    pixmaps.push_back(pixmap);
  }
  const auto image = bestTrayPixmap(pixmaps, pixels);
  if (image) {
    if (image->pixelWidth <= 0 || image->pixelHeight <= 0 ||
        image->pixelWidth > kMaxTrayPixmapSide || image->pixelHeight > kMaxTrayPixmapSide ||
        image->rgba.size() != static_cast<std::size_t>(image->pixelWidth) *
                                  static_cast<std::size_t>(image->pixelHeight) * 4) {
      __builtin_trap();
    }
  }
  return 0;
}
