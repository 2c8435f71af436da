#include "settingspage.h"

#include "cxsettings.h"
#include "qautostarter.h"
#include "ui_mainwindow.h"

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

void SettingsPage::load(const CXSettings &store, QAutoStarter *autostarter) const
{
    ui->settingsCloudIntervalCombo->setCurrentIndex(intervalIndex(store.value(Key::CloudInterval).toInt()));
    ui->settingsCloudHostEdit->setText(store.value(Key::CloudHost).toString());
    ui->settingsCloudPortSpin->setValue(store.value(Key::CloudPort).toInt());
    ui->settingsCloudKeepAliveSpin->setValue(store.value(Key::CloudKeepAlive).toInt());
    ui->settingsCloudOutboxMessagesSpin->setValue(store.value(Key::CloudOutboxMessages).toInt());
    ui->settingsCloudOutboxMBSpin->setValue(store.value(Key::CloudOutboxMB).toInt());

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

void SettingsPage::save(CXSettings &store, QAutoStarter *autostarter, QWidget *parent) const
{
    store.setValue(Key::CloudInterval, intervalSeconds(ui->settingsCloudIntervalCombo->currentIndex()));
    store.setValue(Key::CloudHost, ui->settingsCloudHostEdit->text());
    store.setValue(Key::CloudPort, ui->settingsCloudPortSpin->value());
    store.setValue(Key::CloudKeepAlive, ui->settingsCloudKeepAliveSpin->value());
    store.setValue(Key::CloudOutboxMessages, ui->settingsCloudOutboxMessagesSpin->value());
    store.setValue(Key::CloudOutboxMB, ui->settingsCloudOutboxMBSpin->value());

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
