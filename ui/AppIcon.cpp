#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2f, 0x6d, 0xb5));
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRoundedRect(QRectF(10, 12, 18, 40), 3, 3);
    painter.drawRoundedRect(QRectF(36, 12, 18, 40), 3, 3);
    QPainterPath right;
    right.moveTo(22, 24);
    right.lineTo(38, 24);
    right.lineTo(38, 18);
    right.lineTo(48, 28);
    right.lineTo(38, 38);
    right.lineTo(38, 32);
    right.lineTo(22, 32);
    right.closeSubpath();
    painter.setBrush(QColor(0xf2, 0xa3, 0x3a));
    painter.drawPath(right);
    QPainterPath left;
    left.moveTo(42, 40);
    left.lineTo(26, 40);
    left.lineTo(26, 34);
    left.lineTo(16, 44);
    left.lineTo(26, 54);
    left.lineTo(26, 48);
    left.lineTo(42, 48);
    left.closeSubpath();
    painter.setBrush(QColor(0x4c, 0xb0, 0x50));
    painter.drawPath(left);
    return pixmap;
}

} // namespace

QIcon ApplicationIcon()
{
    if (QIcon::hasThemeIcon(QStringLiteral("tollvane")))
        return QIcon::fromTheme(QStringLiteral("tollvane"));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(DrawIcon(size));
    return icon;
}
