#pragma once

// Where this build of the gateway finds the platform. A private deployment changes these values
// (and the compiled CA bundle) and nothing else.
namespace Deployment {

// Host of the platform's API: MQTT broker and registrar.
inline constexpr char ApiHost[] = "api.calvex.cloud";
inline constexpr int MqttPort = 8883;
// The platform's web portal, where the user enters the registration code.
inline constexpr char PortalUrl[] = "https://portal.calvex.cloud";
inline constexpr char RegistrarUrl[] = "https://api.calvex.cloud/iot/register";
// The maker's update feed.
inline constexpr char UpdateFeedUrl[] =
    "https://software.tessel.pro/software/tsl-gate/updates/lin/appcast.json";

// Organisation and application names: they place the settings file and the credential directory.
inline constexpr char Organization[] = "tessel.pro";
inline constexpr char Application[] = "TSL-Gate";
inline constexpr char Version[] = "0.2.0";

} // namespace Deployment
