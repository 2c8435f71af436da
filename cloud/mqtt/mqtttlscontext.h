#pragma once

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>

typedef struct ssl_ctx_st SSL_CTX;

// What the TLS layer saw during one connection attempt. Filled in by OpenSSL callbacks, which run
// inside libmosquitto calls on the connection's own thread.
struct TlsObservations
{
    int verifyError = 0;          // first X509_V_ERR_* reported by certificate verification
    int alertSent = -1;           // last fatal alert we sent (e.g. unknown_ca)
    int alertReceived = -1;       // last fatal alert the peer sent (e.g. certificate_required)
    unsigned long alertCause = 0; // the OpenSSL error behind the first fatal alert we sent
    bool handshakeDone = false;
    QByteArray serverName; // SNI to send; empty for an IP literal

    // True when the peer was refused or refused us at the TLS level.
    bool rejected() const { return verifyError != 0 || alertSent >= 0 || alertReceived >= 0; }
    // OpenSSL's words for why: the verification result ("certificate has expired"), else the
    // error that made us abort ("unsupported protocol"), else the alert the broker sent. Empty
    // when nothing went wrong at the TLS level.
    QString reason() const;
};

// Builds the client SSL_CTX for one connection attempt:
//  - trust anchors are exactly tls.caCertificates(), never the system's default paths;
//  - the local certificate (and its chain) with the private key, checked against each other;
//  - TLS 1.2 as the minimum, peer verification with a host-name (or IP) check against peerName;
//  - the server name indication set to peerName when it is a host name.
// When ignoreSelfSigned is set, a self-signed peer certificate is accepted (the name is still checked).
// Returns a new context the caller owns, or nullptr with *why set. obs must outlive the context.
SSL_CTX *buildMqttSslContext(const QSslConfiguration &tls, const QString &peerName, bool ignoreSelfSigned,
                             TlsObservations *obs, QString *why);
