#include "logcategories.h"

Q_LOGGING_CATEGORY(lcCloud, "tsl.cloud", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOutbox, "tsl.outbox", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRunner, "tsl.runner", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlugins, "tsl.plugins", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHid, "tsl.hid", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRegistration, "tsl.registration", QtInfoMsg)
Q_LOGGING_CATEGORY(lcService, "tsl.service", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDevCloud, "tsl.devcloud", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDevSim, "tsl.devsim", QtInfoMsg)
