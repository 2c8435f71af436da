#pragma once

#include "qmqttconnection.h"

struct TlsObservations;

// Error code for a CONNACK refusal (return codes 1..5 of MQTT 3.1.1).
QMqttConnection::ClientError connackError(int returnCode);

// Error code for a failed attempt or a lost connection, from what libmosquitto reported (its
// MOSQ_ERR_* code and the errno captured with it), what the TLS layer saw, and whether the broker had
// accepted the connection. Anything that went wrong at the TLS level before the broker accepted us
// counts as a handshake failure.
QMqttConnection::ClientError connectionError(int mosqRc, int savedErrno, const TlsObservations &tls,
                                             bool accepted);

// Human-readable libmosquitto result for diagnostics.
QString describeMosquittoResult(int mosqRc, int savedErrno);

// What a user is told of a ClientError (CONNACK refusals included), translated in the client's
// context.
QString clientErrorText(int code);
