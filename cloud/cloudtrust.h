#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

// What the MQTT connection trusts and shows: the platform's certification authorities (compiled
// in, or the PEM file named by TSL_GATE_CA_BUNDLE) and the gateway's stored key and certificate.
class CloudTrust
{
public:
    // The certification authorities the broker's certificate must chain to.
    static QList<QSslCertificate> anchors();
    // A configuration that verifies the broker against anchors() and presents the stored client
    // credentials. When one is missing, *missing says which and the configuration is of no use.
    static QSslConfiguration clientConfiguration(QString *missing);
};
