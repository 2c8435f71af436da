#pragma once

#include <QString>

// Where tsl-gated keeps its files when the service manager hands it directories. With
// $STATE_DIRECTORY (StateDirectory=) the settings store, the credentials, the device pool, the
// outbox and every other data file go there instead of the home directory:
//   <state>/tessel.pro/TSL-Gate.conf     the settings, written by the program
//   <state>/tessel.pro/TSL-Gate/         credentials, outbox and the other data files
// With $CONFIGURATION_DIRECTORY (ConfigurationDirectory=) the administrator's settings are read from
//   <configuration>/tessel.pro/TSL-Gate.conf
// as defaults below the ones the program stores. Without either, the XDG locations stay in force.
class ServiceDirectories
{
public:
    // Reads the environment. Must run before the first settings object or data path is made.
    // False, with errorString() set, when the state directory is given but cannot be written.
    bool apply();

    QString stateDirectory() const { return m_state; }
    QString configurationDirectory() const { return m_configuration; }
    QString errorString() const { return m_error; }

private:
    QString m_state;
    QString m_configuration;
    QString m_error;
};
