#pragma once

#include "deployment.h"

// Every key of the settings store with its default. Readers pass the default at the point of use,
// e.g. settings.value(Key::CloudInterval, Default::CloudInterval). Defaults that depend on the
// running system (locale, home directory, theme) are computed by CXSettings::defaultValue().

namespace Key {
inline constexpr char CloudHost[] = "Cloud/Host";
inline constexpr char CloudPort[] = "Cloud/Port";
inline constexpr char CloudInterval[] = "Cloud/Interval";
inline constexpr char CloudKeepAlive[] = "Cloud/KeepAlive";
inline constexpr char CloudSerial[] = "Cloud/Serial";

inline constexpr char UiLanguage[] = "UI/Language";
inline constexpr char UiDark[] = "UI/Dark";
inline constexpr char UiState[] = "UI/State";
inline constexpr char UiGeom[] = "UI/Geom";

inline constexpr char SystemWindow[] = "System/Window";
inline constexpr char SystemState[] = "System/State";
inline constexpr char SystemAutoScan[] = "System/AutoScan";
inline constexpr char SystemScanInterval[] = "System/ScanInterval";
inline constexpr char SystemCloseToTray[] = "System/CloseToTray";
inline constexpr char SystemStartHidden[] = "System/StartHidden";
inline constexpr char SystemAutostart[] = "System/Autostart";
inline constexpr char SystemExportDirectory[] = "System/ExportDirectory";
inline constexpr char SystemVersion[] = "System/Version";

inline constexpr char DevicesPool[] = "Devices/Pool";

inline constexpr char WebCloud[] = "Web/Cloud";
inline constexpr char WebRegPage[] = "Web/RegPage";
inline constexpr char WebRegEndpoint[] = "Web/RegEndpoint";
inline constexpr char WebUpdateUrl[] = "Web/UpdateURL";

inline constexpr char UpdatesInterval[] = "Updates/Interval";
inline constexpr char UpdatesLastCheck[] = "Updates/LastCheck";
inline constexpr char UpdatesAuto[] = "Updates/Auto";

// Plug-in keys are "Plugins/<type>/<setting>"; "enabled" is the plug-in's on/off switch.
inline constexpr char PluginsGroup[] = "Plugins";
inline constexpr char PluginEnabled[] = "enabled";
} // namespace Key

namespace Default {
inline constexpr const char *CloudHost = Deployment::ApiHost;
inline constexpr int CloudPort = Deployment::MqttPort;
inline constexpr int CloudInterval = 300;
inline constexpr int CloudIntervalMinimum = 60;
inline constexpr int CloudIntervalChoices[] = {180,  300,  600,   900,   1200,  1800,
                                               3600, 7200, 10800, 18000, 43200, 86400};
inline constexpr int CloudKeepAlive = 300;
inline constexpr int CloudKeepAliveMinimum = 30;
inline constexpr int CloudKeepAliveMaximum = 86400;
inline constexpr char CloudSerial[] = "";

// What the settings page shows when the key is absent (start-up stores the real values).
inline constexpr char UiLanguagePage[] = "en";
inline constexpr bool UiDarkPage = false;

inline constexpr bool SystemAutoScan = true;
inline constexpr int SystemScanInterval = 1; // minutes
inline constexpr bool SystemCloseToTray = true;
inline constexpr bool SystemStartHidden = false;
inline constexpr bool SystemAutostart = false;
inline constexpr const char *SystemVersion = Deployment::Version;

inline constexpr char DevicesPool[] = "{}";

inline constexpr const char *WebCloud = Deployment::PortalUrl;
inline constexpr char WebRegPage[] = "/things";
inline constexpr const char *WebRegEndpoint = Deployment::RegistrarUrl;
inline constexpr const char *WebUpdateUrl = Deployment::UpdateFeedUrl;

inline constexpr int UpdatesInterval = 7; // days
inline constexpr char UpdatesLastCheckFormat[] = "yyyy.MM.dd hh:mm:ss";
inline constexpr bool UpdatesAuto = true;

inline constexpr bool PluginEnabled = true;

// Format of the "updated" stamp of the device pool document.
inline constexpr char PoolUpdatedFormat[] = "yyyy.MM.dd hh:mm:ss";
} // namespace Default
