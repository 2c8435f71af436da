#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

class QSSEManager;
class QTimer;

// One registration exchange with the registrar at a time: the registration document goes out as
// the query of an event stream, the registrar answers with a "code" event, then a "result" or an
// "error". A registrar that stays silent (or keeps talking) past its time ends the exchange, and so
// does a stream that closes early: every exchange that opened ends with exactly one of
// resultReceived or failed.
class RegistrarExchange : public QObject
{
    Q_OBJECT

public:
    explicit RegistrarExchange(QObject *parent = nullptr);

    // How long to wait: firstMs for the code, then the code's own validity plus graceMs for the
    // result. Defaults: one minute, and thirty seconds.
    void setPatience(int firstMs, int graceMs);
    bool isBusy() const { return m_busy; }
    // Sends the registration document to the registrar of the settings (Web/RegEndpoint). Returns
    // an empty object once the exchange is open, or the error result when it cannot start (another
    // exchange runs, nothing to register, no connection); no signal follows then.
    QJsonObject start(const QString &doc);

    // An error result: {"code": code, "error": text}.
    static QJsonObject errorResult(int code, const QString &text);

signals:
    void codeReceived(const QJsonObject &code);
    // The registrar's result, a JSON object (it may still carry an "error" of its own).
    void resultReceived(const QJsonObject &result);
    // The exchange ended without a result: an error result to show.
    void failed(const QJsonObject &error);

private:
    void stream_dataRead(const QString &evt, const QString &msg);
    void stream_closed();
    void deadline_passed();
    // Ends the exchange; with closeLater the stream is closed once the current event has been handled.
    void finish(bool closeLater);

    QSSEManager *m_events;
    QTimer *m_deadline;
    bool m_busy = false;
    int m_firstMs = 60000;
    int m_graceMs = 30000;
};
