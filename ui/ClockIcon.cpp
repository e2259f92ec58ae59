#include "ui/ClockIcon.h"

#include <QPainter>
#include <QtMath>

QPixmap clockPixmap(int size, bool warning)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(size / 2.0, size / 2.0);
    p.scale(size / 32.0, size / 32.0); // drawn on a 32 x 32 grid

    p.setPen(QPen(Qt::white, 2.0));
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(0, 0), 15.0, 15.0);

    p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::FlatCap));
    for (int hour = 0; hour < 12; ++hour) {
        const double angle = hour * M_PI / 6.0;
        const double inner = hour % 3 == 0 ? 9.5 : 11.0;
        p.drawLine(QPointF(inner * std::sin(angle), -inner * std::cos(angle)),
                   QPointF(13.0 * std::sin(angle), -13.0 * std::cos(angle)));
    }

    p.setPen(QPen(QColor(255, 255, 0), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 0), QPointF(6.5, -6.5)); // the hand points to half past one

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(128, 128, 128));
    p.drawEllipse(QPointF(0, 0), 2.2, 2.2);

    if (warning) {
        const QPointF triangle[] = {{8.5, -1.0}, {16.0, 15.0}, {1.0, 15.0}};
        p.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(255, 170, 0));
        p.drawPolygon(triangle, 3);
        p.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8.5, 4.5), QPointF(8.5, 9.5));
        p.drawPoint(QPointF(8.5, 12.6));
    }
    return pixmap;
}

QIcon clockIcon(bool warning)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(clockPixmap(size, warning));
    return icon;
}
