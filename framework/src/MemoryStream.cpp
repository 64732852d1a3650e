#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <new>

#include "Framework/Classes.h"
#include "FrameworkConsts.h"

namespace Framework {

namespace {

// Grows Data to NewSize (zero-filled); running out of memory, or a size the
// address space cannot hold, raises EStreamError.
void Resize(std::vector<Byte>& Data, Int64 NewSize) {
    if (static_cast<UInt64>(NewSize) > static_cast<UInt64>(Data.max_size()))
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    try {
        Data.resize(static_cast<std::size_t>(NewSize));
    } catch (const std::bad_alloc&) {
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    } catch (const std::length_error&) {
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    }
}

std::filesystem::path ToPath(const UnicodeString& FileName) {
    return std::filesystem::path(FileName);
}

}  // namespace

Int64 TMemoryStream::Read(void* Buffer, Int64 Count) {
    if (Count <= 0 || FPosition >= Size()) return 0;
    const Int64 Available = Size() - FPosition;
    const Int64 N = Count < Available ? Count : Available;
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<std::size_t>(N));
    FPosition += N;
    return N;
}

// Extends the stream when the write reaches past its end; the position may
// lie beyond the end, and the gap then reads as zeros.
Int64 TMemoryStream::Write(const void* Buffer, Int64 Count) {
    if (Count <= 0) return 0;
    if (FPosition > std::numeric_limits<Int64>::max() - Count)
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    const Int64 End = FPosition + Count;
    // A source inside this stream's own memory moves when the stream grows.
    const Byte* Source = static_cast<const Byte*>(Buffer);
    const std::less<const Byte*> Before;
    const bool Inside =
        !FData.empty() && !Before(Source, FData.data()) && Before(Source, FData.data() + FData.size());
    const std::size_t SourceOffset = Inside ? static_cast<std::size_t>(Source - FData.data()) : 0;
    if (End > Size()) Resize(FData, End);
    if (Inside) Source = FData.data() + SourceOffset;
    std::memmove(FData.data() + FPosition, Source, static_cast<std::size_t>(Count));
    FPosition = End;
    return Count;
}

void TMemoryStream::ReadBuffer(void* Buffer, Int64 Count) {
    if (Count < 0 || Read(Buffer, Count) != Count) throw EStreamError(LoadResString(Consts::SReadError));
}

Int64 TMemoryStream::Seek(Int64 Offset, TSeekOrigin Origin) {
    Int64 Base = 0;
    if (Origin == soCurrent) Base = FPosition;
    else if (Origin == soEnd) Base = Size();
    if (Offset > 0 && Base > std::numeric_limits<Int64>::max() - Offset)
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    if (Base + Offset < 0)
        throw EStreamError(Format(LoadResString(Consts::SNegativeStreamPosition), {IntToStr(Offset)}));
    FPosition = Base + Offset;
    return FPosition;
}

void TMemoryStream::SetSize(Int64 NewSize) {
    if (NewSize < 0) throw EStreamError(Format(LoadResString(Consts::SNegativeStreamSize), {IntToStr(NewSize)}));
    Resize(FData, NewSize);
    if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() noexcept {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const UnicodeString& FileName) {
    std::ifstream In(ToPath(FileName), std::ios::binary);
    if (!In)
        throw EStreamError(
            Format(LoadResString(Consts::SFOpenError), {FileName, ErrnoMessage(errno)}));
    std::vector<Byte> Data;
    bool Failed = false;
    try {
        Data.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
        Failed = In.bad();
    } catch (const std::ios_base::failure&) {
        // The library reports a failed read (a directory, an I/O error) by
        // throwing from the stream buffer; errno still says why.
        Failed = true;
    }
    if (Failed)
        throw EStreamError(
            Format(LoadResString(Consts::SFOpenError), {FileName, ErrnoMessage(errno)}));
    FData = std::move(Data);
    FPosition = 0;
}

void TMemoryStream::SaveToFile(const UnicodeString& FileName) const {
    std::ofstream Out(ToPath(FileName), std::ios::binary | std::ios::trunc);
    if (Out) Out.write(reinterpret_cast<const char*>(FData.data()), static_cast<std::streamsize>(FData.size()));
    if (Out) Out.flush();
    if (!Out)
        throw EStreamError(
            Format(LoadResString(Consts::SFWriteError), {FileName, ErrnoMessage(errno)}));
}

}  // namespace Framework
