// Memory running out at any point of an exchange, in the backend or inside
// libcurl (its memory functions are this program's): the Nth allocation of
// the exchange fails, for N = 1, 2, ... until one falls past its end. Each
// time no exception escapes (a libcurl callback ends its transfer the way
// libcurl expects), no handle stays open, nothing leaks (AddressSanitizer),
// and an exchange that succeeds all the same sent every header it was given.
#include "HttpTestSupport.h"

#include "posix/handles/Handle.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <new>

using namespace HttpTest;

namespace {

// Allocations on the test's thread count down while armed; the one that
// reaches zero fails.
thread_local long Countdown = 0;
thread_local bool Failed = false;

bool FailNow() {
    if (Countdown <= 0 || --Countdown > 0) return false;
    Failed = true;
    return true;
}

void* Allocate(std::size_t size) { return FailNow() ? nullptr : std::malloc(size ? size : 1); }
void* CurlRealloc(void* p, std::size_t size) { return FailNow() ? nullptr : std::realloc(p, size); }
void* CurlCalloc(std::size_t count, std::size_t size) { return FailNow() ? nullptr : std::calloc(count, size); }
char* CurlStrdup(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    void* copy = Allocate(size);
    return copy ? static_cast<char*>(std::memcpy(copy, text, size)) : nullptr;
}
void CurlFree(void* p) { std::free(p); }

// Before main, so before the backend's own curl_global_init.
const bool CurlMemoryInstalled =
    curl_global_init_mem(CURL_GLOBAL_DEFAULT, &Allocate, &CurlFree, &CurlRealloc, &CurlStrdup, &CurlCalloc) ==
    CURLE_OK;

// The body to its end, or false with the last error set.
bool ReadQuietly(HINTERNET request, std::string& body) {
    char buffer[4096];
    DWORD read = 0;
    while (InternetReadFile(request, buffer, sizeof(buffer), &read)) {
        if (read == 0) return true;
        body.append(buffer, read);
    }
    return false;
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

TEST(MemoryFailures, AnExchangeSurvivesMemoryRunningOutAnywhere) {
    ASSERT_TRUE(CurlMemoryInstalled);
    const Handle session = OpenSession();
    ASSERT_TRUE(session);
    const Server echo = Echo();
    const std::size_t open = Corvane::Backend::HandleTable::OpenCount();
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 50000) << "the exchange never got through";
        std::string echoed;
        bool ok = false;
        DWORD error = 0;
        Failed = false;
        Countdown = n;
        bool ownFailure = false;  // an allocation of this test's own code
        try {
            const Handle connection = Connect(session.get(), echo);
            const Handle request = connection ? Open(connection.get(), u"POST", u"/echo") : Handle();
            ok = request &&
                 HttpAddRequestHeadersW(request.get(), W(u"X-Check: kept"), static_cast<DWORD>(-1),
                                        HTTP_ADDREQ_FLAG_ADD) &&
                 Send(request.get(), "payload") && ReadQuietly(request.get(), echoed);
            error = ok ? 0 : GetLastError();
        } catch (const std::bad_alloc&) {
            ownFailure = true;
        }
        Countdown = 0;
        SCOPED_TRACE("allocation " + std::to_string(n) + " failed: " + (Failed ? "yes" : "no"));
        EXPECT_EQ(Corvane::Backend::HandleTable::OpenCount(), open);
        if (ownFailure) continue;
        if (ok) {
            EXPECT_NE(echoed.find("\r\nX-Check: kept\r\n"), std::string::npos) << echoed;
            EXPECT_TRUE(echoed.ends_with("\r\n\r\npayload")) << echoed;
        } else {
            EXPECT_NE(error, 0u);
        }
        if (!Failed) {
            EXPECT_TRUE(ok) << "an exchange with memory to spare failed: " << error;
            break;
        }
    }
}
