// Persistent cookies in SQLite.
#include "posix/cookies/CookieDatabase.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace Corvane::Backend {

namespace {

// How long a change waits for another process's transaction to end.
constexpr int kBusyTimeoutMs = 5000;

// Each step takes a file of version N to N + 1 (the first creates the
// table). A new schema adds its step here and raises kSchemaVersion.
constexpr const char* kMigrations[] = {
    // Names, values and paths are bytes as received, hence BLOBs; the key
    // leads the primary key so a key's cookies are one range of the table.
    "CREATE TABLE cookies ("
    " key TEXT NOT NULL, domain TEXT NOT NULL, path BLOB NOT NULL, name BLOB NOT NULL,"
    " value BLOB NOT NULL, expiry INTEGER NOT NULL, creation INTEGER NOT NULL, sequence INTEGER NOT NULL,"
    " last_access INTEGER NOT NULL, host_only INTEGER NOT NULL, secure INTEGER NOT NULL,"
    " http_only INTEGER NOT NULL, same_site TEXT NOT NULL,"
    " PRIMARY KEY (key, domain, path, name)) WITHOUT ROWID",
};
static_assert(std::size(kMigrations) == CookieDatabase::kSchemaVersion);

constexpr const char* kColumns =
    "domain, path, name, value, expiry, creation, sequence, last_access, host_only, secure, http_only, "
    "same_site";

// Makes the folders leading to `path` (0700: cookies are the user's alone).
void MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != path.npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            throw CookieDatabaseError("cannot create " + folder);
    }
}

}  // namespace

// A prepared statement from the connection's cache (each text is prepared
// once), reset and unbound when it goes out of scope.
class CookieDatabase::Statement {
public:
    Statement(CookieDatabase& db, const std::string& sql) : FOwner(db) {
        sqlite3_stmt*& cached = db.FStatements[sql];
        if (!cached) {
            const int rc = sqlite3_prepare_v3(db.FDb, sql.c_str(), static_cast<int>(sql.size()),
                                              SQLITE_PREPARE_PERSISTENT, &cached, nullptr);
            if (rc != SQLITE_OK) db.Throw(rc, "prepare");
        }
        FStmt = cached;
    }
    ~Statement() { Reset(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Reset() {
        sqlite3_reset(FStmt);
        sqlite3_clear_bindings(FStmt);
    }
    Statement& Bind(int index, std::string_view bytes) {
        Check(sqlite3_bind_blob64(FStmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& BindText(int index, std::string_view text) {
        Check(sqlite3_bind_text64(FStmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(FStmt, index, value));
        return *this;
    }
    /// One step: true while it gives a row.
    bool Step() {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) FOwner.Throw(rc, "step");
        return false;
    }
    std::string Bytes(int column) const {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(FStmt, column));
        const int size = sqlite3_column_bytes(FStmt, column);
        return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(FStmt, column); }

    /// The row as a cookie, the columns in kColumns' order from `first`.
    Cookie Row(int first = 0) const {
        Cookie c;
        c.domain = Bytes(first);
        c.path = Bytes(first + 1);
        c.name = Bytes(first + 2);
        c.value = Bytes(first + 3);
        c.expiry = Int(first + 4);
        c.creation = Int(first + 5);
        c.sequence = Int(first + 6);
        c.lastAccess = Int(first + 7);
        c.hostOnly = Int(first + 8) != 0;
        c.secure = Int(first + 9) != 0;
        c.httpOnly = Int(first + 10) != 0;
        c.sameSite = Bytes(first + 11);
        c.persistent = true;
        return c;
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) FOwner.Throw(rc, "bind");
    }

    CookieDatabase& FOwner;
    sqlite3_stmt* FStmt = nullptr;
};

CookieDatabase::CookieDatabase(const std::string& path) {
    MakeFolders(path);
    // A new file is the user's alone (SQLite gives its journal files the
    // same permissions). It is made without a descriptor: closing one would
    // drop every lock this process holds on the file, such as those of
    // another connection of the process to the store. An existing file (or
    // a link) is left as it is.
    ::mknod(path.c_str(), S_IFREG | 0600, 0);
    const int rc = sqlite3_open_v2(
        path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    try {
        if (rc != SQLITE_OK) Throw(rc, "open");
        // A file the user may not write opens read-only without an error.
        if (sqlite3_db_readonly(FDb, "main") == 1)
            throw CookieDatabaseError("cookie database: " + path + " is read-only");
        sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
        // A file that is not a database, or of a newer schema, shows itself
        // here, at the first read, before anything in it changes.
        CheckVersion();
        {
            Statement mode(*this, "PRAGMA journal_mode=WAL");
            FWal = mode.Step() && mode.Bytes(0) == "wal";
        }
        Exec("PRAGMA synchronous=NORMAL");
        Migrate();
    } catch (...) {
        Close();
        throw;
    }
}

CookieDatabase::~CookieDatabase() {
    Close();
}

void CookieDatabase::Close() noexcept {
    for (auto& [sql, statement] : FStatements) sqlite3_finalize(statement);
    FStatements.clear();
    sqlite3_close(FDb);
    FDb = nullptr;
}

void CookieDatabase::Throw(int code, const char* what) {
    if (code == SQLITE_NOMEM) throw std::bad_alloc();
    std::string message = std::string("cookie database: ") + what + ": ";
    message += FDb ? sqlite3_errmsg(FDb) : sqlite3_errstr(code);
    if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) throw CookieDatabaseBusy(message);
    throw CookieDatabaseError(message);
}

void CookieDatabase::Exec(const char* sql) {
    Statement statement(*this, sql);
    while (statement.Step()) {}
}

// Brings the file to kSchemaVersion, all steps in one transaction so that a
// process that opens it meanwhile sees either version, never half of one.
std::int64_t CookieDatabase::CheckVersion() {
    Statement version(*this, "PRAGMA user_version");
    const std::int64_t found = version.Step() ? version.Int(0) : 0;
    if (found > kSchemaVersion)
        throw CookieDatabaseError("cookie database: schema version " + std::to_string(found) +
                                  " is newer than this program's (" + std::to_string(kSchemaVersion) + ")");
    if (found < 0) throw CookieDatabaseError("cookie database: invalid schema version");
    return found;
}

void CookieDatabase::Migrate() {
    Change([&] {
        const std::int64_t found = CheckVersion();
        for (auto step = found; step < kSchemaVersion; ++step) Exec(kMigrations[step]);
        if (found != kSchemaVersion) Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    });
}

// The WAL index header is two copies of 48 bytes at the start of the
// shared memory SQLite maps for the file (the -shm file), the second
// written first by a commit: equal copies are a consistent header (SQLite's
// own readers take it so). Its change counter, frame count, salts and
// checksums change with every commit, a reset of the log included. The
// region is the one SQLite's VFS has mapped for this connection: no
// descriptor of the file is opened here (closing one would drop the
// process's locks on it). The connection has read in WAL mode since it was
// opened (the constructor), so the region is mapped and the call only
// returns it.
bool CookieDatabase::ReadCommitMark(CommitMark& mark) const {
    if (!FWal) return false;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(FDb, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
        return false;
    constexpr int kWalIndexPage = 32768;
    void volatile* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, kWalIndexPage, 0, &region) != SQLITE_OK || !region) return false;
    // Word by word, as another thread or process may be writing it.
    auto* words = const_cast<std::uint32_t*>(static_cast<volatile std::uint32_t*>(region));
    constexpr std::size_t kWords = 48 / sizeof(std::uint32_t);
    std::uint32_t first[kWords], second[kWords];
    for (std::size_t i = 0; i < kWords; ++i) first[i] = __atomic_load_n(words + i, __ATOMIC_ACQUIRE);
    for (std::size_t i = 0; i < kWords; ++i)
        second[i] = __atomic_load_n(words + kWords + i, __ATOMIC_ACQUIRE);
    static_assert(sizeof first == std::tuple_size_v<CommitMark>);
    std::memcpy(mark.data(), first, mark.size());
    constexpr std::uint32_t kWalIndexVersion = 3007000;
    const bool initialised = mark[12] != 0;
    return first[0] == kWalIndexVersion && initialised && std::memcmp(first, second, sizeof first) == 0;
}

void CookieDatabase::Begin() {
    // This connection's own change: the kept read is not to be trusted
    // whatever the header says after it.
    FKept.valid = false;
    Exec("BEGIN IMMEDIATE");
}

void CookieDatabase::Commit() {
    Exec("COMMIT");
}

void CookieDatabase::Rollback() noexcept {
    if (!sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
}

// The mark is read before the rows: a commit that lands in between makes
// the next read miss, never keeps rows older than the mark says.
std::vector<Cookie> CookieDatabase::Load(const std::string& key, std::int64_t now) {
    CommitMark mark;
    const bool marked = ReadCommitMark(mark);
    std::vector<Cookie> out;
    if (marked && FKept.valid && FKept.mark == mark && FKept.key == key && now >= FKept.now) {
        for (const Cookie& c : FKept.rows)
            if (c.expiry > now) out.push_back(c);
        return out;
    }
    FKept.valid = false;
    Statement select(*this, std::string("SELECT ") + kColumns + " FROM cookies WHERE key = ? AND expiry > ?");
    select.BindText(1, key).Bind(2, now);
    while (select.Step()) out.push_back(select.Row());
    // Inside a change, rows it may yet roll back are not kept.
    if (marked && sqlite3_get_autocommit(FDb)) {
        FKept.key = key;
        FKept.now = now;
        FKept.mark = mark;
        FKept.rows = out;
        FKept.valid = true;
    }
    return out;
}

std::vector<Cookie> CookieDatabase::All(std::int64_t now) {
    Statement select(*this, std::string("SELECT ") + kColumns + " FROM cookies WHERE expiry > ?");
    select.Bind(1, now);
    std::vector<Cookie> out;
    while (select.Step()) out.push_back(select.Row());
    return out;
}

bool CookieDatabase::Find(const std::string& key, const Cookie& like, Cookie* found) {
    Statement select(*this, std::string("SELECT ") + kColumns +
                                " FROM cookies WHERE key = ? AND domain = ? AND path = ? AND name = ?");
    select.BindText(1, key).BindText(2, like.domain).Bind(3, like.path).Bind(4, like.name);
    if (!select.Step()) return false;
    *found = select.Row();
    return true;
}

void CookieDatabase::Remove(const std::string& key, const Cookie& like, std::int64_t now) {
    Statement same(*this, "DELETE FROM cookies WHERE key = ? AND domain = ? AND path = ? AND name = ?");
    same.BindText(1, key).BindText(2, like.domain).Bind(3, like.path).Bind(4, like.name).Step();
    Statement expired(*this, "DELETE FROM cookies WHERE key = ? AND expiry <= ?");
    expired.BindText(1, key).Bind(2, now).Step();
}

void CookieDatabase::Put(const std::string& key, const Cookie& c) {
    Statement insert(*this, std::string("INSERT OR REPLACE INTO cookies (key, ") + kColumns +
                                ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.BindText(1, key).BindText(2, c.domain).Bind(3, c.path).Bind(4, c.name).Bind(5, c.value);
    insert.Bind(6, c.expiry).Bind(7, c.creation).Bind(8, c.sequence).Bind(9, c.lastAccess);
    insert.Bind(10, std::int64_t{c.hostOnly});
    insert.Bind(11, std::int64_t{c.secure});
    insert.Bind(12, std::int64_t{c.httpOnly});
    insert.BindText(13, c.sameSite).Step();
}

std::size_t CookieDatabase::Count(const std::string& key) {
    Statement count(*this, "SELECT count(*) FROM cookies WHERE key = ?");
    count.BindText(1, key);
    return count.Step() ? static_cast<std::size_t>(count.Int(0)) : 0;
}

bool CookieDatabase::Oldest(const std::string& key, Cookie* oldest) {
    Statement select(*this, std::string("SELECT ") + kColumns +
                                " FROM cookies WHERE key = ? ORDER BY last_access, creation LIMIT 1");
    select.BindText(1, key);
    if (!select.Step()) return false;
    *oldest = select.Row();
    return true;
}

void CookieDatabase::Touch(const std::string& key, const std::vector<Cookie>& cookies, std::int64_t now) {
    Statement update(
        *this, "UPDATE cookies SET last_access = ? WHERE key = ? AND domain = ? AND path = ? AND name = ?");
    for (const Cookie& c : cookies) {
        update.Bind(1, now).BindText(2, key).BindText(3, c.domain).Bind(4, c.path).Bind(5, c.name).Step();
        update.Reset();
    }
}

void CookieDatabase::Clear() {
    Exec("DELETE FROM cookies");
}

}  // namespace Corvane::Backend
