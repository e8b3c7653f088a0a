#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

// SingleInstance: one Brimvale per user session. The first instance owns the session-bus name
// app.brimvale.Brimvale and answers Activate() there; a later launch finds the name taken, asks
// the owner to show its main window and is told to exit. Without a bus the app simply runs alone.
// GUI thread; nothing here waits on the bus except claim()'s one name request.
namespace brimvale {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimvale.Brimvale")

public:
    static constexpr const char* serviceName = "app.brimvale.Brimvale";
    static constexpr const char* objectPath = "/app/brimvale/Brimvale";

    enum class Role { only, primary, secondary };

    // busAddress: empty for the session bus, else a private bus (tests).
    explicit SingleInstance(QString busAddress = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name, or finds it taken. `only` when there is no bus.
    [[nodiscard]] Role claim();
    // For a secondary: asks the owner to show itself; done(true) once it answered.
    void activateOwner(std::function<void(bool answered)> done);

public slots:
    // Called over the bus by a second launch.
    Q_SCRIPTABLE void Activate();

signals:
    void activated();

private:
    QString connectionName_;
    QDBusConnection connection_;
    bool owner_ = false;
};

}  // namespace brimvale
