#include "TestSupport.h"

#include "GArchive.h"

#include <string.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define PW_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define PW_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define PW_POISON(p, n) ((void)(p), (void)(n))
#define PW_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

static std::vector<u8> Bytes(const TPodArray<u8>& a)
{
    return std::vector<u8>(a.data, a.data + a.count);
}

static void Fill(TPodArray<u8>& a, std::vector<u8> v)
{
    a.Resize((u32)v.size());
    if (!v.empty())
        memcpy(a.data, v.data(), v.size());
}

using B = std::vector<u8>;

TEST(ByteArchive, FlagsOfEachKind)
{
    FArchive base;
    EXPECT_EQ(base.Flags, 0u);
    EXPECT_EQ(base.Tell(), -1);
    EXPECT_EQ(base.TotalSize(), -1);

    TPodArray<u8> a;
    Fill(a, {1, 2, 3});
    FByteReader r(a, 0);
    EXPECT_EQ(r.Flags, (u32)AR_IsReader);
    FByteWriter w(a, 0);
    EXPECT_EQ(w.Flags, (u32)AR_IsWriter);
}

TEST(ByteArchive, ElementsAreBigEndian)
{
    TPodArray<u8> a;
    FByteWriter w(a, 0);
    u32 v = 0x01020304;
    ASSERT_TRUE(w.Serialize(&v, 1, 4));
    EXPECT_EQ(Bytes(a), (B{1, 2, 3, 4}));
    ASSERT_TRUE(w.Serialize(&v, 4, 1));
    EXPECT_EQ(Bytes(a), (B{1, 2, 3, 4, 4, 3, 2, 1}));

    TPodArray<u8> b;
    FByteWriter w2(b, 0);
    u16 h = 0xABCD;
    ASSERT_TRUE(w2.Serialize(&h, 1, 2));
    u64 q = 0x0102030405060708ull;
    ASSERT_TRUE(w2.Serialize(&q, 1, 8));
    EXPECT_EQ(Bytes(b), (B{0xAB, 0xCD, 1, 2, 3, 4, 5, 6, 7, 8}));

    FByteReader r(b, 0);
    u16 h2 = 0;
    u64 q2 = 0;
    ASSERT_TRUE(r.Serialize(&h2, 1, 2));
    ASSERT_TRUE(r.Serialize(&q2, 1, 8));
    EXPECT_EQ(h2, 0xABCD);
    EXPECT_EQ(q2, 0x0102030405060708ull);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_FALSE(r.HasFailed());
}

TEST(ByteArchive, SwapBytesCopyReversesEachElement)
{
    const u8 src[6] = {1, 2, 3, 4, 5, 6};
    u8 dst[6] = {};
    SwapBytesCopy(dst, src, 3, 2);
    EXPECT_EQ(B(dst, dst + 6), (B{2, 1, 4, 3, 6, 5}));
    SwapBytesCopy(dst, src, 2, 3);
    EXPECT_EQ(B(dst, dst + 6), (B{3, 2, 1, 6, 5, 4}));
    SwapBytesCopy(dst, src, 6, 1);
    EXPECT_EQ(B(dst, dst + 6), (B{1, 2, 3, 4, 5, 6}));
}

TEST(ByteArchive, WriterPositionsAndGrowth)
{
    TPodArray<u8> a;
    Fill(a, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    FByteWriter far(a, 100);
    EXPECT_EQ(far.Tell(), 10);

    TPodArray<u8> c;
    Fill(c, {10, 11, 12, 13});
    FByteWriter w(c, 2);
    u8 four[4] = {0xA0, 0xA1, 0xA2, 0xA3};
    ASSERT_TRUE(w.Serialize(four, 4, 1));
    EXPECT_EQ(Bytes(c), (B{10, 11, 0xA0, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(w.Tell(), 6);
    EXPECT_TRUE(w.AtEnd());
    // Growth keeps the array's doubling rule.
    EXPECT_GE(c.capacity, 8u);

    w.Seek(1);
    u8 one = 0x55;
    ASSERT_TRUE(w.Serialize(&one, 1, 1));
    EXPECT_EQ(Bytes(c), (B{10, 0x55, 0xA0, 0xA1, 0xA2, 0xA3}));
    w.Seek(1000);
    EXPECT_EQ(w.Tell(), 6);

    // Nothing happens for a count of 0.
    ASSERT_TRUE(w.Serialize(nullptr, 0, 4));
    EXPECT_EQ(c.count, 6u);
}

TEST(ByteArchive, ReaderAtEndAndSeek)
{
    TPodArray<u8> a;
    Fill(a, {1, 2, 3});
    FByteReader r(a, 1);
    EXPECT_FALSE(r.AtEnd());
    u8 two[2];
    ASSERT_TRUE(r.Serialize(two, 2, 1));
    EXPECT_EQ(B(two, two + 2), (B{2, 3}));
    EXPECT_TRUE(r.AtEnd());
    r.Seek(0);
    EXPECT_EQ(r.Tell(), 0);
    r.Seek(77);
    EXPECT_EQ(r.Tell(), 3);
    EXPECT_TRUE(r.AtEnd());
}

TEST(ByteArchive, ShortReadFailsWithZeroesAndNoBox)
{
    TPodArray<u8> a;
    Fill(a, {1, 2, 3});
    FByteReader r(a, 0);
    u32 v = 0xDEADBEEF;
    EXPECT_FALSE(r.Serialize(&v, 1, 4));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(r.HasFailed());
    EXPECT_EQ(r.Tell(), 0); // nothing consumed
    // The failure is sticky, but fitting reads still work.
    u8 b = 0;
    EXPECT_TRUE(r.Serialize(&b, 1, 1));
    EXPECT_EQ(b, 1);
    EXPECT_TRUE(r.HasFailed());

    // A count whose byte size overflows 32 bits reads nothing and touches nothing.
    u32 guard[2] = {7, 7};
    EXPECT_FALSE(r.Serialize(guard, 0x40000000u, 4));
    EXPECT_FALSE(r.Serialize(guard, 0x80000001u, 2));
    EXPECT_EQ(guard[0], 7u);
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST(ByteArchive, MalformedCallsAreReported)
{
    TPodArray<u8> a;
    Fill(a, {1, 2});
    {
        TExpectBreak expect("size == 0", 2);
        FByteReader r(a, 0);
        u8 x = 9;
        EXPECT_FALSE(r.Serialize(&x, 1, 0));
        EXPECT_EQ(x, 9);
        FByteWriter w(a, 0);
        EXPECT_FALSE(w.Serialize(&x, 1, 0));
        EXPECT_EQ(Bytes(a), (B{1, 2}));
    }
    {
        // Starting exactly at the end (a datagram holding only its header, an empty payload)
        // raises no box: the data comes from any sender. Reads fail safely.
        FByteReader r(a, 2);
        EXPECT_EQ(r.Tell(), 2);
        u8 x = 9;
        EXPECT_FALSE(r.Serialize(&x, 1, 1));
        EXPECT_EQ(x, 0);
        TPodArray<u8> empty;
        FByteReader e(empty, 0);
        EXPECT_TRUE(e.AtEnd());
        u16 y = 7;
        EXPECT_FALSE(e.Serialize(&y, 1, 2));
        EXPECT_EQ(y, 0);
        EXPECT_EQ(CountBreaks("newpos"), 0);
    }
    {
        TExpectBreak expect("newpos > Data->Count()");
        FByteReader r(a, 3);
        EXPECT_EQ(r.Tell(), 2);
        u8 x = 9;
        EXPECT_FALSE(r.Serialize(&x, 1, 1));
        EXPECT_EQ(x, 0);
    }
}

// A record of every element width, as a document or datagram would carry it.
struct SRecord
{
    u8 a = 0;
    u16 b = 0;
    u32 c = 0;
    u64 d = 0;
    float e = 0;
    char name[5] = {};

    bool Serialize(FArchive& ar)
    {
        bool ok = ar.Serialize(&a, 1, 1);
        ok = ar.Serialize(&b, 1, 2) && ok;
        ok = ar.Serialize(&c, 1, 4) && ok;
        ok = ar.Serialize(&d, 1, 8) && ok;
        ok = ar.Serialize(&e, 1, 4) && ok;
        ok = ar.Serialize(name, 5, 1) && ok;
        return ok;
    }
};

TEST(ByteArchive, RecordRoundTripMatchesHandMadeBytes)
{
    SRecord in;
    in.a = 0x11;
    in.b = 0x2233;
    in.c = 0x44556677;
    in.d = 0x8899AABBCCDDEEFFull;
    in.e = 1.0f; // 0x3F800000
    memcpy(in.name, "abcde", 5);
    TPodArray<u8> a;
    FByteWriter w(a, 0);
    ASSERT_TRUE(in.Serialize(w));
    EXPECT_EQ(Bytes(a), (B{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
                           0xEE, 0xFF, 0x3F, 0x80, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'}));

    SRecord out;
    FByteReader r(a, 0);
    ASSERT_TRUE(out.Serialize(r));
    EXPECT_EQ(out.b, in.b);
    EXPECT_EQ(out.d, in.d);
    EXPECT_EQ(out.e, 1.0f);
    EXPECT_EQ(memcmp(out.name, "abcde", 5), 0);
    EXPECT_TRUE(r.AtEnd());
}

// Every truncation of a valid stream fails, and never reads a byte past the data: the bytes
// beyond the count are poisoned in sanitizer builds and hold a marker in every build.
TEST(ByteArchive, EveryTruncationFailsWithoutOverRead)
{
    SRecord in;
    in.a = 1;
    in.b = 2;
    in.c = 3;
    in.d = 4;
    in.e = 5;
    memcpy(in.name, "xyzzy", 5);
    TPodArray<u8> full;
    FByteWriter w(full, 0);
    ASSERT_TRUE(in.Serialize(w));

    for (u32 len = 1; len < full.count; ++len)
    {
        TPodArray<u8> cut;
        cut.Reserve(len + 64, true);
        memset(cut.data, 0xEE, len + 64);
        memcpy(cut.data, full.data, len);
        cut.count = len;
        PW_POISON(cut.data + len, 64);
        SRecord out;
        FByteReader r(cut, 0);
        EXPECT_FALSE(out.Serialize(r)) << "length " << len;
        EXPECT_TRUE(r.HasFailed());
        EXPECT_LE(r.Tell(), (s64)len);
        // No marker byte leaked into the record.
        const u8* p = (const u8*)&out.d;
        for (int i = 0; i < 8; ++i)
            EXPECT_NE(p[i], 0xEE);
        PW_UNPOISON(cut.data + len, 64);
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST(ByteArchive, CopyFromTakesWholeContent)
{
    TPodArray<u8> src;
    Fill(src, {5, 6, 7, 8});
    FByteReader r(src, 2);

    TPodArray<u8> dst;
    Fill(dst, {1});
    FByteWriter w(dst, 0);
    ASSERT_TRUE(w.CopyFrom(r));
    EXPECT_EQ(Bytes(dst), (B{5, 6, 7, 8}));
    EXPECT_EQ(w.Tell(), 4);

    // Through the bare interface: a whole copy from the start, appended at the writer.
    TPodArray<u8> other;
    Fill(other, {9});
    FByteWriter w2(other, 1);
    FByteReader r2(src, 3);
    ASSERT_TRUE(w2.FArchive::CopyFrom(r2));
    EXPECT_EQ(Bytes(other), (B{9, 5, 6, 7, 8}));

    // A reader can take another reader's content, and then reads it from the start.
    TPodArray<u8> third;
    Fill(third, {1, 1});
    FByteReader r3(third, 0);
    FByteReader r4(src, 0);
    ASSERT_TRUE(r3.CopyFrom(r4));
    EXPECT_EQ(Bytes(third), (B{5, 6, 7, 8}));
    u32 v = 0;
    ASSERT_TRUE(r3.Serialize(&v, 1, 4));
    EXPECT_EQ(v, 0x05060708u);

    // Copying from a writer is a mistake.
    {
        TExpectBreak expect("!src.IsReader()", 2);
        EXPECT_FALSE(w2.CopyFrom(w));
        EXPECT_FALSE(w2.FArchive::CopyFrom(w));
        EXPECT_EQ(Bytes(other), (B{9, 5, 6, 7, 8}));
    }
}
