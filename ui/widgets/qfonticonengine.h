#pragma once

#include <QColor>
#include <QIconEngine>
#include <QString>

// Paints one font glyph per icon state, centred and scaled to the requested rectangle.
class QFontIconEngine : public QIconEngine
{
public:
    QFontIconEngine() = default;

    void setFamily(const QString &family) { m_family = family; }
    void setGlyph(QChar glyph, QIcon::State state);
    void setColor(const QColor &color) { m_color = color; }
    // Pen colour of the On state in the Normal and Active modes.
    void setOnColor(const QColor &color) { m_onColor = color; }

    QString family() const { return m_family; }
    QChar glyph(QIcon::State state) const { return state == QIcon::On ? m_glyphOn : m_glyphOff; }
    QColor color() const { return m_color; }
    QColor onColor() const { return m_onColor; }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine *clone() const override;

    // The glyph's pixel size for a rectangle of the given height: 0.8 × height, halves away from zero.
    static int glyphPixelSize(int height);

private:
    QString m_family;
    QChar m_glyphOn;
    QChar m_glyphOff;
    QColor m_color;
    QColor m_onColor;
};
