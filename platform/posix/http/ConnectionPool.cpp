// The process's kept-alive HTTP connections, one multi handle per key.
#include "posix/http/ConnectionPool.h"

#include "posix/handles/Options.h"

#include <chrono>
#include <memory>
#include <new>

namespace Corvane::Backend {

namespace {

// Adds a field to a key: its length first, so no text can pass for two
// fields.
void AddField(std::string& key, std::string_view field) {
    key += std::to_string(field.size());
    key += ':';
    key += field;
}

}  // namespace

ConnectionPool& ConnectionPool::Process() {
    static ConnectionPool* const pool = new ConnectionPool();
    return *pool;
}

std::shared_ptr<TransferGroup> ConnectionPool::Group(const HopConfig& hop, DWORD ignoreFlags) {
    const long limit = static_cast<long>(MaxConnectionsPerServer());
    std::string key;
    // Every hop's URL was read with its origin (HttpRequest::StartHop).
    if (!hop.origin) return nullptr;
    AddField(key, hop.origin->scheme);
    AddField(key, hop.origin->host);
    AddField(key, hop.origin->port);
    AddField(key, hop.proxy);
    AddField(key, std::to_string(ignoreFlags));
    AddField(key, hop.useCredentials ? hop.user : std::string());
    AddField(key, hop.useCredentials ? hop.password : std::string());
    // A tunnel through a proxy is opened with the proxy's credentials: one
    // made with others is not this request's to use.
    AddField(key, hop.proxyUser);
    AddField(key, hop.proxyPassword);
    AddField(key, std::to_string(limit));

    std::vector<std::shared_ptr<TransferGroup>> dropped;  // closed outside the lock
    std::lock_guard<std::mutex> lock(FMutex);
    DropIdle(dropped);
    if (const auto it = FGroups.find(key); it != FGroups.end()) {
        if (!it->second->IsSpoiled()) return it->second;
        dropped.push_back(std::move(it->second));
        FGroups.erase(it);
    }
    auto group = std::make_shared<TransferGroup>(ignoreFlags, limit);
    if (!group->IsValid()) throw std::bad_alloc();
    FGroups.emplace(std::move(key), group);
    return group;
}

// Moves the entries no request has used for TransferGroup::kIdleSeconds out
// of the pool; a request that holds one still may finish with it.
void ConnectionPool::DropIdle(std::vector<std::shared_ptr<TransferGroup>>& dropped) {
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastSweep < std::chrono::seconds(1)) return;
    FLastSweep = now;
    const auto since = now - std::chrono::seconds(TransferGroup::kIdleSeconds);
    for (auto it = FGroups.begin(); it != FGroups.end();) {
        if (it->second->IdleSince(since)) {
            dropped.push_back(std::move(it->second));
            it = FGroups.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace Corvane::Backend
