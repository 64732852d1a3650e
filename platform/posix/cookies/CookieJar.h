// The process's cookie jar: RFC 6265 storage and retrieval of cookies, shared
// by the HTTP requests of every session and the cookie functions.
//
// The jar works on raw bytes (cookie names and values are never converted)
// and explicit times (seconds since 1970, UTC), so that callers decide what
// "now" is. It is safe to use from several threads.
//
// Cookies are filed by key, the registrable domain of their domain
// (PublicSuffix.h): the cookies a URL may get all share its host's key, so a
// lookup touches one key's cookies however many the jar holds. Session
// cookies live in the process; persistent ones (Expires or Max-Age) in the
// database file when the jar has one (CookieDatabase.h), which every
// process of the user shares: a lookup reads the key's rows from the file
// each time, so it sees what other processes stored. When the file cannot
// be used (corrupt, of a newer schema, unwritable, or a change fails later)
// the jar keeps every cookie in memory from then on and says why in
// Status().
#pragma once

#include "posix/cookies/Cookie.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Corvane::Backend {

/// Whether the jar keeps persistent cookies in its file.
struct CookieJarStatus {
    /// The database file; empty for a jar kept in memory by design.
    std::string file;
    bool persistent = false;
    /// Why the file is not (or no longer) in use.
    std::string problem;
};

class CookieDatabase;

class CookieJar {
public:
    /// At most this many cookies per key (registrable domain); the least
    /// recently used go first.
    static constexpr std::size_t kMaxPerDomain = 180;

    /// The jar every HTTP request and cookie function of the process uses,
    /// with the database file CookieFilePath() names (opened at first use).
    static CookieJar& Process();

    /// The database file of the process's jar: $CORVANE_COOKIE_FILE, else
    /// $XDG_DATA_HOME/corvane/cookies.sqlite, else
    /// ~/.local/share/corvane/cookies.sqlite; empty when none can be named.
    static std::string CookieFilePath();

    /// A jar kept in memory only.
    CookieJar();
    /// A jar whose persistent cookies are in `file` (created if missing);
    /// in memory only when the file cannot be used.
    explicit CookieJar(const std::string& file);
    ~CookieJar();
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    /// Parses one Set-Cookie value received from `url` and stores it (or
    /// removes the cookie it replaces when it has already expired).
    CookieVerdict Offer(const CookieUrl& url, std::string_view setCookie, bool fromHttp, std::int64_t now);
    /// Offer, true when stored.
    bool Set(const CookieUrl& url, std::string_view setCookie, bool fromHttp, std::int64_t now) {
        return Offer(url, setCookie, fromHttp, now) == CookieVerdict::kStored;
    }

    /// The cookies `url` gets, in the order they are sent: longer paths first,
    /// then older ones first. Updates their last-access time. HttpOnly
    /// cookies only when `forHttp`.
    std::vector<Cookie> Matching(const CookieUrl& url, bool forHttp, std::int64_t now);

    /// The Cookie request header value for `url` ("a=1; b=2"); empty when
    /// there is none. `count` receives the number of cookies in it.
    std::string Header(const CookieUrl& url, std::int64_t now, std::size_t* count = nullptr);

    /// Every unexpired cookie.
    std::vector<Cookie> All(std::int64_t now);

    /// Stores whole records (loading saved cookies), as one change of the
    /// file: each replaces one of the same name, domain and path.
    void Insert(std::vector<Cookie> cookies);
    void Insert(Cookie cookie);

    /// Removes every cookie, the file's included.
    void Clear();

    CookieJarStatus Status();

private:
    using Bucket = std::vector<Cookie>;

    CookieVerdict Store(Cookie cookie, bool fromHttp, std::int64_t now);
    void Evict(const std::string& key);
    void Evict(const std::string& key, std::size_t inFile);
    std::vector<Cookie> FileCookies(const std::string& key, std::int64_t now);
    void LoseFile(const std::exception& why);

    std::mutex FMutex;
    // Cookies not in the file (session ones, or all when there is no file),
    // by key.
    std::unordered_map<std::string, Bucket> FMemory;
    std::unique_ptr<CookieDatabase> FFile;
    CookieJarStatus FStatus;
};

}  // namespace Corvane::Backend
