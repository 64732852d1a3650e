// TSet, TList and TMemoryStream.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "Framework/Framework.h"

using namespace Framework;

namespace {
enum TFlag { flA, flB, flC, flLast = 63 };
enum class TScoped : std::uint8_t { One, Two };
enum TTooWide { twBad = 64 };
}  // namespace

TEST(Set, AlgebraAndMaskFollowTheOrdinals) {
    constexpr TSet<TFlag> empty;
    static_assert(empty.Empty());
    constexpr TSet<TFlag> ab{flA, flB};
    static_assert(ab.ToMask() == 0b11);

    TSet<TFlag> s{flC, flLast};
    EXPECT_EQ(s.ToMask(), (std::uint64_t{1} << 63) | 0b100);
    EXPECT_TRUE(s.Contains(flLast));
    EXPECT_FALSE(s.Contains(flA));
    EXPECT_EQ(s.Count(), 2);

    EXPECT_EQ(ab + s, (TSet<TFlag>{flA, flB, flC, flLast}));
    EXPECT_EQ((TSet<TFlag>{flA, flC}) - ab, TSet<TFlag>{flC});
    EXPECT_EQ((TSet<TFlag>{flA, flC}) * ab, TSet<TFlag>{flA});
    EXPECT_TRUE((ab * s).Empty());
    EXPECT_TRUE(TSet<TFlag>{flA}.SubsetOf(ab));
    EXPECT_FALSE(ab.SubsetOf(TSet<TFlag>{flA}));

    s.Include(flA).Exclude(flLast).Exclude(flB);
    EXPECT_EQ(s, TSet<TFlag>::FromMask(0b101));
    EXPECT_EQ(TSet<TFlag>::FromMask(s.ToMask()), s);

    TSet<TScoped> scoped{TScoped::Two};
    EXPECT_EQ(scoped.ToMask(), 0b10u);
}

TEST(Set, OrdinalsBeyondTheMaskAreRefused) {
    TSet<TTooWide> s;
    EXPECT_THROW(s.Include(twBad), std::out_of_range);
    EXPECT_THROW((void)s.Contains(twBad), std::out_of_range);
    EXPECT_TRUE(s.Empty());
}

TEST(List, AddInsertRemoveDeleteKeepOrder) {
    int a = 0, b = 0, c = 0;
    TList l;
    EXPECT_EQ(l.Add(&a), 0);
    EXPECT_EQ(l.Add(&b), 1);
    EXPECT_EQ(l.Add(&a), 2);
    l.Insert(0, &c);  // C A B A
    l.Insert(4, &c);  // C A B A C: inserting at Count appends
    EXPECT_EQ(l.Count(), 5);
    EXPECT_EQ(l.Remove(&a), 1);  // first occurrence only
    EXPECT_EQ(l.IndexOf(&a), 2);
    EXPECT_EQ(l.Remove(nullptr), -1);
    l.Delete(0);  // B A C
    EXPECT_EQ(l.Get(0), &b);
    EXPECT_EQ(l.Items(1), &a);
    EXPECT_EQ(l.Last(), &c);
    l.Exchange(0, 2);
    EXPECT_EQ(l.First(), &c);
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
}

TEST(List, IndexesOutsideTheListRaiseEListError) {
    int a = 0;
    TList l;
    EXPECT_THROW(l.Items(0), EListError);
    EXPECT_THROW(l.First(), EListError);
    EXPECT_THROW(l.Delete(0), EListError);
    EXPECT_THROW(l.Insert(1, &a), EListError);
    l.Add(&a);
    EXPECT_THROW(l.Items(1), EListError);
    EXPECT_THROW(l.Put(-1, &a), EListError);
    EXPECT_THROW(l.Exchange(0, 1), EListError);
    try {
        l.Get(5);
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), u"List index out of bounds (5)");
    }
    EXPECT_EQ(l.Count(), 1);
}

TEST(MemoryStream, WritesGrowReadsStopAtTheEnd) {
    TMemoryStream s;
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Write("hello", 5), 5);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(1);
    EXPECT_EQ(s.Write("EL", 2), 2);  // overwrite in the middle
    EXPECT_EQ(s.Size(), 5);

    char buffer[16] = {};
    s.Seek(0, soBeginning);
    EXPECT_EQ(s.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "hELlo");
    EXPECT_EQ(s.Read(buffer, 1), 0);
    EXPECT_EQ(s.Seek(-2, soEnd), 3);
    EXPECT_EQ(s.Seek(1, soCurrent), 4);
    EXPECT_EQ(s.Read(buffer, 0), 0);
    EXPECT_EQ(s.Read(buffer, -1), 0);
    EXPECT_THROW(s.ReadBuffer(buffer, 2), EStreamError);
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
    TMemoryStream s;
    s.Write("ab", 2);
    s.Seek(3, soEnd);  // position 5, size 2
    char buffer[4];
    EXPECT_EQ(s.Read(buffer, 4), 0);
    s.Write("z", 1);
    ASSERT_EQ(s.Size(), 6);
    EXPECT_EQ(std::memcmp(s.Memory(), "ab\0\0\0z", 6), 0);
}

TEST(MemoryStream, SizeChangesClampThePosition) {
    TMemoryStream s;
    s.Write("abcdef", 6);
    s.SetSize(3);
    EXPECT_EQ(s.Position(), 3);
    s.SetSize(5);
    EXPECT_EQ(std::memcmp(s.Memory(), "abc\0\0", 5), 0);
    EXPECT_THROW(s.SetSize(-1), EStreamError);
    EXPECT_THROW(s.Seek(-6, soEnd), EStreamError);
    EXPECT_THROW(s.SetPosition(-1), EStreamError);
    EXPECT_THROW(s.Seek(INT64_MAX, soCurrent), EStreamError);
    EXPECT_EQ(s.Position(), 3);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, CopyingItsOwnMemoryWhileGrowingIsSafe) {
    TMemoryStream s;
    const std::string text(1000, 'x');
    s.Write(text.data(), static_cast<Int64>(text.size()));
    // The source lies in the buffer that this very write reallocates.
    EXPECT_EQ(s.Write(s.Memory(), s.Size()), 1000);
    ASSERT_EQ(s.Size(), 2000);
    EXPECT_EQ(std::string(static_cast<const char*>(s.Memory()), 2000), std::string(2000, 'x'));
}

TEST(MemoryStream, FilesRoundTripAndMissingFilesRaise) {
    const auto dir = std::filesystem::temp_directory_path() / "corvane-framework-tests";
    std::filesystem::create_directories(dir);
    const UnicodeString path = (dir / "stream.bin").u16string();
    TMemoryStream out;
    out.Write("\0\1\2", 3);
    out.SaveToFile(path);
    TMemoryStream in;
    in.Write("old", 3);
    in.LoadFromFile(path);
    EXPECT_EQ(in.Size(), 3);
    EXPECT_EQ(in.Position(), 0);
    EXPECT_EQ(std::memcmp(in.Memory(), "\0\1\2", 3), 0);
    // A directory is no file to read: the stream's error, contents kept.
    EXPECT_THROW(in.LoadFromFile(dir.u16string()), EStreamError);
    EXPECT_EQ(in.Size(), 3);
    std::filesystem::remove_all(dir);
    EXPECT_THROW(in.LoadFromFile(path), EStreamError);
    EXPECT_EQ(in.Size(), 3);
}
