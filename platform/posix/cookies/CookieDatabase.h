// The file that keeps persistent cookies across processes: an SQLite
// database shared by every process of the user at once.
//
// WAL mode and a busy timeout let processes read while one writes; each
// change is one IMMEDIATE transaction, so concurrent writers wait for each
// other instead of losing changes. Rows are filed under the cookie's key
// (its registrable domain, see PublicSuffix.h) and kept in key order, so the
// cookies a URL may get are one range of the table whatever else it holds.
//
// A read of a key's rows is kept for the next read of the same key, which
// returns it again as long as no transaction was committed to the file
// since (by any process): the header of the WAL index, which every commit
// rewrites, is read from SQLite's mapping of it without a lock and compared
// with the one read before the kept rows were. A request's cookie lookup
// then costs no transaction.
//
// Not thread-safe: the jar calls it with its own lock held.
#pragma once

#include "posix/cookies/CookieJar.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace Corvane::Backend {

/// The database cannot be used (corrupt, of a newer schema, unwritable, ...);
/// the jar goes on in memory.
class CookieDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Another process held the database for longer than the busy timeout; the
/// database is fine, this one change did not reach it.
class CookieDatabaseBusy : public CookieDatabaseError {
public:
    using CookieDatabaseError::CookieDatabaseError;
};

class CookieDatabase {
public:
    /// The schema this build reads and writes (PRAGMA user_version). A file
    /// of an older version is migrated when opened, one of a newer one is
    /// refused.
    static constexpr int kSchemaVersion = 1;

    /// Opens (creating the file and its folder if needed) and migrates;
    /// throws CookieDatabaseError when the file cannot serve as the store.
    explicit CookieDatabase(const std::string& path);
    ~CookieDatabase();
    CookieDatabase(const CookieDatabase&) = delete;
    CookieDatabase& operator=(const CookieDatabase&) = delete;

    /// The unexpired cookies filed under `key` (from the kept read when
    /// nothing was committed since).
    std::vector<Cookie> Load(const std::string& key, std::int64_t now);

    /// Every unexpired cookie.
    std::vector<Cookie> All(std::int64_t now);

    /// One change as one transaction: the caller's steps run between BEGIN
    /// IMMEDIATE and COMMIT, and are rolled back if they throw.
    template <typename Steps>
    void Change(Steps&& steps) {
        Begin();
        try {
            steps();
            Commit();
        } catch (...) {
            Rollback();
            throw;
        }
    }

    /// Inside Change: the stored cookie of that name, domain and path.
    bool Find(const std::string& key, const Cookie& like, Cookie* found);
    /// Inside Change: removes the cookie of that name, domain and path, and
    /// the expired cookies of the key.
    void Remove(const std::string& key, const Cookie& like, std::int64_t now);
    /// Inside Change: stores a cookie (replacing one of its name, domain and
    /// path).
    void Put(const std::string& key, const Cookie& cookie);
    /// Inside Change: how many cookies the key holds, and the least recently
    /// used of them.
    std::size_t Count(const std::string& key);
    bool Oldest(const std::string& key, Cookie* oldest);
    /// Inside Change: sets the last-access time of the cookies.
    void Touch(const std::string& key, const std::vector<Cookie>& cookies, std::int64_t now);
    /// Inside Change: removes every cookie.
    void Clear();

private:
    class Statement;

    void Close() noexcept;
    void Exec(const char* sql);
    // The file's schema version; throws when it is newer than ours or invalid.
    std::int64_t CheckVersion();
    void Migrate();
    void Begin();
    void Commit();
    void Rollback() noexcept;
    [[noreturn]] void Throw(int code, const char* what);

    // The WAL index's header as it stands (false when it cannot be read
    // consistent, or the file is not in WAL mode).
    using CommitMark = std::array<unsigned char, 48>;
    bool ReadCommitMark(CommitMark& mark) const;

    sqlite3* FDb = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> FStatements;
    // The file is in WAL mode (else no read is kept).
    bool FWal = false;
    // The last Load: its key, time, rows and the commit mark read before it.
    struct Kept {
        bool valid = false;
        std::string key;
        std::int64_t now = 0;
        CommitMark mark{};
        std::vector<Cookie> rows;
    } FKept;
};

}  // namespace Corvane::Backend
