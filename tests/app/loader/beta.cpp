#include "fakethingtype.h"

class BetaPlugin : public FakeThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "beta.json")
    Q_INTERFACES(AbstractThingType)
};

#include "beta.moc"
