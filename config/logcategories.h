#pragma once

#include <QLoggingCategory>

// The logging categories of the gateway, one per part of it. Warnings and errors are always on;
// debug messages are off until a rule turns them on, e.g. QT_LOGGING_RULES="tsl.mqtt.debug=true"
// or "tsl.*.debug=true" for everything.
Q_DECLARE_LOGGING_CATEGORY(lcCloud) // tsl.cloud: the cloud client and the gateway thing
// tsl.mqtt, the broker connection, is declared by cloud/mqtt/mqttsession.h (lcMqtt).
Q_DECLARE_LOGGING_CATEGORY(lcOutbox)       // tsl.outbox: reports waiting for the broker
Q_DECLARE_LOGGING_CATEGORY(lcRunner)       // tsl.runner: the worker and its operations
Q_DECLARE_LOGGING_CATEGORY(lcPlugins)      // tsl.plugins: loading the thing plug-ins
Q_DECLARE_LOGGING_CATEGORY(lcHid)          // tsl.hid: USB HID devices
Q_DECLARE_LOGGING_CATEGORY(lcRegistration) // tsl.registration: the registrar and its codes
Q_DECLARE_LOGGING_CATEGORY(lcService)      // tsl.service: tsl-gated as a system service
Q_DECLARE_LOGGING_CATEGORY(lcDevCloud)     // tsl.devcloud: the local registrar and broker (tool)
Q_DECLARE_LOGGING_CATEGORY(lcDevSim)       // tsl.devsim: the simulated HID devices (tool)
