#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <string_view>

namespace lumarin {

// A picture of every pill control in every state (normal, hovered, pressed, disabled, focused;
// filled and plain buttons, the pull-down, the segmented control with each selection), light on
// the left and dark on the right, each on its card colour. Texts come from `text`, the
// program's localisation lookup, so the picture shows the current language. Main thread; needs
// a QGuiApplication.
QImage renderPillGallery(const std::function<QString(std::string_view key)>& text, qreal scale = 2);

// Renders the gallery and writes it as a PNG file; false when the file could not be written.
bool writePillGallery(const QString& path, const std::function<QString(std::string_view key)>& text,
                      qreal scale = 2);

}  // namespace lumarin
