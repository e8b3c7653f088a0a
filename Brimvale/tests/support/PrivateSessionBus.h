#pragma once

#include <sys/types.h>

#include <QString>

#include "TestSupport.h"

// A private dbus-daemon with a session bus's policy and no service folders (so nothing installed
// on the machine is started by activation), in a temporary folder; stopped on destruction.
namespace brimvale::testing {

class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool running() const { return daemon_ > 0 && !address_.isEmpty(); }
    const QString& address() const { return address_; }

private:
    quenwick::testing::TempDir dir_;
    QString address_;
    pid_t daemon_ = -1;
};

}  // namespace brimvale::testing
