// The device pool document under Devices/Pool, merged with the live things as every rescan does:
// afterwards the pool holds exactly one gateway entry and the live device's entry.

#include "devicepool.h"
#include "fakething.h"
#include "fuzzsupport.h"
#include "gatewaything.h"
#include "settingskeys.h"

#include <QSettings>

namespace {
GatewayThing *g_gateway = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_devicepool");
    g_gateway = new GatewayThing;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QSettings().setValue(Key::DevicesPool, QString::fromLatin1(FuzzSupport::bytes(data, size)));
    FakeThing device(QStringLiteral("thx9"), QStringLiteral("S1"));
    device.setRegid(QStringLiteral("77"));
    DevicePool::save({&device, g_gateway}, true);

    int gateways = 0;
    bool deviceFound = false;
    for (const PoolEntry &entry : DevicePool::entries()) {
        if (entry.type == GatewayThing::TypeName)
            ++gateways;
        if (entry.registeredKey() == device.cloudid())
            deviceFound = true;
    }
    FuzzSupport::require(gateways == 1, "not exactly one gateway entry");
    FuzzSupport::require(deviceFound, "the live device is missing");
    return 0;
}
