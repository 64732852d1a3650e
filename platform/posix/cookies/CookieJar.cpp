// RFC 6265 cookie storage and retrieval, in memory and in the user's file.
#include "posix/cookies/CookieJar.h"

#include "posix/cookies/CookieDatabase.h"
#include "posix/cookies/PublicSuffix.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <unordered_set>

namespace Corvane::Backend {

namespace {

// A persistent cookie's last-access time in the file is brought up to date
// when it is sent and the stored one is older than this: reads then seldom
// write, and eviction still knows which cookies are in use.
constexpr std::int64_t kTouchInterval = 60;

bool SameCookie(const Cookie& a, const Cookie& b) {
    return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

bool Within(const Cookie& c, const std::string& host, std::string_view path, const CookieUrl& url,
            bool forHttp) {
    if (c.hostOnly ? host != c.domain : !CookieDomainMatch(host, c.domain)) return false;
    if (!CookiePathMatch(path, c.path)) return false;
    if (c.secure && !url.secure) return false;
    return forHttp || !c.httpOnly;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string CookieJar::CookieFilePath() {
    if (std::string file = Environment("CORVANE_COOKIE_FILE"); !file.empty()) return file;
    // XDG_DATA_HOME counts only as an absolute path.
    if (std::string data = Environment("XDG_DATA_HOME"); !data.empty() && data.front() == '/')
        return data + "/corvane/cookies.sqlite";
    if (std::string home = Environment("HOME"); !home.empty() && home.front() == '/')
        return home + "/.local/share/corvane/cookies.sqlite";
    return {};
}

CookieJar& CookieJar::Process() {
    // Never destroyed: used until the process ends.
    static CookieJar* jar = [] {
        const std::string file = CookieFilePath();
        if (!file.empty()) return new CookieJar(file);
        auto* inMemory = new CookieJar;
        inMemory->FStatus.problem = "no file for persistent cookies: HOME is not set";
        return inMemory;
    }();
    return *jar;
}

CookieJar::CookieJar() = default;

CookieJar::CookieJar(const std::string& file) {
    FStatus.file = file;
    // Two processes that make the file at once may find it busy for a
    // moment while one of them switches it to WAL mode.
    for (int attempt = 0;; ++attempt) {
        try {
            FFile = std::make_unique<CookieDatabase>(file);
            FStatus.persistent = true;
            return;
        } catch (const CookieDatabaseBusy& busy) {
            if (attempt == 2) {
                FStatus.problem = busy.what();
                return;
            }
        } catch (const CookieDatabaseError& error) {
            FStatus.problem = error.what();
            return;
        }
    }
}

CookieJar::~CookieJar() = default;

void CookieJar::LoseFile(const std::exception& why) {
    FFile.reset();
    FStatus.persistent = false;
    FStatus.problem = why.what();
}

CookieVerdict CookieJar::Offer(const CookieUrl& url, std::string_view setCookie, bool fromHttp,
                               std::int64_t now) {
    Cookie cookie;
    const CookieVerdict verdict = ParseSetCookie(url, setCookie, fromHttp, now, &cookie);
    if (verdict != CookieVerdict::kStored) return verdict;
    std::lock_guard<std::mutex> lock(FMutex);
    return Store(std::move(cookie), fromHttp, now);
}

// Enters a parsed cookie: it replaces the one of the same name, domain and
// path (keeping that one's creation time), in memory or in the file; an
// expired one only removes. Persistent cookies go to the file, session ones
// (and all of them when there is no file) to memory.
CookieVerdict CookieJar::Store(Cookie cookie, bool fromHttp, std::int64_t now) {
    const std::string key = CookieKey(cookie.domain);
    Bucket& bucket = FMemory[key];
    // No key is left with an empty bucket, whatever the outcome.
    struct Tidy {
        std::unordered_map<std::string, Bucket>& memory;
        const std::string& key;
        ~Tidy() {
            if (const auto it = memory.find(key); it != memory.end() && it->second.empty()) memory.erase(it);
        }
    } const tidy{FMemory, key};
    const auto same =
        std::find_if(bucket.begin(), bucket.end(), [&](const Cookie& c) { return SameCookie(c, cookie); });
    if (same != bucket.end()) {
        if (same->httpOnly && !fromHttp) return CookieVerdict::kHttpOnly;
        cookie.creation = same->creation;
        cookie.sequence = same->sequence;
    }
    const bool alive = cookie.expiry > now;
    bool inFile = false;
    if (FFile) {
        bool refused = false;
        try {
            FFile->Change([&] {
                Cookie old;
                if (FFile->Find(key, cookie, &old)) {
                    if (old.httpOnly && !fromHttp) {
                        refused = true;
                        return;
                    }
                    if (std::tie(old.creation, old.sequence) < std::tie(cookie.creation, cookie.sequence)) {
                        cookie.creation = old.creation;
                        cookie.sequence = old.sequence;
                    }
                }
                FFile->Remove(key, cookie, now);
                if (!alive || !cookie.persistent) return;
                FFile->Put(key, cookie);
                inFile = true;
                Evict(key, FFile->Count(key));
            });
        } catch (const CookieDatabaseBusy&) {
            // Kept in memory instead, the cookie could shadow or outlive what
            // the file holds (a deletion that did not happen there, an
            // HttpOnly cookie the check could not see): nothing changes.
            return CookieVerdict::kBusy;
        } catch (const CookieDatabaseError& error) {
            LoseFile(error);
            inFile = false;
        }
        if (refused) return CookieVerdict::kHttpOnly;
    }
    if (same != bucket.end()) bucket.erase(same);
    if (alive && !inFile) {
        bucket.push_back(std::move(cookie));
        Evict(key);
    }
    return CookieVerdict::kStored;
}

// Keeps a key's cookies in memory within the limit: the least recently used
// go first.
void CookieJar::Evict(const std::string& key) {
    Bucket& bucket = FMemory[key];
    while (bucket.size() > kMaxPerDomain)
        bucket.erase(std::min_element(bucket.begin(), bucket.end(), [](const Cookie& a, const Cookie& b) {
            return a.lastAccess < b.lastAccess;
        }));
}

// The same in the file, inside a change that left `inFile` cookies there.
void CookieJar::Evict(const std::string& key, std::size_t inFile) {
    for (; inFile > kMaxPerDomain; --inFile) {
        Cookie oldest;
        if (!FFile->Oldest(key, &oldest)) break;
        FFile->Remove(key, oldest, 0);
    }
}

// The key's unexpired cookies in the file; none when the file cannot be
// read now.
std::vector<Cookie> CookieJar::FileCookies(const std::string& key, std::int64_t now) {
    if (!FFile) return {};
    try {
        return FFile->Load(key, now);
    } catch (const CookieDatabaseBusy&) {
    } catch (const CookieDatabaseError& error) {
        LoseFile(error);
    }
    return {};
}

std::vector<Cookie> CookieJar::Matching(const CookieUrl& url, bool forHttp, std::int64_t now) {
    const std::string host = CanonicalCookieHost(url.host);
    const std::string_view path = url.path.empty() ? std::string_view("/") : std::string_view(url.path);
    const std::string key = CookieKey(host);
    std::vector<Cookie> out;
    std::lock_guard<std::mutex> lock(FMutex);
    if (const auto found = FMemory.find(key); found != FMemory.end()) {
        Bucket& bucket = found->second;
        std::erase_if(bucket, [now](const Cookie& c) { return c.expiry <= now; });
        for (Cookie& c : bucket) {
            if (!Within(c, host, path, url, forHttp)) continue;
            c.lastAccess = now;
            out.push_back(c);
        }
        if (bucket.empty()) FMemory.erase(found);
    }
    std::vector<Cookie> stale;
    for (Cookie& c : FileCookies(key, now)) {
        if (!Within(c, host, path, url, forHttp)) continue;
        if (c.lastAccess < now - kTouchInterval) stale.push_back(c);
        c.lastAccess = now;
        out.push_back(std::move(c));
    }
    if (!stale.empty() && FFile) {
        try {
            FFile->Change([&] { FFile->Touch(key, stale, now); });
        } catch (const CookieDatabaseBusy&) {
            // Only the last-access times wait for the next read.
        } catch (const CookieDatabaseError& error) {
            LoseFile(error);
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Cookie& a, const Cookie& b) {
        if (a.path.size() != b.path.size()) return a.path.size() > b.path.size();
        return std::tie(a.creation, a.sequence) < std::tie(b.creation, b.sequence);
    });
    return out;
}

std::string CookieJar::Header(const CookieUrl& url, std::int64_t now, std::size_t* count) {
    std::string header;
    const std::vector<Cookie> cookies = Matching(url, true, now);
    for (const Cookie& c : cookies) {
        if (!header.empty()) header += "; ";
        header += c.name;
        header += '=';
        header += c.value;
    }
    if (count) *count = cookies.size();
    return header;
}

std::vector<Cookie> CookieJar::All(std::int64_t now) {
    std::lock_guard<std::mutex> lock(FMutex);
    std::vector<Cookie> out;
    if (FFile) {
        try {
            out = FFile->All(now);
        } catch (const CookieDatabaseBusy&) {
        } catch (const CookieDatabaseError& error) {
            LoseFile(error);
        }
    }
    for (auto& [key, bucket] : FMemory)
        for (const Cookie& c : bucket)
            if (c.expiry > now) out.push_back(c);
    return out;
}

void CookieJar::Insert(Cookie cookie) {
    std::vector<Cookie> one;
    one.push_back(std::move(cookie));
    Insert(std::move(one));
}

void CookieJar::Insert(std::vector<Cookie> cookies) {
    std::lock_guard<std::mutex> lock(FMutex);
    std::unordered_set<std::string> keys;
    if (FFile) {
        try {
            FFile->Change([&] {
                for (Cookie& c : cookies) {
                    if (!c.persistent) continue;
                    const std::string key = CookieKey(c.domain);
                    FFile->Put(key, c);
                    keys.insert(key);
                }
                for (const std::string& key : keys) Evict(key, FFile->Count(key));
            });
            std::erase_if(cookies, [](const Cookie& c) { return c.persistent; });
        } catch (const CookieDatabaseBusy&) {
        } catch (const CookieDatabaseError& error) {
            LoseFile(error);
        }
    }
    keys.clear();
    for (Cookie& c : cookies) {
        std::string key = CookieKey(c.domain);
        Bucket& bucket = FMemory[key];
        std::erase_if(bucket, [&](const Cookie& stored) { return SameCookie(stored, c); });
        bucket.push_back(std::move(c));
        keys.insert(std::move(key));
    }
    for (const std::string& key : keys) Evict(key);
}

void CookieJar::Clear() {
    std::lock_guard<std::mutex> lock(FMutex);
    FMemory.clear();
    if (!FFile) return;
    try {
        FFile->Change([&] { FFile->Clear(); });
    } catch (const CookieDatabaseError& error) {
        LoseFile(error);
    }
}

CookieJarStatus CookieJar::Status() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FStatus;
}

}  // namespace Corvane::Backend
