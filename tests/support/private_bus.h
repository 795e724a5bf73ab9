// A D-Bus session bus of the test's own: a dbus-daemon listening on a socket
// in a temporary folder, with no services to start on demand and no rules
// but "allow", ended with the object. Tests of the remote control and the
// hotkeys never reach the machine's bus.
//
// Thread contract: one thread owns a PrivateBus.
#pragma once

#include <memory>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace parlune::test {

class PrivateBus {
public:
    // Starts the daemon and waits (up to five seconds) until it listens.
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ok() const { return ok_; }
    // The bus's address, as DBUS_SESSION_BUS_ADDRESS takes it.
    const std::string& address() const { return address_; }
    std::string environmentEntry() const { return "DBUS_SESSION_BUS_ADDRESS=" + address_; }
    // What the daemon printed, for a failure's message.
    std::string log();

private:
    TempDir dir_;
    std::string address_;
    std::unique_ptr<BackgroundProgram> daemon_;
    bool ok_ = false;
};

// A value escaped for a D-Bus address ("/tmp/a b" -> "/tmp/a%20b").
std::string escapeBusAddressValue(const std::string& value);

}  // namespace parlune::test
