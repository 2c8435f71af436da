// The device pool document as stored under Devices/Pool, merged with the live things as every
// rescan does, and read back from the text that would be stored: afterwards the pool holds
// exactly one gateway entry and the live device's entry, and the text reads back as the document.
// The settings file stays out of the loop, and the gateway is a stand-in of its type and version
// that is not yet registered (serial "?"), as the real one is in a fresh profile: the real one
// reads its serial from the settings file each time the pool asks, which would cost more than
// the pool code itself.

#include "devicepool.h"
#include "fakething.h"
#include "fuzzsupport.h"
#include "gatewaything.h"

namespace {
FakeThing *g_gateway = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_devicepool");
    g_gateway = new FakeThing(GatewayThing::TypeName, GatewayThing::TypeVersion, QStringLiteral("?"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FakeThing device(QStringLiteral("thx9"), QStringLiteral("S1"));
    device.setRegid(QStringLiteral("77"));
    const QJsonObject doc = DevicePool::merged(
        DevicePool::parse(QString::fromLatin1(FuzzSupport::bytes(data, size))), {&device, g_gateway});
    const QJsonObject stored = DevicePool::parse(DevicePool::text(doc));
    FuzzSupport::require(stored == doc, "the stored text reads back as another document");

    int gateways = 0;
    bool deviceFound = false;
    for (const PoolEntry &entry : DevicePool::entriesOf(stored)) {
        if (entry.type == GatewayThing::TypeName)
            ++gateways;
        if (entry.registeredKey() == device.cloudid())
            deviceFound = true;
    }
    FuzzSupport::require(gateways == 1, "not exactly one gateway entry");
    FuzzSupport::require(deviceFound, "the live device is missing");
    return 0;
}
