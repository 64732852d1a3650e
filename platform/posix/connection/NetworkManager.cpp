// The network manager's D-Bus interface through sd-bus. Each operation opens
// its own system-bus connection (sd_bus_open_system, which follows
// DBUS_SYSTEM_BUS_ADDRESS), makes blocking calls within one time budget, and
// closes the connection again; no thread, no event loop, no signal
// subscription: an activation is followed by reading its State property.
#include "posix/connection/NetworkManager.h"

#include "posix/handles/Timeouts.h"
#include "posix/text/Utf.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
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

// NMActiveConnectionState and NMDeviceState values.
constexpr std::uint32_t kActiveActivated = 2;
constexpr std::uint32_t kActiveDeactivated = 4;
constexpr std::uint32_t kDeviceNeedAuth = 60;

// How often an activation in progress is looked at.
constexpr std::chrono::milliseconds kPollInterval{50};

using Clock = std::chrono::steady_clock;

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// A D-Bus error that frees itself.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError() { sd_bus_error_free(&error); }
    bool Is(const char* name) const { return error.name && std::strcmp(error.name, name) == 0; }
};

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
    static std::optional<Bus> Open() {
        sd_bus* raw = nullptr;
        if (sd_bus_open_system(&raw) < 0) return std::nullopt;
        return Bus(BusPtr(raw));
    }

    bool Expired() const { return Clock::now() >= FDeadline; }

    // Calls `member` on the manager's service; `append` adds the arguments
    // to the message. A null result is a failed call, described in `error`.
    template <typename Append>
    Message Call(const char* path, const char* iface, const char* member, BusError& error, Append&& append) {
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_call(FBus.get(), &raw, kService, path, iface, member) < 0)
            return nullptr;
        const Message call(raw);
        if (!append(call.get())) return nullptr;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(FDeadline - Clock::now());
        if (left.count() <= 0) return nullptr;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call(FBus.get(), call.get(), static_cast<std::uint64_t>(left.count()), &error.error,
                        &reply) < 0)
            return nullptr;
        return Message(reply);
    }

    Message Call(const char* path, const char* iface, const char* member, BusError& error) {
        return Call(path, iface, member, error, [](sd_bus_message*) { return true; });
    }

    // Properties.Get, the reply positioned inside its variant of `type`.
    Message Property(const char* path, const char* iface, const char* name, const char* type) {
        BusError error;
        Message reply = Call(path, kPropertiesIface, "Get", error, [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", iface, name) >= 0;
        });
        if (!reply || sd_bus_message_enter_container(reply.get(), 'v', type) <= 0) return nullptr;
        return reply;
    }

    std::optional<std::uint32_t> UInt(const char* path, const char* iface, const char* name) {
        const Message reply = Property(path, iface, name, "u");
        std::uint32_t value = 0;
        if (!reply || sd_bus_message_read(reply.get(), "u", &value) <= 0) return std::nullopt;
        return value;
    }

    std::optional<bool> Bool(const char* path, const char* iface, const char* name) {
        const Message reply = Property(path, iface, name, "b");
        int value = 0;
        if (!reply || sd_bus_message_read(reply.get(), "b", &value) <= 0) return std::nullopt;
        return value != 0;
    }

    std::optional<std::vector<std::string>> Paths(const char* path, const char* iface, const char* name) {
        const Message reply = Property(path, iface, name, "ao");
        if (!reply) return std::nullopt;
        return ReadPaths(reply.get());
    }

    // Every profile the manager holds, with its settings; nothing when the
    // manager does not answer.
    std::optional<std::vector<Profile>> Profiles() {
        BusError error;
        const Message list = Call(kSettingsPath, kSettingsIface, "ListConnections", error);
        if (!list) return std::nullopt;
        const std::optional<std::vector<std::string>> paths = ReadPaths(list.get());
        if (!paths) return std::nullopt;
        std::vector<Profile> profiles;
        for (const std::string& path : *paths) {
            BusError settingsError;
            const Message settings = Call(path.c_str(), kProfileIface, "GetSettings", settingsError);
            Profile profile;
            profile.path = path;
            // A profile removed meanwhile, or one that cannot be read, is
            // one that cannot be dialed.
            if (settings && ReadProfile(settings.get(), profile)) profiles.push_back(std::move(profile));
        }
        return profiles;
    }

private:
    explicit Bus(BusPtr bus)
        : FBus(std::move(bus)),
          FDeadline(Clock::now() + std::chrono::milliseconds(Timeouts::kDefaultConnect)) {}

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
    if (reply || error.Is("org.freedesktop.NetworkManager.ConnectionNotActive")) return ERROR_SUCCESS;
    return kErrorNoManager;
}

// Whether a device of the active connection waits for secrets.
bool WaitsForSecrets(Bus& bus, const std::string& active) {
    const auto devices = bus.Paths(active.c_str(), kActiveIface, "Devices");
    if (!devices) return false;
    for (const std::string& device : *devices) {
        if (bus.UInt(device.c_str(), kDeviceIface, "State") == kDeviceNeedAuth) return true;
    }
    return false;
}

// Activates `profile` on whatever device the manager picks and follows the
// activation until it is up (its path in `*active`), has failed, or the
// time is up. An unattended caller is not kept waiting for secrets the
// manager asks its agents for: that activation is withdrawn.
DWORD Activate(Bus& bus, const std::string& profile, bool unattended, std::string* active) {
    BusError error;
    const Message reply = bus.Call(
        kManagerPath, kManagerIface, "ActivateConnection", error,
        [&](sd_bus_message* m) { return sd_bus_message_append(m, "ooo", profile.c_str(), "/", "/") >= 0; });
    if (!reply) {
        if (error.Is(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.Is(SD_BUS_ERROR_NAME_HAS_NO_OWNER))
            return kErrorNoManager;
        return kErrorActivationRefused;
    }
    const char* path = nullptr;
    if (sd_bus_message_read(reply.get(), "o", &path) <= 0) return kErrorActivationRefused;
    const std::string started(path);
    for (;;) {
        // An active connection that is gone has failed: the manager removes
        // it once it is deactivated.
        const std::optional<std::uint32_t> state = bus.UInt(started.c_str(), kActiveIface, "State");
        if (state == kActiveActivated) {
            *active = started;
            return ERROR_SUCCESS;
        }
        if (!state || *state == kActiveDeactivated) return kErrorDisconnected;
        if (unattended && WaitsForSecrets(bus, started)) {
            Deactivate(bus, started);
            return kErrorNeedsInteraction;
        }
        if (bus.Expired()) {
            Deactivate(bus, started);
            return kErrorDisconnected;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

// The numbers Dial gives out, each naming an active connection's path.
// Numbers are never used twice in a process, so a stale number cannot hang
// up a later connection.
class Dialed {
public:
    static Dialed& Process() {
        static Dialed table;
        return table;
    }

    DWORD_PTR Add(const std::string& path) {
        const std::lock_guard lock(FMutex);
        const DWORD_PTR number = ++FLast;
        FPaths.emplace(number, path);
        return number;
    }

    std::optional<std::string> Find(DWORD_PTR number) {
        const std::lock_guard lock(FMutex);
        const auto found = FPaths.find(number);
        if (found == FPaths.end()) return std::nullopt;
        return found->second;
    }

    void Remove(DWORD_PTR number) {
        const std::lock_guard lock(FMutex);
        FPaths.erase(number);
    }

private:
    std::mutex FMutex;
    DWORD_PTR FLast = 0;
    std::map<DWORD_PTR, std::string> FPaths;
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

bool EnableNetworking(Bus& bus, bool enable) {
    BusError error;
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

DWORD DialProfile(const std::u16string& name, DWORD flags, DWORD_PTR* connection) {
    if (name.empty()) return kErrorUnknownEntry;
    std::optional<Bus> bus = Bus::Open();
    if (!bus) return kErrorNoManager;
    const std::optional<std::vector<Profile>> profiles = bus->Profiles();
    if (!profiles) return kErrorNoManager;
    // Profile ids are UTF-8 on the bus.
    const std::string wanted = Utf16ToUtf8(name);
    const Profile* chosen = nullptr;
    for (const Profile& profile : *profiles) {
        if (profile.id == wanted) {
            chosen = &profile;
            break;
        }
    }
    if (!chosen) return kErrorUnknownEntry;
    std::string active;
    const DWORD outcome = Activate(*bus, chosen->path, (flags & INTERNET_DIAL_UNATTENDED) != 0, &active);
    if (outcome != ERROR_SUCCESS) return outcome;
    *connection = Dialed::Process().Add(active);
    return ERROR_SUCCESS;
}

DWORD HangUpNumber(DWORD_PTR connection) {
    const std::optional<std::string> active = Dialed::Process().Find(connection);
    if (!active) return kErrorInvalidConnection;
    std::optional<Bus> bus = Bus::Open();
    if (!bus) return kErrorNoManager;
    const DWORD outcome = Deactivate(*bus, *active);
    if (outcome == ERROR_SUCCESS) Dialed::Process().Remove(connection);
    return outcome;
}

DWORD AutoDialUp(DWORD flags) {
    AutoDialed& state = AutoDialed::Process();
    const std::lock_guard lock(state.mutex);
    std::optional<Bus> bus = Bus::Open();
    if (!bus) return kErrorNoManager;
    const std::optional<bool> enabled = bus->Bool(kManagerPath, kManagerIface, "NetworkingEnabled");
    if (!enabled) return kErrorNoManager;
    if (!*enabled) {
        if (!EnableNetworking(*bus, true)) return kErrorActivationRefused;
        state.enabledNetworking = true;
    }
    const auto actives = bus->Paths(kManagerPath, kManagerIface, "ActiveConnections");
    if (!actives) return kErrorNoManager;
    if (!actives->empty()) return ERROR_SUCCESS;
    const std::optional<std::vector<Profile>> profiles = bus->Profiles();
    if (!profiles) return kErrorNoManager;
    const Profile* preferred = Preferred(*profiles);
    if (!preferred) return kErrorUnknownEntry;
    std::string active;
    const DWORD outcome =
        Activate(*bus, preferred->path, (flags & INTERNET_AUTODIAL_FORCE_UNATTENDED) != 0, &active);
    if (outcome == ERROR_SUCCESS) state.active = active;
    return outcome;
}

DWORD AutoDialDown() {
    AutoDialed& state = AutoDialed::Process();
    const std::lock_guard lock(state.mutex);
    if (state.active.empty() && !state.enabledNetworking) return ERROR_SUCCESS;
    std::optional<Bus> bus = Bus::Open();
    if (!bus) return kErrorNoManager;
    if (!state.active.empty()) {
        const DWORD outcome = Deactivate(*bus, state.active);
        if (outcome != ERROR_SUCCESS) return outcome;
        state.active.clear();
    }
    if (state.enabledNetworking) {
        if (!EnableNetworking(*bus, false)) return kErrorNoManager;
        state.enabledNetworking = false;
    }
    return ERROR_SUCCESS;
}

}  // namespace

Presence Query() {
    try {
        std::optional<Bus> bus = Bus::Open();
        if (!bus) return {};
        // GetPermissions answers whether this caller may control the
        // network; a manager that says "no" cannot dial for it.
        BusError error;
        const Message permissions = bus->Call(kManagerPath, kManagerIface, "GetPermissions", error);
        if (!permissions) return {};
        Presence presence;
        presence.reachable = true;
        if (sd_bus_message_enter_container(permissions.get(), 'a', "{ss}") > 0) {
            const char* name = nullptr;
            const char* answer = nullptr;
            while (sd_bus_message_read(permissions.get(), "{ss}", &name, &answer) > 0) {
                if (std::strcmp(name, "org.freedesktop.NetworkManager.network-control") == 0 &&
                    std::strcmp(answer, "no") == 0)
                    presence.reachable = false;
            }
        }
        BusError listError;
        const Message list = bus->Call(kSettingsPath, kSettingsIface, "ListConnections", listError);
        if (list && sd_bus_message_enter_container(list.get(), 'a', "o") > 0) {
            const char* path = nullptr;
            presence.configured = sd_bus_message_read(list.get(), "o", &path) > 0;
        }
        return presence;
    } catch (...) {
        return {};
    }
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
