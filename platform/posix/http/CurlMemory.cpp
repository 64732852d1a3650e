// libcurl's memory functions: the C library's, except that an armed fault
// plan can make one of them fail.
#include "posix/http/CurlMemory.h"

#include "posix/errors/FaultInjection.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace Corvane::Backend {

namespace {

using FaultInjection::Hit;

void* CurlMalloc(std::size_t size) {
    return Hit(FaultInjection::Curl) ? nullptr : std::malloc(size);
}

void CurlFree(void* block) {
    std::free(block);
}

void* CurlRealloc(void* block, std::size_t size) {
    return Hit(FaultInjection::Curl) ? nullptr : std::realloc(block, size);
}

char* CurlStrdup(const char* text) {
    if (Hit(FaultInjection::Curl)) return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

void* CurlCalloc(std::size_t count, std::size_t size) {
    return Hit(FaultInjection::Curl) ? nullptr : std::calloc(count, size);
}

}  // namespace

// In a libcurl built with several TLS libraries, OpenSSL is chosen before
// the initialisation (the certificate checks are written for it); when the
// process has chosen another already, TlsLibraryUsable says so.
void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_sslset(CURLSSLBACKEND_OPENSSL, nullptr, nullptr);
        curl_global_init_mem(CURL_GLOBAL_DEFAULT, &CurlMalloc, &CurlFree, &CurlRealloc, &CurlStrdup,
                             &CurlCalloc);
    });
}

}  // namespace Corvane::Backend
