#pragma once

#include "outbox.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QLabel;
class QLedLabel;
class QStatusBar;
class QStatusLabel;

// The cloud connection as the window shows it: the LED in the status bar with its tool tip, and on
// the cloud page the connection state, the reason of the last failure and the reports waiting.
class CloudStatusIndicator : public QObject
{
    Q_OBJECT

public:
    struct Labels
    {
        QStatusLabel *connection;
        QLabel *error;
        QLabel *backlog;
    };

    CloudStatusIndicator(QStatusBar *bar, const Labels &labels, QObject *parent = nullptr);

    QLedLabel *led() const { return m_led; }

public slots:
    void setConnected(bool on);
    // Why the connection failed, once per change of reason; plain text.
    void setError(const QString &text);
    void setBacklog(const OutboxBacklog &backlog);

private:
    void refresh();
    // The waiting reports in words; empty when none wait.
    QString backlogText() const;

    QLedLabel *m_led;
    Labels m_labels;
    QString m_tip;
    QString m_error;
    OutboxBacklog m_backlog;
    QTimer m_ageRefresh; // the age of the oldest report moves on while reports wait
};
