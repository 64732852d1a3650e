// The network manager's D-Bus interface through sd-bus. Each operation opens
// its own system-bus connection (DBUS_SYSTEM_BUS_ADDRESS, else the system
// bus's well-known socket), makes blocking calls within one time budget, and
// closes the connection again; no thread, no event loop, no signal
// subscription: an activation is followed by reading its State property.
// The connection is started by hand so that authentication and the bus's
// Hello are bounded by that budget too (sd_bus_call would wait for them
// under sd-bus's own limits), and no message may start the manager through
// bus activation: a manager that is not running is absent.
#include "posix/connection/NetworkManager.h"

#include "posix/handles/Timeouts.h"
#include "posix/text/Utf.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Corvane::Backend::NetworkManager {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kManagerIface = "org.freedesktop.NetworkManager";
constexpr const char* kSettingsPath = "/org/freedesktop/NetworkManager/Settings";
constexpr const char* kSettingsIface = "org.freedesktop.NetworkManager.Settings";
constexpr const char* kProfileIface = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr const char* kActiveIface = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kDeviceIface = "org.freedesktop.NetworkManager.Device";
constexpr const char* kPropertiesIface = "org.freedesktop.DBus.Properties";
constexpr const char* kDefaultAddress = "unix:path=/run/dbus/system_bus_socket";

// NMActiveConnectionState and NMDeviceState values.
constexpr std::uint32_t kActiveActivated = 2;
constexpr std::uint32_t kActiveDeactivated = 4;
constexpr std::uint32_t kDeviceNeedAuth = 60;

// The flags that forbid waiting for a user: the dial flag and the autodial
// flag, honoured by both calls.
constexpr DWORD kUnattended = INTERNET_DIAL_UNATTENDED | INTERNET_AUTODIAL_FORCE_UNATTENDED;

// How often an activation in progress is looked at.
constexpr std::chrono::milliseconds kPollInterval{50};
// A bus that has not authenticated and answered Hello by then is broken,
// whatever the operation's budget.
constexpr std::chrono::milliseconds kStartLimit{5000};
// Taking back an activation the caller is told failed gets this on top of a
// budget that may be spent.
constexpr std::chrono::milliseconds kCleanupBudget{2000};
// The connected state asks on every read: it gets a short budget and reuses
// an answer for a moment.
constexpr std::chrono::milliseconds kQueryBudget{1000};
constexpr std::chrono::milliseconds kQueryReuse{1000};

using Clock = std::chrono::steady_clock;

// SetBudget's value in milliseconds; 0 for the default.
std::atomic<std::int64_t> gBudget{0};

std::chrono::milliseconds OperationBudget() {
    const std::int64_t set = gBudget.load();
    return std::chrono::milliseconds(set > 0 ? set : std::int64_t{Timeouts::kDefaultConnect});
}

std::string BusAddress() {
    const char* set = ::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return set && *set ? set : kDefaultAddress;
}

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// A failed call: the D-Bus error (freed with it) and the negative errno.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result = 0;
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError() { sd_bus_error_free(&error); }
    bool Is(const char* name) const { return error.name && std::strcmp(error.name, name) == 0; }

    // No answer in time: what the call asked for may still happen.
    bool TimedOut() const {
        return result == -ETIMEDOUT || Is(SD_BUS_ERROR_TIMEOUT) || Is(SD_BUS_ERROR_NO_REPLY);
    }
    bool NoManager() const {
        return Is(SD_BUS_ERROR_SERVICE_UNKNOWN) || Is(SD_BUS_ERROR_NAME_HAS_NO_OWNER) ||
               Is(SD_BUS_ERROR_DISCONNECTED) || result == -ECONNRESET || result == -ENOTCONN;
    }
    // The object is not there (any more): sd-bus and GDBus services answer
    // an unknown path differently.
    bool Gone() const {
        return Is(SD_BUS_ERROR_UNKNOWN_OBJECT) || Is(SD_BUS_ERROR_UNKNOWN_METHOD) ||
               Is(SD_BUS_ERROR_UNKNOWN_INTERFACE) || Is(SD_BUS_ERROR_UNKNOWN_PROPERTY);
    }
    bool Denied() const {
        constexpr std::string_view kSuffix = ".PermissionDenied";
        const std::string_view name = error.name ? error.name : "";
        return Is(SD_BUS_ERROR_ACCESS_DENIED) || Is(SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED) ||
               (name.size() > kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix);
    }
};

// The dial-up code of a failed call; `otherwise` for an error the manager
// answered that has no code of its own.
DWORD CodeOf(const BusError& error, DWORD otherwise) {
    if (error.NoManager()) return kErrorNoManager;
    if (error.TimedOut()) return kErrorTimedOut;
    if (error.Denied()) return kErrorAccessDenied;
    if (error.result == -ENOMEM) return ERROR_NOT_ENOUGH_MEMORY;
    return otherwise;
}

// A connection profile as far as dialing looks at it: its "connection"
// settings, with the manager's defaults for what a profile leaves out.
struct Profile {
    std::string path;
    std::string id;
    bool autoconnect = true;
    std::int32_t priority = 0;
};

// One operation on the bus: a connection and the time left for it.
class Bus {
public:
    // Connects, authenticates and says Hello within `budget` (and
    // kStartLimit); nothing when the bus cannot be reached or does not answer.
    static std::optional<Bus> Open(std::chrono::milliseconds budget) {
        const Clock::time_point start = Clock::now();
        Bus bus(start + budget);
        sd_bus* raw = nullptr;
        if (sd_bus_new(&raw) < 0) return std::nullopt;
        bus.FBus.reset(raw);
        const std::string address = BusAddress();
        if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
            sd_bus_start(raw) < 0)
            return std::nullopt;
        const Clock::time_point limit = std::min(bus.FDeadline, start + kStartLimit);
        while (sd_bus_is_ready(raw) <= 0) {
            const int processed = sd_bus_process(raw, nullptr);
            if (processed < 0 || sd_bus_is_open(raw) <= 0) return std::nullopt;
            if (processed > 0) continue;
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(limit - Clock::now());
            if (left.count() <= 0 || sd_bus_wait(raw, static_cast<std::uint64_t>(left.count())) < 0)
                return std::nullopt;
        }
        return bus;
    }

    bool Expired() const { return Clock::now() >= FDeadline; }
    Clock::time_point Deadline() const { return FDeadline; }

    // Gives what follows at least `more`, however much of the budget is
    // left: for cleaning up after an operation that failed.
    void Grant(std::chrono::milliseconds more) { FDeadline = std::max(FDeadline, Clock::now() + more); }

    // Calls `member` on the manager's service; `append` adds the arguments
    // to the message. A null result is a failed call, described in `error`
    // (a call that finds the budget spent is not sent and reads as timed out).
    template <typename Append>
    Message Call(const char* path, const char* iface, const char* member, BusError& error, Append&& append) {
        sd_bus_message* raw = nullptr;
        error.result = sd_bus_message_new_method_call(FBus.get(), &raw, kService, path, iface, member);
        if (error.result < 0) return nullptr;
        const Message call(raw);
        if (!append(call.get()) || sd_bus_message_set_auto_start(call.get(), 0) < 0) {
            error.result = -ENOMEM;
            return nullptr;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(FDeadline - Clock::now());
        if (left.count() <= 0) {
            error.result = -ETIMEDOUT;
            return nullptr;
        }
        sd_bus_message* reply = nullptr;
        error.result = sd_bus_call(FBus.get(), call.get(), static_cast<std::uint64_t>(left.count()),
                                   &error.error, &reply);
        if (error.result < 0) return nullptr;
        return Message(reply);
    }

    Message Call(const char* path, const char* iface, const char* member, BusError& error) {
        return Call(path, iface, member, error, [](sd_bus_message*) { return true; });
    }

    // Properties.Get, the reply positioned inside its variant of `type`.
    Message Property(const char* path, const char* iface, const char* name, const char* type,
                     BusError& error) {
        Message reply = Call(path, kPropertiesIface, "Get", error, [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", iface, name) >= 0;
        });
        if (!reply || sd_bus_message_enter_container(reply.get(), 'v', type) <= 0) return nullptr;
        return reply;
    }

    std::optional<std::uint32_t> UInt(const char* path, const char* iface, const char* name,
                                      BusError& error) {
        const Message reply = Property(path, iface, name, "u", error);
        std::uint32_t value = 0;
        if (!reply || sd_bus_message_read(reply.get(), "u", &value) <= 0) return std::nullopt;
        return value;
    }

    std::optional<bool> Bool(const char* path, const char* iface, const char* name, BusError& error) {
        const Message reply = Property(path, iface, name, "b", error);
        int value = 0;
        if (!reply || sd_bus_message_read(reply.get(), "b", &value) <= 0) return std::nullopt;
        return value != 0;
    }

    std::optional<std::string> Object(const char* path, const char* iface, const char* name,
                                      BusError& error) {
        const Message reply = Property(path, iface, name, "o", error);
        const char* value = nullptr;
        if (!reply || sd_bus_message_read(reply.get(), "o", &value) <= 0) return std::nullopt;
        return std::string(value);
    }

    std::optional<std::vector<std::string>> Paths(const char* path, const char* iface, const char* name,
                                                  BusError& error) {
        const Message reply = Property(path, iface, name, "ao", error);
        if (!reply) return std::nullopt;
        return ReadPaths(reply.get());
    }

    // Every profile the manager holds, with its settings. A profile removed
    // meanwhile, or one this caller may not read, cannot be dialed and is
    // left out; any other failure fails the listing, so that a profile that
    // merely was not read in time never reads as unknown.
    DWORD Profiles(std::vector<Profile>& profiles) {
        BusError error;
        const Message list = Call(kSettingsPath, kSettingsIface, "ListConnections", error);
        if (!list) return CodeOf(error, kErrorNoManager);
        const std::optional<std::vector<std::string>> paths = ReadPaths(list.get());
        if (!paths) return kErrorNoManager;
        for (const std::string& path : *paths) {
            BusError settingsError;
            const Message settings = Call(path.c_str(), kProfileIface, "GetSettings", settingsError);
            if (!settings) {
                if (settingsError.Gone() || settingsError.Denied()) continue;
                return CodeOf(settingsError, kErrorNoManager);
            }
            Profile profile;
            profile.path = path;
            if (ReadProfile(settings.get(), profile)) profiles.push_back(std::move(profile));
        }
        return ERROR_SUCCESS;
    }

private:
    explicit Bus(Clock::time_point deadline) : FDeadline(deadline) {}

    static std::optional<std::vector<std::string>> ReadPaths(sd_bus_message* m) {
        if (sd_bus_message_enter_container(m, 'a', "o") <= 0) return std::nullopt;
        std::vector<std::string> paths;
        const char* path = nullptr;
        int r = 0;
        while ((r = sd_bus_message_read(m, "o", &path)) > 0) paths.emplace_back(path);
        if (r < 0) return std::nullopt;
        return paths;
    }

    // Reads the "connection" setting's id, autoconnect and
    // autoconnect-priority out of GetSettings' a{sa{sv}}.
    static bool ReadProfile(sd_bus_message* m, Profile& profile) {
        if (sd_bus_message_enter_container(m, 'a', "{sa{sv}}") <= 0) return false;
        while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
            const char* setting = nullptr;
            if (sd_bus_message_read(m, "s", &setting) <= 0) return false;
            const bool connection = std::strcmp(setting, "connection") == 0;
            if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return false;
            while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
                const char* key = nullptr;
                if (sd_bus_message_read(m, "s", &key) <= 0) return false;
                if (!(connection && ReadProfileValue(m, key, profile)) && sd_bus_message_skip(m, "v") < 0)
                    return false;
                if (sd_bus_message_exit_container(m) < 0) return false;
            }
            if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0) return false;
        }
        return sd_bus_message_exit_container(m) >= 0;
    }

    // Reads the variant of `key` into `profile` if it is a value dialing
    // uses and has the expected type; false leaves the variant unread.
    static bool ReadProfileValue(sd_bus_message* m, const char* key, Profile& profile) {
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_peek_type(m, &type, &contents) <= 0 || type != 'v' || !contents) return false;
        const std::string_view name(key);
        const std::string_view held(contents);
        const bool wanted = (name == "id" && held == "s") || (name == "autoconnect" && held == "b") ||
                            (name == "autoconnect-priority" && held == "i");
        if (!wanted || sd_bus_message_enter_container(m, 'v', contents) <= 0) return false;
        if (held == "s") {
            const char* text = nullptr;
            if (sd_bus_message_read(m, "s", &text) > 0) profile.id = text;
        } else if (held == "b") {
            int flag = 0;
            if (sd_bus_message_read(m, "b", &flag) > 0) profile.autoconnect = flag != 0;
        } else {
            std::int32_t priority = 0;
            if (sd_bus_message_read(m, "i", &priority) > 0) profile.priority = priority;
        }
        return sd_bus_message_exit_container(m) >= 0;
    }

    BusPtr FBus;
    Clock::time_point FDeadline;
};

// DeactivateConnection of an active connection: ERROR_SUCCESS also when it
// is no longer active (what hanging up wants holds).
DWORD Deactivate(Bus& bus, const std::string& active) {
    BusError error;
    const Message reply =
        bus.Call(kManagerPath, kManagerIface, "DeactivateConnection", error,
                 [&](sd_bus_message* m) { return sd_bus_message_append(m, "o", active.c_str()) >= 0; });
    if (reply || error.Is("org.freedesktop.NetworkManager.ConnectionNotActive") || error.Gone())
        return ERROR_SUCCESS;
    return CodeOf(error, kErrorActivationRefused);
}

// Takes back an activation whose dial reports failure, so that nothing the
// caller was not given a number for stays up; on a budget of its own, as
// the dial's may be spent.
void Withdraw(Bus& bus, const std::string& active) {
    bus.Grant(kCleanupBudget);
    Deactivate(bus, active);
}

// The same when ActivateConnection got no answer: the manager may have
// started an activation whose path the dial never learnt, so whatever
// active connection the profile has is taken down.
void WithdrawProfile(Bus& bus, const std::string& profile) {
    bus.Grant(kCleanupBudget);
    BusError error;
    const auto actives = bus.Paths(kManagerPath, kManagerIface, "ActiveConnections", error);
    if (!actives) return;
    for (const std::string& active : *actives) {
        BusError readError;
        if (bus.Object(active.c_str(), kActiveIface, "Connection", readError) == profile)
            Deactivate(bus, active);
    }
}

// Whether a device of the active connection waits for secrets.
bool WaitsForSecrets(Bus& bus, const std::string& active) {
    BusError error;
    const auto devices = bus.Paths(active.c_str(), kActiveIface, "Devices", error);
    if (!devices) return false;
    for (const std::string& device : *devices) {
        BusError stateError;
        if (bus.UInt(device.c_str(), kDeviceIface, "State", stateError) == kDeviceNeedAuth) return true;
    }
    return false;
}

// Activates `profile` on whatever device the manager picks and follows the
// activation until it is up (its path in `*active`), has failed, or the
// time is up. An unattended caller is not kept waiting for secrets the
// manager asks its agents for. Every failure after the manager may have
// started something withdraws it.
DWORD Activate(Bus& bus, const std::string& profile, bool unattended, std::string* active) {
    BusError error;
    const Message reply = bus.Call(
        kManagerPath, kManagerIface, "ActivateConnection", error,
        [&](sd_bus_message* m) { return sd_bus_message_append(m, "ooo", profile.c_str(), "/", "/") >= 0; });
    if (!reply) {
        if (error.TimedOut()) WithdrawProfile(bus, profile);
        return CodeOf(error, kErrorActivationRefused);
    }
    const char* path = nullptr;
    if (sd_bus_message_read(reply.get(), "o", &path) <= 0) return kErrorActivationRefused;
    const std::string started(path);
    for (;;) {
        BusError stateError;
        const std::optional<std::uint32_t> state =
            bus.UInt(started.c_str(), kActiveIface, "State", stateError);
        if (state == kActiveActivated) {
            *active = started;
            return ERROR_SUCCESS;
        }
        // The manager removes an active connection once it is deactivated:
        // one that is gone has failed.
        if (state == kActiveDeactivated || (!state && stateError.Gone())) return kErrorDisconnected;
        if (!state) {
            Withdraw(bus, started);
            return stateError.TimedOut() ? kErrorDisconnected : CodeOf(stateError, kErrorDisconnected);
        }
        if (unattended && WaitsForSecrets(bus, started)) {
            Withdraw(bus, started);
            return kErrorNeedsInteraction;
        }
        if (bus.Expired()) {
            Withdraw(bus, started);
            return kErrorDisconnected;
        }
        std::this_thread::sleep_until(std::min(Clock::now() + kPollInterval, bus.Deadline()));
    }
}

// The numbers Dial gives out, each naming the active connection it brought
// up and that connection's profile. Numbers are never used twice in a
// process, so a stale number cannot hang up a later dial's connection; the
// profile guards against an active connection's path that the manager gave
// to another connection since (it numbers them afresh when it restarts).
class Dialed {
public:
    struct Entry {
        std::string profile;
        std::string active;
    };

    static Dialed& Process() {
        static Dialed table;
        return table;
    }

    DWORD_PTR Add(Entry entry) {
        const std::lock_guard lock(FMutex);
        const DWORD_PTR number = ++FLast;
        FEntries.emplace(number, std::move(entry));
        return number;
    }

    std::optional<Entry> Find(DWORD_PTR number) {
        const std::lock_guard lock(FMutex);
        const auto found = FEntries.find(number);
        if (found == FEntries.end()) return std::nullopt;
        return found->second;
    }

    void Remove(DWORD_PTR number) {
        const std::lock_guard lock(FMutex);
        FEntries.erase(number);
    }

private:
    std::mutex FMutex;
    DWORD_PTR FLast = 0;
    std::map<DWORD_PTR, Entry> FEntries;
};

// What AutoDial brought up and AutoDialHangUp takes down. The mutex is held
// for the whole of either call, so that the two never interleave.
struct AutoDialed {
    std::mutex mutex;
    bool enabledNetworking = false;
    std::string active;

    static AutoDialed& Process() {
        static AutoDialed state;
        return state;
    }
};

bool EnableNetworking(Bus& bus, bool enable, BusError& error) {
    return bus.Call(kManagerPath, kManagerIface, "Enable", error, [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "b", static_cast<int>(enable)) >= 0;
    }) != nullptr;
}

// The profile autodial brings up: among those that connect automatically
// the one of the highest priority (the first of them on a tie), else the
// first profile.
const Profile* Preferred(const std::vector<Profile>& profiles) {
    const Profile* best = nullptr;
    for (const Profile& profile : profiles) {
        if (profile.autoconnect && (!best || profile.priority > best->priority)) best = &profile;
    }
    if (!best && !profiles.empty()) best = &profiles.front();
    return best;
}

// A null name reads as the empty one (see the header).
DWORD DialProfile(const std::u16string& name, DWORD flags, DWORD_PTR* connection) {
    if (name.empty()) return kErrorUnknownEntry;
    std::optional<Bus> bus = Bus::Open(OperationBudget());
    if (!bus) return kErrorNoManager;
    std::vector<Profile> profiles;
    const DWORD listed = bus->Profiles(profiles);
    if (listed != ERROR_SUCCESS) return listed;
    // Profile ids are UTF-8 on the bus.
    const std::string wanted = Utf16ToUtf8(name);
    const Profile* chosen = nullptr;
    for (const Profile& profile : profiles) {
        if (profile.id == wanted) {
            chosen = &profile;
            break;
        }
    }
    if (!chosen) return kErrorUnknownEntry;
    std::string active;
    const DWORD outcome = Activate(*bus, chosen->path, (flags & kUnattended) != 0, &active);
    if (outcome != ERROR_SUCCESS) return outcome;
    *connection = Dialed::Process().Add({chosen->path, active});
    return ERROR_SUCCESS;
}

DWORD HangUpNumber(DWORD_PTR connection) {
    const std::optional<Dialed::Entry> dialed = Dialed::Process().Find(connection);
    if (!dialed) return kErrorInvalidConnection;
    std::optional<Bus> bus = Bus::Open(OperationBudget());
    if (!bus) return kErrorNoManager;
    // Only an active connection of the dialed profile is the dialed one;
    // when the path names nothing or another profile's, it is down already.
    BusError error;
    const std::optional<std::string> profile =
        bus->Object(dialed->active.c_str(), kActiveIface, "Connection", error);
    DWORD outcome = ERROR_SUCCESS;
    if (profile == dialed->profile) {
        outcome = Deactivate(*bus, dialed->active);
    } else if (!profile && !error.Gone()) {
        outcome = CodeOf(error, kErrorNoManager);
    }
    if (outcome == ERROR_SUCCESS) Dialed::Process().Remove(connection);
    return outcome;
}

// With networking on: ERROR_SUCCESS when the manager has a primary
// connection (the one that holds the default route, the way out that
// autodial is for; bridges and other local connections are never primary),
// else the outcome of activating the preferred profile, kept in `*active`.
DWORD BringUpPreferred(Bus& bus, DWORD flags, std::string* active) {
    BusError error;
    const std::optional<std::string> primary =
        bus.Object(kManagerPath, kManagerIface, "PrimaryConnection", error);
    if (!primary) return CodeOf(error, kErrorNoManager);
    if (*primary != "/") return ERROR_SUCCESS;
    std::vector<Profile> profiles;
    const DWORD listed = bus.Profiles(profiles);
    if (listed != ERROR_SUCCESS) return listed;
    const Profile* preferred = Preferred(profiles);
    if (!preferred) return kErrorUnknownEntry;
    return Activate(bus, preferred->path, (flags & kUnattended) != 0, active);
}

DWORD AutoDialUp(DWORD flags) {
    AutoDialed& state = AutoDialed::Process();
    const std::lock_guard lock(state.mutex);
    std::optional<Bus> bus = Bus::Open(OperationBudget());
    if (!bus) return kErrorNoManager;
    BusError error;
    const std::optional<bool> enabled = bus->Bool(kManagerPath, kManagerIface, "NetworkingEnabled", error);
    if (!enabled) return CodeOf(error, kErrorNoManager);
    if (!*enabled) {
        BusError enableError;
        if (!EnableNetworking(*bus, true, enableError)) return CodeOf(enableError, kErrorActivationRefused);
    }
    std::string active;
    const DWORD outcome = BringUpPreferred(*bus, flags, &active);
    if (outcome != ERROR_SUCCESS) {
        // A failed autodial leaves networking as it found it.
        if (!*enabled) {
            bus->Grant(kCleanupBudget);
            BusError disableError;
            EnableNetworking(*bus, false, disableError);
        }
        return outcome;
    }
    if (!*enabled) state.enabledNetworking = true;
    if (!active.empty()) state.active = active;
    return ERROR_SUCCESS;
}

DWORD AutoDialDown() {
    AutoDialed& state = AutoDialed::Process();
    const std::lock_guard lock(state.mutex);
    if (state.active.empty() && !state.enabledNetworking) return ERROR_SUCCESS;
    std::optional<Bus> bus = Bus::Open(OperationBudget());
    if (!bus) return kErrorNoManager;
    if (!state.active.empty()) {
        const DWORD outcome = Deactivate(*bus, state.active);
        if (outcome != ERROR_SUCCESS) return outcome;
        state.active.clear();
    }
    if (state.enabledNetworking) {
        BusError error;
        if (!EnableNetworking(*bus, false, error)) return CodeOf(error, kErrorNoManager);
        state.enabledNetworking = false;
    }
    return ERROR_SUCCESS;
}

// One round trip's worth of presence. Reading a property proves a manager
// that answers (GetPermissions would make it consult the authorization
// service for every permission it has, on every state read); whether this
// caller may activate is the manager's to say when it dials.
Presence Ask() {
    std::optional<Bus> bus = Bus::Open(kQueryBudget);
    if (!bus) return {};
    BusError error;
    if (!bus->Bool(kManagerPath, kManagerIface, "NetworkingEnabled", error)) return {};
    Presence presence;
    presence.reachable = true;
    BusError listError;
    const Message list = bus->Call(kSettingsPath, kSettingsIface, "ListConnections", listError);
    if (list && sd_bus_message_enter_container(list.get(), 'a', "o") > 0) {
        const char* path = nullptr;
        presence.configured = sd_bus_message_read(list.get(), "o", &path) > 0;
    }
    return presence;
}

// Query's last answer, per bus address.
struct Asked {
    std::mutex mutex;
    std::string address;
    Clock::time_point when;
    Presence presence;
    bool valid = false;

    static Asked& Process() {
        static Asked asked;
        return asked;
    }
};

}  // namespace

Presence Query() {
    try {
        Asked& asked = Asked::Process();
        const std::string address = BusAddress();
        {
            const std::lock_guard lock(asked.mutex);
            if (asked.valid && asked.address == address && Clock::now() - asked.when < kQueryReuse)
                return asked.presence;
        }
        const Presence presence = Ask();
        const std::lock_guard lock(asked.mutex);
        asked.address = address;
        asked.when = Clock::now();
        asked.presence = presence;
        asked.valid = true;
        return presence;
    } catch (...) {
        return {};
    }
}

void SetBudget(std::chrono::milliseconds budget) {
    gBudget.store(budget.count());
}

DWORD Dial(const std::u16string& name, DWORD flags, DWORD_PTR* connection) {
    try {
        return DialProfile(name, flags, connection);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD HangUp(DWORD_PTR connection) {
    try {
        return HangUpNumber(connection);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD AutoDial(DWORD flags) {
    try {
        return AutoDialUp(flags);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD AutoDialHangUp() {
    try {
        return AutoDialDown();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace Corvane::Backend::NetworkManager
