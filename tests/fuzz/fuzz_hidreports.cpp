// The sensor's input reports and the watchdog's feature reports, played back through hidapi and
// decoded as the poll timer would: every number in the state is finite.

#include "fuzzsupport.h"
#include "hidplayback.h"
#include "thx9device.h"
#include "vgl5device.h"

#include <QJsonObject>

#include <cmath>
#include <memory>

namespace {

void requireFiniteState(const QAbstractThing &thing)
{
    const QJsonObject state = thing.state();
    for (auto it = state.begin(); it != state.end(); ++it) {
        if (it.value().isDouble())
            FuzzSupport::require(std::isfinite(it.value().toDouble()), "a state number is not finite");
    }
}

template <typename Device> void poll(const QHash<QString, QVariant> &settings, uint id)
{
    Device device;
    device.applyTypeSettings(settings);
    if (!device.open(QStringLiteral("S1"), id))
        return;
    for (int i = 0; i < 64 && !HidPlayback::exhausted(); ++i) {
        device.doPoll();
        requireFiniteState(device);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_hidreports");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    HidPlayback::load(data + 1, size - 1);
    const uint8_t pick = data[0];
    if (pick & 1) {
        const char *units[] = {"Celsius", "Fahrenheit", "Kelvin"};
        poll<THX9Device>({{QStringLiteral("unit"), QString::fromLatin1(units[(pick >> 1) % 3])}},
                         uint(THX9Device::VendorId) << 16 | THX9Device::ProductId);
    } else {
        poll<VGL5Device>({{QStringLiteral("ping"), bool(pick & 2)},
                          {QStringLiteral("rst"), bool(pick & 4)},
                          {QStringLiteral("pwr"), bool(pick & 8)}},
                         uint(VGL5Device::VendorId) << 16 | VGL5Device::ProductId);
    }
    return 0;
}
