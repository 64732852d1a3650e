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
DWORD BufferLength(std::size_t Length)
{
    return static_cast<DWORD>(std::min<std::size_t>(Length, std::numeric_limits<DWORD>::max()));
}

// The information level of a named header; a value no element stands for is
// refused before it reaches the platform.
Cardinal HeaderLevel(THttpHeader Header)
{
    EnumTables::CheckElement(EnumTables::kHttpHeaders, Header, u"THttpHeader");
    return EnumTables::ValueOf(EnumTables::kHttpHeaders, Header);
}

}  // namespace

UnicodeString TCustomINetHttp::QueryInfo(Cardinal Info)
{
    CheckActive();
    return ReadSizedText(
        [&](char16_t* Buffer, DWORD* Size) {
            return Platform().HttpQueryInfoW(FHttpHandle, Info, Buffer, Size, nullptr);
        },
        TSizedTextFailure::Check);
}

UnicodeString TCustomINetHttp::QueryInfo(THttpHeader Header)
{
    return QueryInfo(HeaderLevel(Header));
}

// HTTP_QUERY_CUSTOM reads the header's name from the buffer and writes the
// value over it, so the buffer starts as the name and its terminator. A value
// too long for it is asked for again in a buffer of the reported size, which
// still starts with the name.
UnicodeString TCustomINetHttp::QueryInfo(const UnicodeString& HeaderName)
{
    CheckActive();
    if (HeaderName.empty())
        return {};
    InternetApi& Api = Platform();
    UnicodeString Buffer = HeaderName;
    Buffer.push_back(u'\0');
    DWORD Size = BufferLength(Buffer.size() * 2);
    if (!Api.HttpQueryInfoW(FHttpHandle, HTTP_QUERY_CUSTOM, Buffer.data(), &Size, nullptr)) {
        if (Api.GetLastError() != ERROR_INSUFFICIENT_BUFFER || Size == 0) {
            Check(false);
            return {};
        }
        const std::size_t Characters = std::max<std::size_t>((Size + 1) / 2, HeaderName.size() + 1);
        Buffer = HeaderName;
        Buffer.resize(Characters, u'\0');
        Size = BufferLength(Buffer.size() * 2);
        if (!Api.HttpQueryInfoW(FHttpHandle, HTTP_QUERY_CUSTOM, Buffer.data(), &Size, nullptr)) {
            Check(false);
            return {};
        }
    }
    Buffer.resize(std::min<std::size_t>(Size / 2, Buffer.size()));
    return Buffer;
}

Cardinal TCustomINetHttp::QueryInfoValue(Cardinal Info)
{
    DWORD Value = 0;
    DWORD Size = sizeof(Value);
    if (!Platform().HttpQueryInfoW(FHttpHandle, Info | HTTP_QUERY_FLAG_NUMBER, &Value, &Size, nullptr)) {
        Check(false);
        return 0;
    }
    return Value;
}

Cardinal TCustomINetHttp::QueryInfoValue(THttpHeader Header)
{
    return QueryInfoValue(HeaderLevel(Header));
}

SYSTEMTIME TCustomINetHttp::QueryInfoSystemTime(Cardinal Info)
{
    SYSTEMTIME Result{};
    DWORD Size = sizeof(Result);
    if (!Platform().HttpQueryInfoW(FHttpHandle, Info | HTTP_QUERY_FLAG_SYSTEMTIME, &Result, &Size, nullptr)) {
        Check(false);
        return SYSTEMTIME{};
    }
    return Result;
}

SYSTEMTIME TCustomINetHttp::QueryInfoSystemTime(THttpHeader Header)
{
    return QueryInfoSystemTime(HeaderLevel(Header));
}

Cardinal TCustomINetHttp::AvailableData()
{
    CheckActive();
    DWORD Count = 0;
    if (!Platform().InternetQueryDataAvailable(FHttpHandle, &Count, 0, 0)) {
        Check(false);
        return 0;
    }
    return Count;
}

namespace {

// The next piece of the body into a fresh container of what is available now
// (at least one byte is asked for, so the end of the body reads as an empty
// piece).
template <class Container>
Container ReadPiece(HINTERNET Request, Cardinal Available)
{
    const DWORD Piece = Available != 0 ? Available : 1;
    Container Result(Piece, 0);
    DWORD Read = 0;
    if (!Platform().InternetReadFile(Request, Result.data(), Piece, &Read)) {
        Check(false);
        return Container();
    }
    Result.resize(std::min(Read, Piece));
    return Result;
}

// Reads into the caller's own buffer, in place.
template <class Container>
Cardinal ReadInto(HINTERNET Request, Container& Buffer)
{
    if (Buffer.empty())
        return 0;
    const DWORD Length = BufferLength(Buffer.size());
    DWORD Read = 0;
    if (!Platform().InternetReadFile(Request, Buffer.data(), Length, &Read)) {
        Check(false);
        return 0;
    }
    return std::min(Read, Length);
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
Container ReadWhole(TCustomINetHttp& Http, HINTERNET Request)
{
    Container Result;
    DWORD Declared = 0;
    DWORD DeclaredSize = sizeof Declared;
    // Room for the declared body and the one byte asked for to see its end.
    std::uint64_t Expected = 0;
    if (Platform().HttpQueryInfoW(Request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &Declared,
                                  &DeclaredSize, nullptr)) {
        Expected = std::uint64_t{Declared} + 1;
        Result.reserve(static_cast<std::size_t>(std::min(Expected, kFirstReserve)));
    }
    for (;;) {
        const Cardinal Available = Http.AvailableData();
        const DWORD Piece = Available != 0 ? Available : 1;
        const std::size_t Old = Result.size();
        const std::size_t Needed = Old + Piece;
        if (Result.capacity() < Needed) {
            const std::uint64_t Held = Result.capacity();
            std::uint64_t Next = Held * 2;
            if (Needed <= Expected) {
                Next = std::max(Next, Held * kDeclaredGrowth);
                // A step that would end short of the declared length goes
                // all the way when it is most of it anyway, so the last
                // bytes do not cost one more copy of the whole body.
                if (Next >= Expected / 2)
                    Next = Expected;
            }
            Next = std::min<std::uint64_t>(Next, Result.max_size());
            Result.reserve(std::max(Needed, static_cast<std::size_t>(Next)));
        }
        Result.resize(Needed);
        DWORD Read = 0;
        if (!Platform().InternetReadFile(Request, Result.data() + Old, Piece, &Read)) {
            Result.resize(Old);
            Check(false);
            break;
        }
        Result.resize(Old + std::min(Read, Piece));
        if (Read == 0)
            break;
    }
    return Result;
}

}  // namespace

AnsiString TCustomINetHttp::GetData()
{
    CheckActive();
    return ReadPiece<AnsiString>(FHttpHandle, AvailableData());
}

TBytes TCustomINetHttp::GetBytes()
{
    CheckActive();
    return ReadPiece<TBytes>(FHttpHandle, AvailableData());
}

Cardinal TCustomINetHttp::GetData(AnsiString& Data)
{
    CheckActive();
    return ReadInto(FHttpHandle, Data);
}

Cardinal TCustomINetHttp::GetBytes(TBytes& Bytes)
{
    CheckActive();
    return ReadInto(FHttpHandle, Bytes);
}

AnsiString TCustomINetHttp::ReadData()
{
    CheckActive();
    return ReadWhole<AnsiString>(*this, FHttpHandle);
}

TBytes TCustomINetHttp::ReadBytes()
{
    CheckActive();
    return ReadWhole<TBytes>(*this, FHttpHandle);
}

}  // namespace Corvane
