// An update payload from the broker, through the gateway thing to the device it names: the first
// byte picks the topic's thing (sensor, watchdog, the gateway itself or nobody), the rest is the
// payload. The hidapi answers to the watchdog's commands come from a fixed pattern.

#include "fuzzsupport.h"
#include "gatewaything.h"
#include "hidplayback.h"
#include "thx9device.h"
#include "vgl5device.h"

#include <QJsonObject>

namespace {
GatewayThing *g_gateway = nullptr;
THX9Device *g_sensor = nullptr;
VGL5Device *g_watchdog = nullptr;
// Writes alternate between success and failure; reads give nothing.
const uint8_t WriteAnswers[] = {0x00, 0x80, 0x00, 0x00, 0x80, 0x80};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_mqttupdate");
    g_gateway = new GatewayThing;
    g_sensor = new THX9Device;
    g_watchdog = new VGL5Device;
    g_watchdog->applyTypeSettings(
        {{QStringLiteral("ping"), true}, {QStringLiteral("rst"), true}, {QStringLiteral("pwr"), true}});
    HidPlayback::load(nullptr, 0);
    g_sensor->open(QStringLiteral("S1"), uint(THX9Device::VendorId) << 16 | THX9Device::ProductId);
    g_sensor->setRegid(QStringLiteral("7"));
    g_watchdog->setRegid(QStringLiteral("8"));
    g_gateway->setRegid(QStringLiteral("9"));
    g_gateway->addSibling(g_sensor);
    g_gateway->addSibling(g_watchdog);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // A failed command loses the watchdog's handle; every update starts with the device plugged in.
    HidPlayback::load(nullptr, 0);
    g_watchdog->open(QStringLiteral("W1"), uint(VGL5Device::VendorId) << 16 | VGL5Device::ProductId);
    HidPlayback::load(WriteAnswers, sizeof WriteAnswers);
    QString tid;
    switch (data[0] % 4) {
    case 0:
        tid = g_sensor->cloudid();
        break;
    case 1:
        tid = g_watchdog->cloudid();
        break;
    case 2:
        tid = g_gateway->cloudid();
        break;
    default:
        tid = QStringLiteral("thx9_100_S1");
        break;
    }
    QMetaObject::invokeMethod(g_gateway, "mqtt_messageReceived", Qt::DirectConnection, Q_ARG(QString, tid),
                              Q_ARG(QByteArray, FuzzSupport::bytes(data + 1, size - 1)));
    FuzzSupport::require(g_gateway->siblingCount() == 2, "an update lost a sibling");
    return 0;
}
