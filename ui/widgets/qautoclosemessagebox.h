#pragma once

#include <QMessageBox>
#include <QTimer>

// A message box that presses its default button by itself after a number of seconds, showing
// the seconds left on that button.
class QAutoCloseMessageBox : public QMessageBox
{
    Q_OBJECT
    Q_PROPERTY(int timeout READ timeout WRITE setTimeout NOTIFY timeoutChanged)

public:
    explicit QAutoCloseMessageBox(QWidget *parent = nullptr);
    QAutoCloseMessageBox(Icon icon, const QString &title, const QString &text,
                         StandardButtons buttons = NoButton, QWidget *parent = nullptr,
                         Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    // Seconds until the default button is pressed; 0 never closes by itself.
    int timeout() const { return m_timeout; }
    void setTimeout(int seconds);
    int remaining() const { return m_remaining; }

    static StandardButton critical(int timeout, QWidget *parent, const QString &title, const QString &text,
                                   StandardButtons buttons = Ok, StandardButton defaultButton = NoButton);
    static StandardButton information(int timeout, QWidget *parent, const QString &title, const QString &text,
                                      StandardButtons buttons = Ok, StandardButton defaultButton = NoButton);
    static StandardButton question(int timeout, QWidget *parent, const QString &title, const QString &text,
                                   StandardButtons buttons = StandardButtons(Yes | No),
                                   StandardButton defaultButton = NoButton);
    static StandardButton warning(int timeout, QWidget *parent, const QString &title, const QString &text,
                                  StandardButtons buttons = Ok, StandardButton defaultButton = NoButton);

signals:
    void timeoutChanged(int value);

public slots:
    int exec() override;
    void show();

protected slots:
    void d_timeout();
    void d_finished(int result);

private:
    void init();
    void prepare();
    static StandardButton showBox(Icon icon, int timeout, QWidget *parent, const QString &title,
                                  const QString &text, StandardButtons buttons, StandardButton defaultButton);

    QTimer m_tick;
    int m_timeout = 0;
    int m_remaining = 0;
    QString m_defaultText;
};
