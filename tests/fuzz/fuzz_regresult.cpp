// The registrar's "result" event as the runner handles it: JSON text, then the gateway applies
// identity, credentials, broker settings and the fleet. A result that is refused changes neither
// the gateway's registration id nor its serial.

#include "fakething.h"
#include "fuzzsupport.h"
#include "gatewaything.h"
#include "settingskeys.h"

#include <QJsonDocument>
#include <QSettings>

namespace {
GatewayThing *g_gateway = nullptr;
// Whether an applied result stored another serial: only then is it stored back, as a settings
// write per input would cost more than the result itself.
bool g_serialChanged = true;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_regresult");
    g_gateway = new GatewayThing;
    QObject::connect(g_gateway, &QAbstractThing::serialChanged, [] { g_serialChanged = true; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(FuzzSupport::bytes(data, size));
    if (!doc.isObject())
        return 0;
    g_gateway->setRegid(QStringLiteral("1"));
    if (g_serialChanged) {
        QSettings().setValue(Key::CloudSerial, QStringLiteral("5521"));
        g_serialChanged = false;
    }
    FakeThing sensor(QStringLiteral("thx9"), QStringLiteral("S1")),
        watchdog(QStringLiteral("watchdog"), QString());
    const bool applied = g_gateway->processRegistration(doc.object(), {&sensor, &watchdog}, true);
    if (!applied) {
        FuzzSupport::require(g_gateway->regid() == QLatin1String("1"), "a refused result changed the regid");
        FuzzSupport::require(QSettings().value(Key::CloudSerial).toString() == QLatin1String("5521"),
                             "a refused result changed the serial");
    }
    // The things go away with this run; the gateway must not keep them.
    g_gateway->removeSibling(&sensor);
    g_gateway->removeSibling(&watchdog);
    return 0;
}
