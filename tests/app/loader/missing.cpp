#include "fakethingtype.h"

class MissingPlugin : public FakeThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "missing.json")
    Q_INTERFACES(AbstractThingType)
};

#include "missing.moc"
