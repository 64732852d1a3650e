// The HTTP component's response: header queries as text, number and date,
// and reading the body piece by piece or whole.
#include "Corvane/Http.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include <Framework/Classes.h>
#include <Platform/InternetApi.h>

#include "EnumTables.h"
#include "PlatformText.h"
#include "SizedText.h"

namespace Corvane {

namespace {

// A buffer length as the platform's 32-bit count; a larger buffer is offered
// only in part, which a read reports through its count.
DWORD BufferLength(std::size_t length) {
    return static_cast<DWORD>(std::min<std::size_t>(length, std::numeric_limits<DWORD>::max()));
}

// The information level of a named header; a value no element stands for is
// refused before it reaches the platform.
Cardinal HeaderLevel(THttpHeader header) {
    EnumTables::CheckElement(EnumTables::kHttpHeaders, header, u"THttpHeader");
    return EnumTables::ValueOf(EnumTables::kHttpHeaders, header);
}

}  // namespace

UnicodeString TCustomINetHttp::QueryInfo(Cardinal info) {
    CheckActive();
    return ReadSizedText(
        [&](char16_t* buffer, DWORD* size) {
            return Platform().HttpQueryInfoW(FHttpHandle, info, buffer, size, nullptr);
        },
        TSizedTextFailure::Check);
}

UnicodeString TCustomINetHttp::QueryInfo(THttpHeader header) {
    return QueryInfo(HeaderLevel(header));
}

// HTTP_QUERY_CUSTOM reads the header's name from the buffer and writes the
// value over it, so the buffer starts as the name and its terminator. A value
// too long for it is asked for again in a buffer of the reported size, which
// still starts with the name.
UnicodeString TCustomINetHttp::QueryInfo(const UnicodeString& headerName) {
    CheckActive();
    if (headerName.empty()) return {};
    InternetApi& api = Platform();
    UnicodeString buffer = headerName;
    buffer.push_back(u'\0');
    DWORD size = BufferLength(buffer.size() * 2);
    if (!api.HttpQueryInfoW(FHttpHandle, HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
        if (api.GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
            Check(false);
            return {};
        }
        const std::size_t characters = std::max<std::size_t>((size + 1) / 2, headerName.size() + 1);
        buffer = headerName;
        buffer.resize(characters, u'\0');
        size = BufferLength(buffer.size() * 2);
        if (!api.HttpQueryInfoW(FHttpHandle, HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
            Check(false);
            return {};
        }
    }
    buffer.resize(std::min<std::size_t>(size / 2, buffer.size()));
    return buffer;
}

Cardinal TCustomINetHttp::QueryInfoValue(Cardinal info) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!Platform().HttpQueryInfoW(FHttpHandle, info | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) {
        Check(false);
        return 0;
    }
    return value;
}

Cardinal TCustomINetHttp::QueryInfoValue(THttpHeader header) {
    return QueryInfoValue(HeaderLevel(header));
}

SYSTEMTIME TCustomINetHttp::QueryInfoSystemTime(Cardinal info) {
    SYSTEMTIME result{};
    DWORD size = sizeof(result);
    if (!Platform().HttpQueryInfoW(FHttpHandle, info | HTTP_QUERY_FLAG_SYSTEMTIME, &result, &size, nullptr)) {
        Check(false);
        return SYSTEMTIME{};
    }
    return result;
}

SYSTEMTIME TCustomINetHttp::QueryInfoSystemTime(THttpHeader header) {
    return QueryInfoSystemTime(HeaderLevel(header));
}

Cardinal TCustomINetHttp::AvailableData() {
    CheckActive();
    DWORD count = 0;
    if (!Synchronously(FHttpHandle, [&] {
            return Platform().InternetQueryDataAvailable(FHttpHandle, &count, 0, 0) != FALSE;
        })) {
        Check(false);
        return 0;
    }
    return count;
}

namespace {

// Every read of the component waits for a pending read (an asynchronous
// session): the count, and often the buffer, are the component's own.
bool ReadFile(TCustomINetHttp& http, HINTERNET request, void* buffer, DWORD length, DWORD* read) {
    return http.Synchronously(
        request, [&] { return Platform().InternetReadFile(request, buffer, length, read) != FALSE; });
}

// The next piece of the body into a fresh container of what is available now
// (at least one byte is asked for, so the end of the body reads as an empty
// piece).
template <class Container>
Container ReadPiece(TCustomINetHttp& http, HINTERNET request, Cardinal available) {
    const DWORD piece = available != 0 ? available : 1;
    Container result(piece, 0);
    DWORD read = 0;
    if (!ReadFile(http, request, result.data(), piece, &read)) {
        Check(false);
        return Container();
    }
    result.resize(std::min(read, piece));
    return result;
}

// Reads into the caller's own buffer, in place.
template <class Container>
Cardinal ReadInto(TCustomINetHttp& http, HINTERNET request, Container& buffer) {
    if (buffer.empty()) return 0;
    const DWORD length = BufferLength(buffer.size());
    DWORD read = 0;
    if (!ReadFile(http, request, buffer.data(), length, &read)) {
        Check(false);
        return 0;
    }
    return std::min(read, length);
}

// Reads the body to its end, piece by piece as GetData and GetBytes do (what
// is available now, at least one byte, until an empty piece), each piece
// straight into the end of the result. The result grows geometrically with
// what arrives, so the body is copied a bounded number of times and no
// intermediate pieces or stream are kept alongside it.
//
// The declared Content-Length (asked for first) only guides the growth: the
// first reservation is at most kFirstReserve, and while the body stays
// within the declared length each growth goes toward it by up to
// kDeclaredGrowth times what is held (all the way once that is at least
// half of it), so a large body is copied little. A response that declares
// more than it sends (HEAD, 204, 304, a lying server) thus never makes the
// result reserve more than a bounded multiple of what arrived.
constexpr std::uint64_t kFirstReserve = std::uint64_t{1} << 20;
constexpr std::uint64_t kDeclaredGrowth = 16;

template <class Container>
Container ReadWhole(TCustomINetHttp& http, HINTERNET request) {
    Container result;
    DWORD declared = 0;
    DWORD declaredSize = sizeof declared;
    // Room for the declared body and the one byte asked for to see its end.
    std::uint64_t expected = 0;
    if (Platform().HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &declared,
                                  &declaredSize, nullptr)) {
        expected = std::uint64_t{declared} + 1;
        result.reserve(static_cast<std::size_t>(std::min(expected, kFirstReserve)));
    }
    for (;;) {
        const Cardinal available = http.AvailableData();
        const DWORD piece = available != 0 ? available : 1;
        const std::size_t old = result.size();
        const std::size_t needed = old + piece;
        if (result.capacity() < needed) {
            const std::uint64_t held = result.capacity();
            std::uint64_t next = held * 2;
            if (needed <= expected) {
                next = std::max(next, held * kDeclaredGrowth);
                // A step that would end short of the declared length goes
                // all the way when it is most of it anyway, so the last
                // bytes do not cost one more copy of the whole body.
                if (next >= expected / 2) next = expected;
            }
            next = std::min<std::uint64_t>(next, result.max_size());
            result.reserve(std::max(needed, static_cast<std::size_t>(next)));
        }
        result.resize(needed);
        DWORD read = 0;
        if (!ReadFile(http, request, result.data() + old, piece, &read)) {
            result.resize(old);
            Check(false);
            break;
        }
        result.resize(old + std::min(read, piece));
        if (read == 0) break;
    }
    return result;
}

}  // namespace

AnsiString TCustomINetHttp::GetData() {
    CheckActive();
    return ReadPiece<AnsiString>(*this, FHttpHandle, AvailableData());
}

TBytes TCustomINetHttp::GetBytes() {
    CheckActive();
    return ReadPiece<TBytes>(*this, FHttpHandle, AvailableData());
}

Cardinal TCustomINetHttp::GetData(AnsiString& data) {
    CheckActive();
    return ReadInto(*this, FHttpHandle, data);
}

Cardinal TCustomINetHttp::GetBytes(TBytes& bytes) {
    CheckActive();
    return ReadInto(*this, FHttpHandle, bytes);
}

AnsiString TCustomINetHttp::ReadData() {
    CheckActive();
    return ReadWhole<AnsiString>(*this, FHttpHandle);
}

TBytes TCustomINetHttp::ReadBytes() {
    CheckActive();
    return ReadWhole<TBytes>(*this, FHttpHandle);
}

}  // namespace Corvane
