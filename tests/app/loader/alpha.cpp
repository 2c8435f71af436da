#include "fakethingtype.h"

class AlphaPlugin : public FakeThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "alpha.json")
    Q_INTERFACES(AbstractThingType)
};

#include "alpha.moc"
