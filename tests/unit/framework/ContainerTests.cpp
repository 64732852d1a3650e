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
    constexpr TSet<TFlag> Empty;
    static_assert(Empty.Empty());
    constexpr TSet<TFlag> AB{flA, flB};
    static_assert(AB.ToMask() == 0b11);

    TSet<TFlag> S{flC, flLast};
    EXPECT_EQ(S.ToMask(), (std::uint64_t{1} << 63) | 0b100);
    EXPECT_TRUE(S.Contains(flLast));
    EXPECT_FALSE(S.Contains(flA));
    EXPECT_EQ(S.Count(), 2);

    EXPECT_EQ(AB + S, (TSet<TFlag>{flA, flB, flC, flLast}));
    EXPECT_EQ((TSet<TFlag>{flA, flC}) - AB, TSet<TFlag>{flC});
    EXPECT_EQ((TSet<TFlag>{flA, flC}) * AB, TSet<TFlag>{flA});
    EXPECT_TRUE((AB * S).Empty());
    EXPECT_TRUE(TSet<TFlag>{flA}.SubsetOf(AB));
    EXPECT_FALSE(AB.SubsetOf(TSet<TFlag>{flA}));

    S.Include(flA).Exclude(flLast).Exclude(flB);
    EXPECT_EQ(S, TSet<TFlag>::FromMask(0b101));
    EXPECT_EQ(TSet<TFlag>::FromMask(S.ToMask()), S);

    TSet<TScoped> Scoped{TScoped::Two};
    EXPECT_EQ(Scoped.ToMask(), 0b10u);
}

TEST(Set, OrdinalsBeyondTheMaskAreRefused) {
    TSet<TTooWide> S;
    EXPECT_THROW(S.Include(twBad), std::out_of_range);
    EXPECT_THROW((void)S.Contains(twBad), std::out_of_range);
    EXPECT_TRUE(S.Empty());
}

TEST(List, AddInsertRemoveDeleteKeepOrder) {
    int A = 0, B = 0, C = 0;
    TList L;
    EXPECT_EQ(L.Add(&A), 0);
    EXPECT_EQ(L.Add(&B), 1);
    EXPECT_EQ(L.Add(&A), 2);
    L.Insert(0, &C);  // C A B A
    L.Insert(4, &C);  // C A B A C: inserting at Count appends
    EXPECT_EQ(L.Count(), 5);
    EXPECT_EQ(L.Remove(&A), 1);  // first occurrence only
    EXPECT_EQ(L.IndexOf(&A), 2);
    EXPECT_EQ(L.Remove(nullptr), -1);
    L.Delete(0);  // B A C
    EXPECT_EQ(L.Get(0), &B);
    EXPECT_EQ(L.Items(1), &A);
    EXPECT_EQ(L.Last(), &C);
    L.Exchange(0, 2);
    EXPECT_EQ(L.First(), &C);
    L.Clear();
    EXPECT_EQ(L.Count(), 0);
}

TEST(List, IndexesOutsideTheListRaiseEListError) {
    int A = 0;
    TList L;
    EXPECT_THROW(L.Items(0), EListError);
    EXPECT_THROW(L.First(), EListError);
    EXPECT_THROW(L.Delete(0), EListError);
    EXPECT_THROW(L.Insert(1, &A), EListError);
    L.Add(&A);
    EXPECT_THROW(L.Items(1), EListError);
    EXPECT_THROW(L.Put(-1, &A), EListError);
    EXPECT_THROW(L.Exchange(0, 1), EListError);
    try {
        L.Get(5);
    } catch (const EListError& E) {
        EXPECT_EQ(E.Message(), u"List index out of bounds (5)");
    }
    EXPECT_EQ(L.Count(), 1);
}

TEST(MemoryStream, WritesGrowReadsStopAtTheEnd) {
    TMemoryStream S;
    EXPECT_EQ(S.Size(), 0);
    EXPECT_EQ(S.Write("hello", 5), 5);
    EXPECT_EQ(S.Position(), 5);
    S.SetPosition(1);
    EXPECT_EQ(S.Write("EL", 2), 2);  // overwrite in the middle
    EXPECT_EQ(S.Size(), 5);

    char Buffer[16] = {};
    S.Seek(0, soBeginning);
    EXPECT_EQ(S.Read(Buffer, sizeof Buffer), 5);
    EXPECT_EQ(std::string(Buffer, 5), "hELlo");
    EXPECT_EQ(S.Read(Buffer, 1), 0);
    EXPECT_EQ(S.Seek(-2, soEnd), 3);
    EXPECT_EQ(S.Seek(1, soCurrent), 4);
    EXPECT_EQ(S.Read(Buffer, 0), 0);
    EXPECT_EQ(S.Read(Buffer, -1), 0);
    EXPECT_THROW(S.ReadBuffer(Buffer, 2), EStreamError);
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
    TMemoryStream S;
    S.Write("ab", 2);
    S.Seek(3, soEnd);  // position 5, size 2
    char Buffer[4];
    EXPECT_EQ(S.Read(Buffer, 4), 0);
    S.Write("z", 1);
    ASSERT_EQ(S.Size(), 6);
    EXPECT_EQ(std::memcmp(S.Memory(), "ab\0\0\0z", 6), 0);
}

TEST(MemoryStream, SizeChangesClampThePosition) {
    TMemoryStream S;
    S.Write("abcdef", 6);
    S.SetSize(3);
    EXPECT_EQ(S.Position(), 3);
    S.SetSize(5);
    EXPECT_EQ(std::memcmp(S.Memory(), "abc\0\0", 5), 0);
    EXPECT_THROW(S.SetSize(-1), EStreamError);
    EXPECT_THROW(S.Seek(-6, soEnd), EStreamError);
    EXPECT_THROW(S.SetPosition(-1), EStreamError);
    EXPECT_THROW(S.Seek(INT64_MAX, soCurrent), EStreamError);
    EXPECT_EQ(S.Position(), 3);
    S.Clear();
    EXPECT_EQ(S.Size(), 0);
    EXPECT_EQ(S.Position(), 0);
}

TEST(MemoryStream, CopyingItsOwnMemoryWhileGrowingIsSafe) {
    TMemoryStream S;
    const std::string Text(1000, 'x');
    S.Write(Text.data(), static_cast<Int64>(Text.size()));
    // The source lies in the buffer that this very write reallocates.
    EXPECT_EQ(S.Write(S.Memory(), S.Size()), 1000);
    ASSERT_EQ(S.Size(), 2000);
    EXPECT_EQ(std::string(static_cast<const char*>(S.Memory()), 2000), std::string(2000, 'x'));
}

TEST(MemoryStream, FilesRoundTripAndMissingFilesRaise) {
    const auto Dir = std::filesystem::temp_directory_path() / "corvane-framework-tests";
    std::filesystem::create_directories(Dir);
    const UnicodeString Path = (Dir / "stream.bin").u16string();
    TMemoryStream Out;
    Out.Write("\0\1\2", 3);
    Out.SaveToFile(Path);
    TMemoryStream In;
    In.Write("old", 3);
    In.LoadFromFile(Path);
    EXPECT_EQ(In.Size(), 3);
    EXPECT_EQ(In.Position(), 0);
    EXPECT_EQ(std::memcmp(In.Memory(), "\0\1\2", 3), 0);
    // A directory is no file to read: the stream's error, contents kept.
    EXPECT_THROW(In.LoadFromFile(Dir.u16string()), EStreamError);
    EXPECT_EQ(In.Size(), 3);
    std::filesystem::remove_all(Dir);
    EXPECT_THROW(In.LoadFromFile(Path), EStreamError);
    EXPECT_EQ(In.Size(), 3);
}
