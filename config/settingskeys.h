#pragma once

#include "deployment.h"
#include "settingkey.h"

// The table of the settings store: every key with the type of its value and its default. Readers
// take the default from here at the point of use, e.g. Key::CloudInterval.read(QSettings()).toInt().

namespace Key {
inline constexpr SettingKey CloudHost = SettingKey::text("Cloud/Host", Deployment::ApiHost);
inline constexpr SettingKey CloudPort = SettingKey::number("Cloud/Port", Deployment::MqttPort, 1, 65535);
// Seconds between two state reports; the gateway never reports more often than once a minute.
inline constexpr SettingKey CloudInterval = SettingKey::number("Cloud/Interval", 300, 60);
inline constexpr SettingKey CloudKeepAlive = SettingKey::number("Cloud/KeepAlive", 300, 30, 86400);
inline constexpr SettingKey CloudSerial = SettingKey::text("Cloud/Serial", "");
// Bounds of the outbox, the reports waiting for the broker: when full, the oldest report goes.
inline constexpr SettingKey CloudOutboxMessages =
    SettingKey::number("Cloud/OutboxMessages", 100000, 100, 10000000);
inline constexpr SettingKey CloudOutboxMB = SettingKey::number("Cloud/OutboxMB", 64, 1, 4096);
// State reports sent ahead of their acknowledgements: how many may wait for the broker at once.
inline constexpr SettingKey CloudInFlight = SettingKey::number("Cloud/InFlight", 20, 1, 100);

// Bounds of the local history of every thing's states: when either is exceeded, the oldest go.
inline constexpr SettingKey HistoryDays = SettingKey::number("History/Days", 30, 1, 3650);
inline constexpr SettingKey HistoryMB = SettingKey::number("History/MB", 256, 1, 65536);

// Start-up stores the language and the theme it chose; absent, the system's locale decides.
inline constexpr SettingKey UiLanguage = SettingKey::text("UI/Language", SettingKey::SystemLocale);
inline constexpr SettingKey UiDark = SettingKey::flag("UI/Dark", false);
inline constexpr SettingKey UiState = SettingKey::bytes("UI/State");
inline constexpr SettingKey UiGeom = SettingKey::bytes("UI/Geom");

inline constexpr SettingKey SystemWindow = SettingKey::bytes("System/Window");
inline constexpr SettingKey SystemState = SettingKey::bytes("System/State");
inline constexpr SettingKey SystemAutoScan = SettingKey::flag("System/AutoScan", true);
// Minutes between two automatic rescans.
inline constexpr SettingKey SystemScanInterval = SettingKey::number("System/ScanInterval", 1);
inline constexpr SettingKey SystemCloseToTray = SettingKey::flag("System/CloseToTray", true);
inline constexpr SettingKey SystemStartHidden = SettingKey::flag("System/StartHidden", false);
inline constexpr SettingKey SystemAutostart = SettingKey::flag("System/Autostart", false);
inline constexpr SettingKey SystemExportDirectory =
    SettingKey::text("System/ExportDirectory", SettingKey::HomeDirectory);
// The version that last opened the settings, written at every start.
inline constexpr SettingKey SystemVersion = SettingKey::text("System/Version", Deployment::Version);

// The device pool document (JSON text, see DevicePool).
inline constexpr SettingKey DevicesPool = SettingKey::text("Devices/Pool", "{}");

inline constexpr SettingKey WebCloud = SettingKey::text("Web/Cloud", Deployment::PortalUrl);
inline constexpr SettingKey WebRegPage = SettingKey::text("Web/RegPage", "/things");
inline constexpr SettingKey WebRegEndpoint = SettingKey::text("Web/RegEndpoint", Deployment::RegistrarUrl);
inline constexpr SettingKey WebUpdateUrl = SettingKey::text("Web/UpdateURL", Deployment::UpdateFeedUrl);

// Days between two automatic update checks.
inline constexpr SettingKey UpdatesInterval = SettingKey::number("Updates/Interval", 7);
// Time of the last update check, formatted as TimestampFormat.
inline constexpr SettingKey UpdatesLastCheck = SettingKey::text("Updates/LastCheck", SettingKey::None);
inline constexpr SettingKey UpdatesAuto = SettingKey::flag("Updates/Auto", true);

inline constexpr const SettingKey *All[] = {
    &CloudHost,         &CloudPort,
    &CloudInterval,     &CloudKeepAlive,
    &CloudSerial,       &CloudOutboxMessages,
    &CloudOutboxMB,     &CloudInFlight,
    &HistoryDays,       &HistoryMB,
    &UiLanguage,        &UiDark,
    &UiState,           &UiGeom,
    &SystemWindow,      &SystemState,
    &SystemAutoScan,    &SystemScanInterval,
    &SystemCloseToTray, &SystemStartHidden,
    &SystemAutostart,   &SystemExportDirectory,
    &SystemVersion,     &DevicesPool,
    &WebCloud,          &WebRegPage,
    &WebRegEndpoint,    &WebUpdateUrl,
    &UpdatesInterval,   &UpdatesLastCheck,
    &UpdatesAuto,
};

// Keys of a plug-in's settings: "Plugins/<type>/<setting>", one per setting of its schema.
inline constexpr char PluginsGroup[] = "Plugins";
QString plugin(const QString &type, const QString &setting);
// "Plugins/<type>/": the prefix of every key of one plug-in type.
QString pluginPrefix(const QString &type);
// The setting "enabled" of a plug-in is its on/off switch; absent means on.
inline constexpr char PluginEnabled[] = "enabled";
inline constexpr bool PluginEnabledByDefault = true;

// Format of the time stamps kept in the settings (Updates/LastCheck, the pool's "updated").
inline constexpr char TimestampFormat[] = "yyyy.MM.dd hh:mm:ss";
} // namespace Key

// What the settings page offers, and what it shows for keys that start-up normally fills in.
namespace SettingsChoices {
inline constexpr int CloudIntervals[] = {180,  300,  600,   900,   1200,  1800,
                                         3600, 7200, 10800, 18000, 43200, 86400};
inline constexpr char LanguageWhenAbsent[] = "en";
} // namespace SettingsChoices
