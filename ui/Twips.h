#pragma once

#include <QFont>
#include <QRect>
#include <QString>

/// The windows are laid out in twips, 15 to a pixel.
namespace Twips {

constexpr int kPerPixel = 15;

inline QRect rect(int left, int top, int width, int height)
{
    return QRect(left / kPerPixel, top / kPerPixel, width / kPerPixel, height / kPerPixel);
}

/// `family` where it is installed, otherwise the closest font of its kind.
QFont font(const QString &family, QFont::StyleHint hint, qreal points, bool bold);

} // namespace Twips
