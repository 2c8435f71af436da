#include "qfonticonengine.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <cmath>

void QFontIconEngine::setGlyph(QChar glyph, QIcon::State state)
{
    if (state == QIcon::On)
        m_glyphOn = glyph;
    else
        m_glyphOff = glyph;
}

int QFontIconEngine::glyphPixelSize(int height)
{
    return int(std::lround(height * 4 / 5.0));
}

void QFontIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state)
{
    const int pixelSize = glyphPixelSize(rect.height());
    if (pixelSize <= 0)
        return;
    QFont font(m_family);
    font.setPixelSize(pixelSize);

    const QPalette palette = QApplication::palette("QWidget");
    QColor pen = m_color.isValid() ? m_color : palette.color(QPalette::Active, QPalette::ButtonText);
    switch (mode) {
    case QIcon::Disabled:
        pen = palette.color(QPalette::Disabled, QPalette::ButtonText);
        break;
    case QIcon::Selected:
        pen = palette.color(QPalette::Active, QPalette::ButtonText);
        break;
    case QIcon::Normal:
    case QIcon::Active:
        if (state == QIcon::On && m_onColor.isValid())
            pen = m_onColor;
        break;
    }

    painter->save();
    painter->setPen(pen);
    painter->setFont(font);
    painter->drawText(rect, Qt::AlignCenter, QString(glyph(state)));
    painter->restore();
}

QPixmap QFontIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return pixmap;
}

QIconEngine *QFontIconEngine::clone() const
{
    return new QFontIconEngine(*this);
}
