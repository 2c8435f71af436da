#include "qstatuslabel.h"

#include <QPalette>

QStatusLabel::QStatusLabel(QWidget *parent) : QLabel(parent) {}

void QStatusLabel::setText(const QString &text, const QColor &color)
{
    if (color.isValid()) {
        QPalette pal = palette();
        pal.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
        setPalette(pal);
    }
    QLabel::setText(text);
}

void QStatusLabel::setText(const QString &text)
{
    setText(text, QColor());
}
