#include "qautoclosemessagebox.h"

#include <QPushButton>

QAutoCloseMessageBox::QAutoCloseMessageBox(QWidget *parent) : QMessageBox(parent)
{
    init();
}

QAutoCloseMessageBox::QAutoCloseMessageBox(Icon icon, const QString &title, const QString &text,
                                           StandardButtons buttons, QWidget *parent, Qt::WindowFlags flags)
    : QMessageBox(icon, title, text, buttons, parent, flags)
{
    init();
}

void QAutoCloseMessageBox::init()
{
    m_tick.setInterval(1000);
    m_tick.setSingleShot(false);
    connect(&m_tick, &QTimer::timeout, this, &QAutoCloseMessageBox::d_timeout);
    connect(this, &QDialog::finished, this, &QAutoCloseMessageBox::d_finished);
}

void QAutoCloseMessageBox::setTimeout(int seconds)
{
    if (seconds == m_timeout)
        return;
    m_timeout = seconds;
    emit timeoutChanged(seconds);
}

namespace {

QString countedText(const QString &text, int remaining)
{
    return text + QStringLiteral(" (%1)").arg(remaining);
}

} // namespace

void QAutoCloseMessageBox::prepare()
{
    QPushButton *button = defaultButton();
    if (button)
        m_defaultText = button->text();
    if (m_timeout > 0) {
        m_remaining = m_timeout;
        if (button)
            button->setText(countedText(m_defaultText, m_remaining));
        m_tick.start();
    }
}

int QAutoCloseMessageBox::exec()
{
    prepare();
    return QMessageBox::exec();
}

void QAutoCloseMessageBox::show()
{
    prepare();
    QMessageBox::show();
}

void QAutoCloseMessageBox::d_timeout()
{
    if (m_timeout <= 0)
        return;
    --m_remaining;
    QPushButton *button = defaultButton();
    if (m_remaining > 0) {
        if (button)
            button->setText(countedText(m_defaultText, m_remaining));
    } else {
        m_tick.stop();
        if (button)
            button->animateClick(1);
    }
}

void QAutoCloseMessageBox::d_finished(int result)
{
    Q_UNUSED(result)
    m_tick.stop();
    // A box that is run again counts from its own text, not from the last count.
    if (m_timeout > 0 && defaultButton())
        defaultButton()->setText(m_defaultText);
}

QMessageBox::StandardButton QAutoCloseMessageBox::showBox(Icon icon, int timeout, QWidget *parent,
                                                          const QString &title, const QString &text,
                                                          StandardButtons buttons,
                                                          StandardButton defaultButton)
{
    QAutoCloseMessageBox box(icon, title.isEmpty() && parent ? parent->windowTitle() : title, text, NoButton,
                             parent);
    QPushButton *chosen = nullptr;
    for (uint flag = FirstButton; flag <= LastButton; flag <<= 1) {
        if (!(buttons & flag))
            continue;
        QPushButton *button = box.addButton(StandardButton(flag));
        if (!chosen && defaultButton == NoButton && box.buttonRole(button) == AcceptRole)
            chosen = button;
    }
    if (defaultButton != NoButton)
        chosen = qobject_cast<QPushButton *>(box.button(defaultButton));
    if (chosen)
        box.setDefaultButton(chosen);
    box.setTimeout(timeout);
    if (box.exec() == -1)
        return Cancel;
    return box.standardButton(box.clickedButton());
}

QMessageBox::StandardButton QAutoCloseMessageBox::critical(int timeout, QWidget *parent, const QString &title,
                                                           const QString &text, StandardButtons buttons,
                                                           StandardButton defaultButton)
{
    return showBox(Critical, timeout, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton QAutoCloseMessageBox::information(int timeout, QWidget *parent,
                                                              const QString &title, const QString &text,
                                                              StandardButtons buttons,
                                                              StandardButton defaultButton)
{
    return showBox(Information, timeout, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton QAutoCloseMessageBox::question(int timeout, QWidget *parent, const QString &title,
                                                           const QString &text, StandardButtons buttons,
                                                           StandardButton defaultButton)
{
    return showBox(Question, timeout, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton QAutoCloseMessageBox::warning(int timeout, QWidget *parent, const QString &title,
                                                          const QString &text, StandardButtons buttons,
                                                          StandardButton defaultButton)
{
    return showBox(Warning, timeout, parent, title, text, buttons, defaultButton);
}
