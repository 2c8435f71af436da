#pragma once

#include <QColor>
#include <QLabel>

// An indicator that shows one material glyph in a colour, sized to its parent's height.
class QLedLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName)

public:
    explicit QLedLabel(QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    QString name() const { return m_name; }
    void setName(const QString &name);

    // The glyph's side length: the parent's height minus 6, within 16..24; 16 without a parent.
    int glyphSide() const;

public slots:
    // Redraws the glyph; does nothing while the colour is invalid.
    void update();

private:
    QColor m_color;
    QString m_name;
};
