#pragma once

#include <QFont>
#include <QImage>
#include <QString>

namespace lumarin {

// The Mac's named system symbols as template images (black; only the alpha counts), drawn at a
// point size and weight and rasterised at `scale` pixels per point. The symbols the settings
// window names are drawn here as shapes; any other name is looked up in the desktop's icon
// theme as "<name with dashes>-symbolic", and when that is missing too the image is the name's
// first letter on a small rounded square, so a control never shows an empty segment.
QImage systemSymbol(const QString& name, double points, QFont::Weight weight, qreal scale = 2);

// True when `name` is one of the symbols drawn as shapes.
bool isDrawnSymbol(const QString& name);

}  // namespace lumarin
