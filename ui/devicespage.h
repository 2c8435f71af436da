#pragma once

#include "deviceconfigpage.h"

#include <QJsonObject>
#include <QWidget>

class CXSettings;
class QGroupBox;
class RunnerHost;

// The device types page of the main window (its form's page "devcfgPage"): the settings of every
// plug-in, generated from their schemas, with "Read" to show what is stored and "Write" to store and
// apply them to the live devices.
class DevicesPage : public QWidget
{
    Q_OBJECT

public:
    explicit DevicesPage(QWidget *parent = nullptr);

    // group: the form's box the settings are generated into; wheelFilter keeps the mouse wheel from
    // changing values while the page scrolls.
    void attach(QGroupBox *group, QObject *wheelFilter, RunnerHost *host, CXSettings *store);

public slots:
    // Builds the page from the plug-in list (name -> metadata).
    void build(const QJsonObject &plugins);

private slots:
    void on_deviceConfigsReadButton_clicked();
    void on_deviceConfigsWriteButton_clicked();

private:
    DeviceConfigPage m_settings{nullptr, nullptr};
    RunnerHost *m_host = nullptr;
    CXSettings *m_store = nullptr;
};
