#include "fakethingtype.h"

class BadinitPlugin : public FakeThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "badinit.json")
    Q_INTERFACES(AbstractThingType)
};

#include "badinit.moc"
