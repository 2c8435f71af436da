#include "qledlabel.h"

#include "qmaterialicon.h"

#include <QIcon>
#include <QtGlobal>

QLedLabel::QLedLabel(QWidget *parent) : QLabel(parent), m_name(QStringLiteral("info")) {}

void QLedLabel::setColor(const QColor &color)
{
    m_color = color;
}

void QLedLabel::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

int QLedLabel::glyphSide() const
{
    const QWidget *parent = parentWidget();
    return parent ? qBound(16, parent->height() - 6, 24) : 16;
}

void QLedLabel::update()
{
    if (!m_color.isValid())
        return;
    const int side = glyphSide();
    setPixmap(QMaterialIcon::instance()
                  ->icon(m_name, m_color)
                  .pixmap(QSize(side, side), QIcon::Normal, QIcon::Off));
}
