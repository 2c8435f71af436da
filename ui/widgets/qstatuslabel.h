#pragma once

#include <QColor>
#include <QLabel>

// A label whose text colour is set together with the text.
class QStatusLabel : public QLabel
{
    Q_OBJECT

public:
    explicit QStatusLabel(QWidget *parent = nullptr);

public slots:
    // An invalid colour keeps the current one.
    void setText(const QString &text, const QColor &color);
    void setText(const QString &text);
};
