#include "fakethingtype.h"

class AlphadupPlugin : public FakeThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "alphadup.json")
    Q_INTERFACES(AbstractThingType)
};

#include "alphadup.moc"
