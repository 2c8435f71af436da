#include "settingspage.h"

#include "cxsettings.h"
#include "qautostarter.h"
#include "runnerhost.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <iterator>

namespace {

constexpr int IntervalCount = int(std::size(SettingsChoices::CloudIntervals));

// The language part of a locale name: "ru" of "ru_RU".
QString languagePart(const QString &language)
{
    return language.split(QLatin1Char('_')).value(0);
}

} // namespace

int SettingsPage::intervalIndex(int seconds)
{
    for (int i = 0; i < IntervalCount; ++i) {
        if (SettingsChoices::CloudIntervals[i] >= seconds)
            return i;
    }
    return IntervalCount - 1;
}

int SettingsPage::intervalSeconds(int index)
{
    if (index < 0 || index >= IntervalCount)
        return Key::CloudInterval.defaultValue().toInt();
    return SettingsChoices::CloudIntervals[index];
}

bool SettingsPage::isRussian(const QString &language)
{
    return languagePart(language) == QLatin1String("ru");
}

QString SettingsPage::backupFileName(const QString &chosen)
{
    if (chosen.endsWith(QLatin1String(".bak"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QLatin1String(".bak");
}

SettingsPage::SettingsPage(QWidget *parent) : QWidget(parent) {}

void SettingsPage::attach(Ui::MainWindow *form, RunnerHost *host, CXSettings *store,
                          QAutoStarter *autostarter)
{
    ui = form;
    m_host = host;
    m_store = store;
    m_autostarter = autostarter;
    QMetaObject::connectSlotsByName(this);
}

void SettingsPage::load()
{
    const CXSettings &store = *m_store;
    QAutoStarter *autostarter = m_autostarter;
    ui->settingsCloudIntervalCombo->setCurrentIndex(intervalIndex(store.value(Key::CloudInterval).toInt()));
    ui->settingsCloudHostEdit->setText(store.value(Key::CloudHost).toString());
    ui->settingsCloudPortSpin->setValue(store.value(Key::CloudPort).toInt());
    ui->settingsCloudKeepAliveSpin->setValue(store.value(Key::CloudKeepAlive).toInt());
    ui->settingsCloudOutboxMessagesSpin->setValue(store.value(Key::CloudOutboxMessages).toInt());
    ui->settingsCloudOutboxMBSpin->setValue(store.value(Key::CloudOutboxMB).toInt());
    ui->settingsCloudInFlightSpin->setValue(store.value(Key::CloudInFlight).toInt());
    ui->settingsHistoryDaysSpin->setValue(store.value(Key::HistoryDays).toInt());
    ui->settingsHistoryMBSpin->setValue(store.value(Key::HistoryMB).toInt());

    const QString language =
        store.value(Key::UiLanguage, QLatin1String(SettingsChoices::LanguageWhenAbsent)).toString();
    ui->settingsLangCombo->setCurrentIndex(isRussian(language) ? 1 : 0);

    ui->settingsSysAutostartCheck->setChecked(autostarter && autostarter->autostartSet());
    ui->settingsSysCloseTrayCheck->setChecked(store.value(Key::SystemCloseToTray).toBool());
    ui->settingsSysHiddenCheck->setChecked(store.value(Key::SystemStartHidden).toBool());
    ui->settingsSysAutoscanCheck->setChecked(store.value(Key::SystemAutoScan).toBool());
    ui->settingsSysScanIntervalSpin->setValue(store.value(Key::SystemScanInterval).toInt());
    ui->settingsDarkCheck->setChecked(store.value(Key::UiDark).toBool());
}

void SettingsPage::save()
{
    CXSettings &store = *m_store;
    QAutoStarter *autostarter = m_autostarter;
    QWidget *parent = window();
    store.setValue(Key::CloudInterval, intervalSeconds(ui->settingsCloudIntervalCombo->currentIndex()));
    store.setValue(Key::CloudHost, ui->settingsCloudHostEdit->text());
    store.setValue(Key::CloudPort, ui->settingsCloudPortSpin->value());
    store.setValue(Key::CloudKeepAlive, ui->settingsCloudKeepAliveSpin->value());
    store.setValue(Key::CloudOutboxMessages, ui->settingsCloudOutboxMessagesSpin->value());
    store.setValue(Key::CloudOutboxMB, ui->settingsCloudOutboxMBSpin->value());
    store.setValue(Key::CloudInFlight, ui->settingsCloudInFlightSpin->value());
    store.setValue(Key::HistoryDays, ui->settingsHistoryDaysSpin->value());
    store.setValue(Key::HistoryMB, ui->settingsHistoryMBSpin->value());

    // The program runs in Russian for any stored locale name of Russian ("ru_RU") and in English for
    // every other one ("C", "de_DE"): only a choice that differs from that changes the next start.
    const QString language =
        ui->settingsLangCombo->currentIndex() == 1 ? QStringLiteral("ru") : QStringLiteral("en");
    const QString stored =
        store.value(Key::UiLanguage, QLatin1String(SettingsChoices::LanguageWhenAbsent)).toString();
    if ((isRussian(stored) ? QLatin1String("ru") : QLatin1String("en")) != language)
        QMessageBox::warning(parent, tr("Language"),
                             tr("Language will be changed when the application is relaunched"));
    store.setValue(Key::UiLanguage, language);

    const bool autostart = ui->settingsSysAutostartCheck->isChecked();
    store.setValue(Key::SystemAutostart, autostart);
    if (autostarter)
        autostarter->setAutostart(autostart);

    store.setValue(Key::SystemCloseToTray, ui->settingsSysCloseTrayCheck->isChecked());
    store.setValue(Key::SystemStartHidden, ui->settingsSysHiddenCheck->isChecked());
    store.setValue(Key::SystemAutoScan, ui->settingsSysAutoscanCheck->isChecked());
    store.setValue(Key::SystemScanInterval, ui->settingsSysScanIntervalSpin->value());

    const bool dark = ui->settingsDarkCheck->isChecked();
    if (dark != store.value(Key::UiDark).toBool())
        QMessageBox::warning(parent, tr("Theme"),
                             tr("Application theme will be changed when the application is relaunched"));
    store.setValue(Key::UiDark, dark);
}

void SettingsPage::on_settingsApplyButton_clicked()
{
    save();
    emit applied();
}

void SettingsPage::on_settingsRevertButton_clicked()
{
    load();
}

void SettingsPage::on_settingsRestoreButton_clicked()
{
    const QString dir = m_store->value(Key::SystemExportDirectory, QDir::homePath()).toString();
    const QString file =
        QFileDialog::getOpenFileName(window(), tr("Load Backup"), dir, tr("Backup files (*.bak)"));
    if (file.isEmpty())
        return;
    m_host->call(&CxgatewRunner::importSettings, file).then(this, [this](bool ok) {
        if (ok)
            QMessageBox::information(window(), tr("Import"),
                                     tr("Configuration has been restored from a backup. Restart the "
                                        "application as soon as possible."));
        else
            emit statusMessage(tr("Configuration could not be restored."), 5000);
    });
}

void SettingsPage::on_settingsBackupButton_clicked()
{
    const QString dir = m_store->value(Key::SystemExportDirectory, QDir::homePath()).toString();
    const QString chosen =
        QFileDialog::getSaveFileName(window(), tr("Save As"), dir, tr("Backup files (*.bak)"));
    if (chosen.isEmpty())
        return;
    const QString file = backupFileName(chosen);
    m_store->setValue(Key::SystemExportDirectory, QFileInfo(file).absolutePath());
    m_host->call(&CxgatewRunner::exportSettings, file).then(this, [this](bool ok) {
        if (ok) {
            emit statusMessage(tr("Configuration saved"), 2000);
            QMessageBox::information(window(), tr("Backup"),
                                     tr("The configuration backup file has been generated. It contains "
                                        "sensitive information, so keep it safe!"));
        } else {
            emit statusMessage(tr("Backup could not be saved"), 5000);
        }
    });
}
