#pragma once

// Pictures of other apps' tray items and menu entries as tiles and menus take them. Only the
// desktop adapter's sources include this header.

#include <QByteArray>
#include <memory>
#include <string>

#include "base/Image.h"
#include "platform/desktop/DBusTypes.h"

class QImage;

namespace lumarin {

// Pixmaps and PNG icons larger than this many pixels a side are not taken.
constexpr int kMaxTrayPixmapSide = 1024;
constexpr qsizetype kMaxTrayPngBytes = qsizetype{4} * 1024 * 1024;

// The pixmap that fits `pixels` best (the smallest at least that large, else the largest) as
// our premultiplied RGBA at 2x; malformed ones (a buffer that is not width × height × 4 bytes,
// a side over the limit) are passed over. None when none is left.
std::shared_ptr<const Image> bestTrayPixmap(const dbus::IconPixmapList& pixmaps, int pixels);

// An icon by name: among the files of that name in `themePath`, an absolute file, else the icon
// theme's; rendered at `pixels`. None without a GUI application or without such an icon.
std::shared_ptr<const Image> namedTrayIcon(const std::string& name, const std::string& themePath,
                                           int pixels);

// PNG bytes (a menu entry's icon-data) scaled to fit `pixels`; none when they do not decode.
std::shared_ptr<const Image> imageFromPng(const QByteArray& png, int pixels);

std::shared_ptr<const Image> imageFromQImage(const QImage& image);

}  // namespace lumarin
