#include "ui/Twips.h"

#include <QFontDatabase>

namespace Twips {

QFont font(const QString &family, QFont::StyleHint hint, qreal points, bool bold)
{
    QFont font(family);
    if (!QFontDatabase::hasFamily(family)) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setStyleHint(hint);
        font.setFamily(hint == QFont::Serif ? QStringLiteral("serif")
                                            : QStringLiteral("sans-serif"));
    }
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace Twips
