#include <QObject>

// A Qt plug-in of some other kind that happens to carry a thing-type name.
class WrongInterfacePlugin : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.example.SomethingElse/1.0" FILE "wrongiface.json")
};

#include "wrongiface.moc"
