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
void Resize(std::vector<Byte>& data, Int64 newSize) {
    if (static_cast<UInt64>(newSize) > static_cast<UInt64>(data.max_size()))
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    try {
        data.resize(static_cast<std::size_t>(newSize));
    } catch (const std::bad_alloc&) {
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    } catch (const std::length_error&) {
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    }
}

std::filesystem::path ToPath(const UnicodeString& fileName) {
    return std::filesystem::path(fileName);
}

}  // namespace

Int64 TMemoryStream::Read(void* buffer, Int64 count) {
    if (count <= 0 || FPosition >= Size()) return 0;
    const Int64 available = Size() - FPosition;
    const Int64 n = count < available ? count : available;
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

// Extends the stream when the write reaches past its end; the position may
// lie beyond the end, and the gap then reads as zeros.
Int64 TMemoryStream::Write(const void* buffer, Int64 count) {
    if (count <= 0) return 0;
    if (FPosition > std::numeric_limits<Int64>::max() - count)
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    const Int64 end = FPosition + count;
    // A source inside this stream's own memory moves when the stream grows.
    const Byte* source = static_cast<const Byte*>(buffer);
    const std::less<const Byte*> before;
    const bool inside =
        !FData.empty() && !before(source, FData.data()) && before(source, FData.data() + FData.size());
    const std::size_t sourceOffset = inside ? static_cast<std::size_t>(source - FData.data()) : 0;
    if (end > Size()) Resize(FData, end);
    if (inside) source = FData.data() + sourceOffset;
    std::memmove(FData.data() + FPosition, source, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::ReadBuffer(void* buffer, Int64 count) {
    if (count < 0 || Read(buffer, count) != count) throw EStreamError(LoadResString(Consts::SReadError));
}

Int64 TMemoryStream::Seek(Int64 offset, TSeekOrigin origin) {
    Int64 base = 0;
    if (origin == soCurrent)
        base = FPosition;
    else if (origin == soEnd)
        base = Size();
    if (offset > 0 && base > std::numeric_limits<Int64>::max() - offset)
        throw EStreamError(LoadResString(Consts::SStreamTooLarge));
    if (base + offset < 0)
        throw EStreamError(Format(LoadResString(Consts::SNegativeStreamPosition), {IntToStr(offset)}));
    FPosition = base + offset;
    return FPosition;
}

void TMemoryStream::SetSize(Int64 newSize) {
    if (newSize < 0)
        throw EStreamError(Format(LoadResString(Consts::SNegativeStreamSize), {IntToStr(newSize)}));
    Resize(FData, newSize);
    if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() noexcept {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const UnicodeString& fileName) {
    std::ifstream in(ToPath(fileName), std::ios::binary);
    if (!in) throw EStreamError(Format(LoadResString(Consts::SFOpenError), {fileName, ErrnoMessage(errno)}));
    std::vector<Byte> data;
    bool failed = false;
    try {
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        failed = in.bad();
    } catch (const std::ios_base::failure&) {
        // The library reports a failed read (a directory, an I/O error) by
        // throwing from the stream buffer; errno still says why.
        failed = true;
    }
    if (failed)
        throw EStreamError(Format(LoadResString(Consts::SFOpenError), {fileName, ErrnoMessage(errno)}));
    FData = std::move(data);
    FPosition = 0;
}

void TMemoryStream::SaveToFile(const UnicodeString& fileName) const {
    std::ofstream out(ToPath(fileName), std::ios::binary | std::ios::trunc);
    if (out)
        out.write(reinterpret_cast<const char*>(FData.data()), static_cast<std::streamsize>(FData.size()));
    if (out) out.flush();
    if (!out)
        throw EStreamError(Format(LoadResString(Consts::SFWriteError), {fileName, ErrnoMessage(errno)}));
}

}  // namespace Framework
