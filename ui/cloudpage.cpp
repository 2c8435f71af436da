#include "cloudpage.h"

#include "qmaterialicon.h"
#include "registrationwizard.h"
#include "runnerhost.h"
#include "settingskeys.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QSettings>

namespace {

QColor roleColor(QMaterialIcon::Color role)
{
    return QMaterialIcon::instance()->color(role);
}

} // namespace

CloudPage::CloudPage(QWidget *parent) : QWidget(parent) {}

void CloudPage::attach(Ui::MainWindow *form, RunnerHost *host)
{
    ui = form;
    m_host = host;
    m_wizard =
        new RegistrationWizard({ui->regWizardHeader, ui->regWizard, ui->cloudGetCodeButton,
                                ui->cloudCodeDisplay, ui->cloudCountdownDisplay, ui->cloudRegResultList},
                               window());
    m_wizard->setParent(this);
    // The wizard's requests reach the runner in the order they are made: renames before generateDoc.
    connect(m_wizard, &RegistrationWizard::generateDocRequested, this,
            [this] { m_host->call(&CxgatewRunner::generateDoc); });
    connect(m_wizard, &RegistrationWizard::registrationStateRequested, this, [this] {
        m_host->call(&CxgatewRunner::registrationState).then(this, [this](CxgatewRunner::RegState state) {
            m_wizard->showRegistrationState(int(state));
        });
    });
    connect(m_wizard, &RegistrationWizard::renameRequested, this,
            [this](const QString &sid, const QString &alias) {
                m_host->call(&CxgatewRunner::renameThing, sid, alias);
            });
    connect(m_wizard, &RegistrationWizard::statusMessage, this, &CloudPage::statusMessage);
    connect(m_wizard, &RegistrationWizard::registered, this, &CloudPage::registered);
    connect(m_host, &RunnerHost::namesNeeded, m_wizard, &RegistrationWizard::askNames);
    connect(m_host, &RunnerHost::registrationCode, m_wizard, &RegistrationWizard::showCode);
    connect(m_host, &RunnerHost::registrationEnded, m_wizard, &RegistrationWizard::showResult);
    QMetaObject::connectSlotsByName(this);
    m_wizard->setStep(RegistrationWizard::Serial);
}

void CloudPage::opened()
{
    showSerial();
    askRegistrationState();
}

void CloudPage::askRegistrationState()
{
    if (m_wizard->step() != RegistrationWizard::Serial)
        return;
    m_host->call(&CxgatewRunner::registrationState).then(this, [this](CxgatewRunner::RegState state) {
        if (m_wizard->step() == RegistrationWizard::Serial)
            m_wizard->showRegistrationState(int(state));
    });
}

void CloudPage::refreshStatus()
{
    m_host->call(&CxgatewRunner::cloudStatus).then(this, [this](const CxgatewRunner::CloudStatus &status) {
        showStatus(status);
    });
}

void CloudPage::showStatus(const CxgatewRunner::CloudStatus &status)
{
    if (status.registered)
        ui->cloudGatewayStatus->setText(tr("Ready"), roleColor(QMaterialIcon::Success));
    else
        ui->cloudGatewayStatus->setText(tr("Not registered"), roleColor(QMaterialIcon::Warning));

    const auto showCredential = [](QStatusLabel *label, int state) {
        switch (state) {
        case 0:
            label->setText(tr("Ok"), roleColor(QMaterialIcon::Success));
            break;
        case 2:
            label->setText(tr("Corrupt"), roleColor(QMaterialIcon::Warning));
            break;
        case 3:
            label->setText(tr("Cryptographic error"), QColor(QStringLiteral("#DA30AD")));
            break;
        default:
            label->setText(tr("Missing"), roleColor(QMaterialIcon::Error));
            break;
        }
    };
    showCredential(ui->cloudKeyStatus, status.key);
    showCredential(ui->cloudCertificateStatus, status.cert);
}

void CloudPage::refreshRegistrationState()
{
    if (m_wizard->step() == RegistrationWizard::Serial)
        m_wizard->setStep(RegistrationWizard::Serial);
}

void CloudPage::on_settingsResetGWButton_clicked()
{
    const auto answer = QMessageBox::question(window(), tr("Gateway Registration"),
                                              tr("The gateway registration will be voided. All the devices, "
                                                 "gateway included, will need to be reregistered. Proceed?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    ui->cloudRegResultList->clear();
    m_host->call(&CxgatewRunner::resetGateway).then(this, [this](bool) {
        emit thingsReset();
        refreshStatus();
    });
    refreshRegistrationState();
    ui->clousSerialNumberStatus->setText(tr("Not registered"), roleColor(QMaterialIcon::Warning));
}

void CloudPage::showSerial()
{
    const QString serial = Key::CloudSerial.read(QSettings()).toString();
    if (serial.isEmpty())
        ui->clousSerialNumberStatus->setText(tr("Not registered"), roleColor(QMaterialIcon::Warning));
    else
        ui->clousSerialNumberStatus->setText(serial, roleColor(QMaterialIcon::Success));
}

void CloudPage::on_cloudGetCodeButton_clicked()
{
    m_wizard->start();
}

void CloudPage::on_cloudCodeCopyButton_clicked()
{
    m_wizard->copyCode();
}

void CloudPage::on_cloudOpenTSLButton_clicked()
{
    m_wizard->openPortal();
}

void CloudPage::on_cloudRestartRegButton_clicked()
{
    m_wizard->setStep(RegistrationWizard::Serial);
}
