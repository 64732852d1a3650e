// Dialing, hanging up and autodial through the C API against the mock
// network manager of tests/servers/nmbus.py (profiles "office", "backup"
// autoconnect priority 5, "uplink" autoconnect priority 10, "failing",
// "needs-secrets", "stalling"; networking disabled at the start), whose
// state the tests read back over the same bus. Without that bus (the test
// run outside CTest) they skip rather than dial on the real system bus.
#include "WideText.h"

#include "posix/connection/NetworkManager.h"

#include <Platform/WinInet.h>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using WideText::W;
namespace NM = Corvane::Backend::NetworkManager;

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManager = "/org/freedesktop/NetworkManager";
constexpr DWORD_PTR kUntouched = 0xC0FFEE;

// What the mock holds, read over the bus the backend uses.
struct ManagerState {
    bool networking = false;
    std::vector<std::string> active;  // the ids of the active connections
    std::vector<std::string> paths;   // and their paths
};

ManagerState ReadManager() {
    ManagerState state;
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        ADD_FAILURE() << "no bus";
        return state;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int enabled = 0;
    EXPECT_GE(sd_bus_get_property_trivial(bus, kService, kManager, kService, "NetworkingEnabled", &error, 'b',
                                          &enabled),
              0);
    state.networking = enabled != 0;
    sd_bus_error_free(&error);
    char** paths = nullptr;
    EXPECT_GE(
        sd_bus_get_property_strv(bus, kService, kManager, kService, "ActiveConnections", &error, &paths), 0);
    sd_bus_error_free(&error);
    for (char** path = paths; path && *path; ++path) {
        char* id = nullptr;
        if (sd_bus_get_property_string(bus, kService, *path,
                                       "org.freedesktop.NetworkManager.Connection.Active", "Id", &error,
                                       &id) >= 0) {
            state.active.emplace_back(id);
            state.paths.emplace_back(*path);
            free(id);
        }
        sd_bus_error_free(&error);
        free(*path);
    }
    free(paths);
    sd_bus_flush_close_unref(bus);
    return state;
}

// Deactivates an active connection behind the backend's back.
void DropElsewhere(const std::string& path) {
    sd_bus* bus = nullptr;
    ASSERT_GE(sd_bus_open_system(&bus), 0);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    EXPECT_GE(sd_bus_call_method(bus, kService, kManager, kService, "DeactivateConnection", &error, nullptr,
                                 "o", path.c_str()),
              0);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
}

using Ids = std::vector<std::string>;

class DialUp : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DBUS_SYSTEM_BUS_ADDRESS"))
            GTEST_SKIP() << "no private system bus (DBUS_SYSTEM_BUS_ADDRESS); run through CTest";
    }
};

// A dial whose outcome is `expected`: the code returned is also the last
// error, and a failed dial leaves the caller's connection number alone.
DWORD_PTR ExpectDial(const char16_t* name, DWORD flags, DWORD expected) {
    DWORD_PTR connection = kUntouched;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD code =
        ::InternetDialW(nullptr, name ? const_cast<LPWSTR>(W(name)) : nullptr, flags, &connection, 0);
    EXPECT_EQ(code, expected);
    if (expected == ERROR_SUCCESS) {
        EXPECT_NE(connection, 0u);
        EXPECT_NE(connection, kUntouched);
    } else {
        EXPECT_EQ(connection, kUntouched);
        EXPECT_EQ(::GetLastError(), expected);
    }
    return connection;
}

TEST_F(DialUp, NamesThatNameNoProfileAndBadArguments) {
    struct Row {
        const char16_t* name;
        DWORD expected;
    };
    const Row rows[] = {
        {u"nowhere", NM::kErrorUnknownEntry}, {u"", NM::kErrorUnknownEntry},
        {nullptr, NM::kErrorUnknownEntry},    {u"Office", NM::kErrorUnknownEntry},  // ids are matched exactly
        {u"office ", NM::kErrorUnknownEntry},                                       // no trimming either
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? std::string(row.name, row.name + std::char_traits<char16_t>::length(row.name))
                              : std::string("(null)"));
        ExpectDial(row.name, INTERNET_DIAL_UNATTENDED, row.expected);
    }
    EXPECT_EQ(::InternetDialW(nullptr, const_cast<LPWSTR>(W(u"office")), 0, nullptr, 0),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (const DWORD_PTR never : {DWORD_PTR{0}, DWORD_PTR{123456}}) {
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(::InternetHangUp(never, 0), NM::kErrorInvalidConnection);
        EXPECT_EQ(::GetLastError(), NM::kErrorInvalidConnection);
    }
}

// One pass through what an application does, checking the manager's state
// after each step.
TEST_F(DialUp, DialHangUpAndAutodialAgainstTheManager) {
    const NM::Presence presence = NM::Query();
    EXPECT_TRUE(presence.reachable);
    EXPECT_TRUE(presence.configured);
    ASSERT_EQ(ReadManager().active, Ids{});
    ASSERT_FALSE(ReadManager().networking);

    // With networking disabled the manager refuses to activate.
    ExpectDial(u"office", 0, NM::kErrorActivationRefused);

    // Autodial enables networking and brings up the autoconnect profile of
    // the highest priority; a second one finds a connection and adds none.
    ASSERT_TRUE(::InternetAutodial(INTERNET_AUTODIAL_FORCE_UNATTENDED, nullptr));
    EXPECT_TRUE(ReadManager().networking);
    EXPECT_EQ(ReadManager().active, Ids{"uplink"});
    ASSERT_TRUE(::InternetAutodial(0, nullptr));
    EXPECT_EQ(ReadManager().active, Ids{"uplink"});

    const DWORD_PTR office = ExpectDial(u"office", INTERNET_DIAL_UNATTENDED, ERROR_SUCCESS);
    EXPECT_EQ(ReadManager().active, (Ids{"uplink", "office"}));
    const DWORD_PTR again = ExpectDial(u"backup", 0, ERROR_SUCCESS);
    EXPECT_NE(again, office);

    // An activation the manager drops, one that waits for secrets an
    // unattended caller (either flag) cannot give, and one that does not
    // finish in the dial's time fail and leave nothing behind.
    struct Failing {
        const char16_t* name;
        DWORD flags;
        DWORD expected;
    };
    const Failing failing[] = {
        {u"failing", 0, NM::kErrorDisconnected},
        {u"needs-secrets", INTERNET_DIAL_UNATTENDED, NM::kErrorNeedsInteraction},
        {u"needs-secrets", INTERNET_AUTODIAL_FORCE_UNATTENDED, NM::kErrorNeedsInteraction},
        {u"stalling", INTERNET_DIAL_UNATTENDED, NM::kErrorDisconnected},
    };
    NM::SetBudget(std::chrono::seconds(1));
    for (const Failing& row : failing) {
        SCOPED_TRACE(::testing::Message() << "flags " << row.flags);
        ExpectDial(row.name, row.flags, row.expected);
        EXPECT_EQ(ReadManager().active, (Ids{"uplink", "office", "backup"}));
    }
    NM::SetBudget(std::chrono::milliseconds(0));

    // A number whose connection someone else took down hangs up nothing,
    // not even a later connection the manager gave the same path.
    const std::string backupPath = ReadManager().paths.at(2);
    DropElsewhere(backupPath);
    const DWORD_PTR later = ExpectDial(u"office", 0, ERROR_SUCCESS);
    ASSERT_EQ(ReadManager().paths.at(2), backupPath);
    EXPECT_EQ(::InternetHangUp(again, 0), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadManager().active, (Ids{"uplink", "office", "office"}));
    EXPECT_EQ(::InternetHangUp(later, 0), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_EQ(::InternetHangUp(office, 0), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadManager().active, Ids{"uplink"});
    EXPECT_EQ(::InternetHangUp(office, 0), NM::kErrorInvalidConnection);  // numbers are spent once

    // Autodial's hang-up takes down exactly what autodial brought up, then
    // has nothing left to do.
    ASSERT_TRUE(::InternetAutodialHangup(0));
    EXPECT_EQ(ReadManager().active, Ids{});
    EXPECT_FALSE(ReadManager().networking);
    EXPECT_TRUE(::InternetAutodialHangup(0));
}

// A unix socket that takes connections and never says a word.
class SilentBus {
public:
    SilentBus() : FPath(::testing::TempDir() + "silent_bus_" + std::to_string(::getpid())) {
        ::unlink(FPath.c_str());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, FPath.c_str(), sizeof(address.sun_path) - 1);
        FSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(FSocket, 64), 0);
    }
    ~SilentBus() {
        ::close(FSocket);
        ::unlink(FPath.c_str());
    }
    std::string Address() const { return "unix:path=" + FPath; }

private:
    std::string FPath;
    int FSocket = -1;
};

// No bus, and a bus that never answers: each call fails within its budget
// (a second for Query, here a second for the others) as no manager.
TEST_F(DialUp, WithoutManagerEverythingFailsInTime) {
    const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
    const SilentBus silent;
    struct Row {
        std::string address;
        std::chrono::milliseconds limit;
    };
    const Row rows[] = {{"unix:path=/nonexistent", std::chrono::milliseconds(500)},
                        {silent.Address(), std::chrono::milliseconds(4500)}};
    NM::SetBudget(std::chrono::seconds(1));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", row.address.c_str(), 1);
        const auto started = std::chrono::steady_clock::now();
        const NM::Presence presence = NM::Query();
        EXPECT_FALSE(presence.reachable);
        EXPECT_FALSE(presence.configured);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
        ExpectDial(u"office", 0, NM::kErrorNoManager);
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(::InternetAutodial(0, nullptr));
        EXPECT_EQ(::GetLastError(), NM::kErrorNoManager);
        EXPECT_TRUE(::InternetAutodialHangup(0));  // autodial brought nothing up
        EXPECT_LT(std::chrono::steady_clock::now() - started, row.limit);
    }
    NM::SetBudget(std::chrono::milliseconds(0));

    if (restore) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", restore->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

}  // namespace
