#pragma once

#include <QtPlugin>

// What the main window knows of its updater: start a check now. The outcome arrives through the
// concrete updater's signal.
class PMUpdater
{
public:
    virtual ~PMUpdater();
    virtual void checkUpdates() = 0;
};

Q_DECLARE_INTERFACE(PMUpdater, "pro.tessel.tsl_gate.PMUpdater/1.0")
