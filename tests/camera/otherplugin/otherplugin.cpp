// A Qt plug-in with an unrelated interface.
#include <QObject>
#include <QtPlugin>

class OtherInterface {
public:
    virtual ~OtherInterface() = default;
    virtual int answer() = 0;
};
Q_DECLARE_INTERFACE(OtherInterface, "com.example.other")

class OtherPlugin : public QObject, public OtherInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.example.other")
    Q_INTERFACES(OtherInterface)
public:
    int answer() override { return 42; }
};

#include "otherplugin.moc"
