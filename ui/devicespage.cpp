#include "devicespage.h"

#include "cxsettings.h"
#include "runnerhost.h"

DevicesPage::DevicesPage(QWidget *parent) : QWidget(parent) {}

void DevicesPage::attach(QGroupBox *group, QObject *wheelFilter, RunnerHost *host, CXSettings *store)
{
    m_settings = DeviceConfigPage(group, wheelFilter);
    m_host = host;
    m_store = store;
    QMetaObject::connectSlotsByName(this);
}

void DevicesPage::build(const QJsonObject &plugins)
{
    m_settings.build(*m_store, plugins);
}

void DevicesPage::on_deviceConfigsReadButton_clicked()
{
    m_settings.reload(*m_store);
}

void DevicesPage::on_deviceConfigsWriteButton_clicked()
{
    m_settings.store(*m_store);
    m_host->call(&CxgatewRunner::applyDeviceSettings);
}
