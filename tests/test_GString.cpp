#include "TestSupport.h"

#include <random>
#include <string>

#include "GString.h"

static std::string Bytes(const TString& s)
{
    return std::string(s.text, s.count);
}

// The invariants every operation must keep: text points at the right buffer and is terminated.
static void ExpectSound(const TString& s)
{
    if (s.heap)
    {
        EXPECT_EQ(s.text, s.heap);
        EXPECT_LT(s.count, s.capacity);
    }
    else
    {
        EXPECT_EQ(s.text, s.inlineBuf);
        EXPECT_EQ(s.capacity, 0u);
        EXPECT_LT(s.count, (u32)TString::INLINE_SIZE);
    }
    EXPECT_EQ(s.text[s.count], 0);
}

TEST(TStringGrowth, InlineThenExactThenDoubling)
{
    TString s;
    EXPECT_EQ(s.heap, nullptr);
    EXPECT_EQ(s.count, 0u);
    EXPECT_STREQ(s.text, "");

    s = std::string(31, 'a').c_str();
    EXPECT_EQ(s.heap, nullptr);
    EXPECT_EQ(s.text, s.inlineBuf);
    EXPECT_EQ(s.count, 31u);

    s += "b";
    ASSERT_NE(s.heap, nullptr);
    EXPECT_EQ(s.capacity, 33u);
    EXPECT_EQ(Bytes(s), std::string(31, 'a') + "b");

    s += std::string(8, 'c').c_str(); // 40 characters need 41 bytes: twice 33 wins
    EXPECT_EQ(s.capacity, 66u);
    EXPECT_EQ(s.count, 40u);
    ExpectSound(s);

    // A need above twice the capacity is taken exactly.
    s += std::string(200, 'd').c_str();
    EXPECT_EQ(s.capacity, 241u);
    ExpectSound(s);
}

TEST(TStringGrowth, ConstructionSizesExactly)
{
    TString a(std::string(31, 'x').c_str());
    EXPECT_EQ(a.heap, nullptr);
    TString b(std::string(32, 'x').c_str());
    ASSERT_NE(b.heap, nullptr);
    EXPECT_EQ(b.capacity, 33u);
    TString c(b);
    EXPECT_EQ(c.capacity, 33u);
    EXPECT_NE(c.heap, b.heap); // copying never shares
    c.text[0] = 'y';
    EXPECT_EQ(b.text[0], 'x');
}

TEST(TStringGrowth, HeapKeptAfterShortening)
{
    TString s(std::string(40, 'q').c_str());
    char* heap = s.heap;
    u32 capacity = s.capacity;
    s.Remove(3, 39);
    EXPECT_EQ(Bytes(s), "qqq");
    EXPECT_EQ(s.heap, heap);
    EXPECT_EQ(s.text, heap);
    s = "xy";
    EXPECT_EQ(s.text, heap);
    EXPECT_EQ(s.capacity, capacity);
    s.SetLength(0);
    EXPECT_EQ(s.text, heap);
    TString other("z");
    s = other;
    EXPECT_EQ(s.text, heap);
    EXPECT_EQ(Bytes(s), "z");
    ExpectSound(s);
}

TEST(TStringGrowth, InsertCharacterAtTheInlineLimit)
{
    // 31 characters fill the inline buffer: one more moves to a heap block of exactly 33 bytes.
    TString s(std::string(31, 'a').c_str());
    s.Insert(5, 'X');
    ASSERT_NE(s.heap, nullptr);
    EXPECT_EQ(s.capacity, 33u);
    EXPECT_EQ(Bytes(s), std::string(5, 'a') + "X" + std::string(26, 'a'));
    ExpectSound(s);
    // 32 characters fill 33 bytes: the block doubles.
    s.Insert(32, 'Y');
    EXPECT_EQ(s.capacity, 66u);
    EXPECT_EQ(Bytes(s), std::string(5, 'a') + "X" + std::string(26, 'a') + "Y");
    ExpectSound(s);

    TString t(std::string(31, 'b').c_str());
    t.Insert(31, 'Z'); // at the end
    EXPECT_EQ(Bytes(t), std::string(31, 'b') + "Z");
    ExpectSound(t);
}

TEST(TStringGrowth, SetLengthKeepsBytesAndReserveKeepsText)
{
    TString s("abc");
    s.SetLength(40);
    EXPECT_EQ(s.count, 40u);
    EXPECT_EQ(std::string(s.text, 3), "abc");
    EXPECT_EQ(s.text[40], 0);
    s.SetLength(2);
    EXPECT_EQ(Bytes(s), "ab");

    TString r("hello");
    r.Reserve(100);
    EXPECT_EQ(r.capacity, 100u);
    EXPECT_EQ(Bytes(r), "hello");
    r.Reserve(50); // already large enough
    EXPECT_EQ(r.capacity, 100u);
    ExpectSound(r);

    // An inline text asked for a heap block smaller than itself moves whole into one that holds it.
    TString small("abcdefghijklmnopqrst");
    small.Reserve(4);
    ASSERT_NE(small.heap, nullptr);
    EXPECT_EQ(small.capacity, 21u);
    EXPECT_EQ(Bytes(small), "abcdefghijklmnopqrst");
    ExpectSound(small);
    small += "u";
    EXPECT_EQ(small.capacity, 42u);
    EXPECT_EQ(Bytes(small), "abcdefghijklmnopqrstu");
}

TEST(TStringEmbeddedZeros, SurviveConstructionCopyAndGrowth)
{
    const char raw[] = {'a', 'b', 0, 'c', 'd'};
    TString s(raw, 5);
    EXPECT_EQ(s.count, 5u);
    EXPECT_EQ(Bytes(s), std::string(raw, 5));

    TString copy(s);
    EXPECT_EQ(Bytes(copy), std::string(raw, 5));
    TString assigned;
    assigned = s;
    EXPECT_EQ(Bytes(assigned), std::string(raw, 5));

    // Inline to heap: every byte after the zero must move with the text.
    std::string expect(raw, 5);
    s += std::string(30, 'e').c_str();
    expect += std::string(30, 'e');
    ASSERT_NE(s.heap, nullptr);
    EXPECT_EQ(Bytes(s), expect);
    // Heap to a larger heap block.
    s += std::string(100, 'f').c_str();
    expect += std::string(100, 'f');
    EXPECT_EQ(Bytes(s), expect);
    // An explicit reserve.
    s.Reserve(s.capacity * 3);
    EXPECT_EQ(Bytes(s), expect);
    // Appending a piece that holds zeros.
    s.Append(raw, 5);
    expect.append(raw, 5);
    EXPECT_EQ(Bytes(s), expect);
    ExpectSound(s);

    // A string whose text starts with a zero still moves its bytes.
    const char lead[] = {0, 'x', 'y'};
    TString z(lead, 3);
    z.Reserve(64);
    EXPECT_EQ(Bytes(z), std::string(lead, 3));
}

TEST(TStringAliasing, AppendItself)
{
    TString s("ab");
    s += s;
    EXPECT_EQ(Bytes(s), "abab");

    TString t(std::string(20, 'x').c_str()); // 40 characters: the append crosses to the heap
    t += t;
    EXPECT_EQ(Bytes(t), std::string(40, 'x'));
    ExpectSound(t);

    TString u(std::string(40, 'y').c_str()); // on the heap, growing again
    u += "z";
    u += u;
    EXPECT_EQ(Bytes(u), std::string(40, 'y') + "z" + std::string(40, 'y') + "z");
    ExpectSound(u);

    TString v("0123456789");
    v += v.text + 7; // a tail of its own text
    EXPECT_EQ(Bytes(v), "0123456789789");
    v.Append(v.text + 1, 3);
    EXPECT_EQ(Bytes(v), "0123456789789123");

    TString w(std::string(31, 'w').c_str());
    w.Append(w.text, 31); // source in the inline buffer that is being left
    EXPECT_EQ(Bytes(w), std::string(62, 'w'));
    ExpectSound(w);

    TString p("pq");
    TString sum = p + p;
    EXPECT_EQ(Bytes(sum), "pqpq");
    EXPECT_EQ(Bytes(p), "pq");
}

TEST(TStringAliasing, AssignFromItself)
{
    TString s("abcdef");
    s = s;
    EXPECT_EQ(Bytes(s), "abcdef");
    s.Assign(s.text + 2);
    EXPECT_EQ(Bytes(s), "cdef");
    s.Assign(s.text);
    EXPECT_EQ(Bytes(s), "cdef");

    TString h(("0123456789" + std::string(40, '-')).c_str());
    char* heap = h.heap;
    h.Assign(h.heap); // its own heap buffer: nothing happens
    EXPECT_EQ(h.count, 50u);
    EXPECT_EQ(h.heap, heap);
    h.Assign(h.text + 3);
    EXPECT_EQ(Bytes(h), "3456789" + std::string(40, '-'));
    h.Assign(h.text + 40, 5);
    EXPECT_EQ(Bytes(h), "-----");
    ExpectSound(h);
    h = h.text + 1;
    EXPECT_EQ(Bytes(h), "----");
}

TEST(TStringAliasing, InsertItself)
{
    TString s("abc");
    s.Insert(1, s);
    EXPECT_EQ(Bytes(s), "aabcbc");
    s.Insert(0, s);
    EXPECT_EQ(Bytes(s), "aabcbcaabcbc");
    s.Insert(s.count, s);
    EXPECT_EQ(Bytes(s), "aabcbcaabcbcaabcbcaabcbc");
    // Crossing to the heap, then growing the heap.
    s.Insert(3, s);
    std::string e = "aabcbcaabcbcaabcbcaabcbc";
    e.insert(3, e);
    EXPECT_EQ(Bytes(s), e);
    s.Insert(10, s);
    e.insert(10, e);
    EXPECT_EQ(Bytes(s), e);
    ExpectSound(s);
}

TEST(TStringAliasing, FormatWithItsOwnText)
{
    TString s("abc");
    s.Format(64, "<%s|%s>", s.text, s.text);
    EXPECT_EQ(Bytes(s), "<abc|abc>");
    ExpectSound(s);

    TString t(std::string(40, 'k').c_str());
    t.Format(200, "%s%s%s", t.text, "-", t.text); // grows while its argument is its own buffer
    EXPECT_EQ(Bytes(t), std::string(40, 'k') + "-" + std::string(40, 'k'));
    ExpectSound(t);

    TString u("0123456789");
    u.Format(4, "%s", u.text + 2);
    EXPECT_EQ(Bytes(u), "2345");
}

TEST(TStringAliasing, SubIntoItself)
{
    TString s("abcdef");
    s.Sub(1, 3, s);
    EXPECT_EQ(Bytes(s), "bcd");
    TString h(std::string(50, 'h').c_str());
    h.text[45] = 'Z';
    h.Sub(-5, -5, h);
    EXPECT_EQ(Bytes(h), "Z");
}

TEST(TStringOps, SubWithNegativeIndices)
{
    const TString s("abcdef");
    TString out("old");
    s.Sub(-3, -1, out);
    EXPECT_EQ(Bytes(out), "def");
    s.Sub(4, 2, out);
    EXPECT_EQ(Bytes(out), "");
    s.Sub(0, 5, out);
    EXPECT_EQ(Bytes(out), "abcdef");
    s.Sub(-6, 1, out);
    EXPECT_EQ(Bytes(out), "ab");
    s.Sub(2, -4, out);
    EXPECT_EQ(Bytes(out), "c");
    s.Sub(-1, 0, out); // end before start
    EXPECT_EQ(Bytes(out), "");
}

TEST(TStringOps, SubOutOfRangeIsCaught)
{
    const TString s("abcdef");
    TString out("old");
    {
        TExpectBreak e("r1 >= count");
        s.Sub(0, 6, out);
        EXPECT_EQ(Bytes(out), "");
    }
    {
        TExpectBreak e0("r0 >= count");
        TExpectBreak e1("r1 >= count");
        out = "old";
        s.Sub(6, 6, out);
        EXPECT_EQ(Bytes(out), "");
    }
    {
        // An index below -count is caught as well, never read before the text.
        TExpectBreak e("r0 >= count");
        out = "old";
        s.Sub(-7, 2, out);
        EXPECT_EQ(Bytes(out), "");
    }
    {
        TExpectBreak e("r1 >= count");
        out = "old";
        s.Sub(0, -100, out);
        EXPECT_EQ(Bytes(out), "");
    }
    {
        TExpectBreak e0("r0 >= count");
        TExpectBreak e1("r1 >= count");
        TString empty;
        out = "old";
        empty.Sub(0, -1, out);
        EXPECT_EQ(Bytes(out), "");
    }
    EXPECT_EQ(Bytes(s), "abcdef");
    // The assertion names the expression, the source file and asks about debugging.
    ASSERT_FALSE(RecordedBoxes().empty());
    const SRecordedBox& box = RecordedBoxes()[0];
    EXPECT_EQ(box.kind, SYSBOX_Assert);
    EXPECT_EQ(box.caption, "BREAK_IF");
    EXPECT_EQ(box.text.rfind("It is detected that the program is in invalid state:\nr1 >= count\n\nFile: GString", 0), 0u)
        << box.text;
    EXPECT_NE(box.text.find("\nLine: "), std::string::npos);
    EXPECT_NE(box.text.find("\n\nDo you want to debug the program?"), std::string::npos);
}

TEST(TStringOps, InsertAndRemove)
{
    TString s("abef");
    s.Insert(2, TString("cd"));
    EXPECT_EQ(Bytes(s), "abcdef");
    s.Insert(6, TString("gh"));
    EXPECT_EQ(Bytes(s), "abcdefgh");
    s.Insert(0, '_');
    EXPECT_EQ(Bytes(s), "_abcdefgh");
    s.Insert(9, '!');
    EXPECT_EQ(Bytes(s), "_abcdefgh!");
    s.Insert(3, TString());
    EXPECT_EQ(Bytes(s), "_abcdefgh!");
    s.Remove(0, 0);
    EXPECT_EQ(Bytes(s), "abcdefgh!");
    s.Remove(2, 4);
    EXPECT_EQ(Bytes(s), "abfgh!");
    s.Remove(5, 5);
    EXPECT_EQ(Bytes(s), "abfgh");
    s.Remove(0, 4);
    EXPECT_EQ(Bytes(s), "");
    ExpectSound(s);
}

TEST(TStringOps, FailedAssertionsLeaveTheStringUnchanged)
{
    TString s("abcdef");
    {
        TExpectBreak e("af > count", 2);
        s.Insert(7, TString("xyz"));
        s.Insert(7, 'x');
    }
    EXPECT_EQ(Bytes(s), "abcdef");
    {
        TExpectBreak e("from >= count || to >= count || from > to", 4);
        s.Remove(3, 2);
        s.Remove(6, 6);
        s.Remove(0, 6);
        TString empty;
        empty.Remove(0, 0);
        EXPECT_EQ(Bytes(empty), "");
    }
    EXPECT_EQ(Bytes(s), "abcdef");
    {
        TExpectBreak e("at >= count");
        const char* p = s.At(6);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(*p, 0);
    }
    EXPECT_EQ(Bytes(s), "abcdef");
    EXPECT_EQ(*s.At(5), 'f');

    // The same on a heap string.
    TString h(std::string(40, 'h').c_str());
    u32 cap = h.capacity;
    {
        TExpectBreak e("af > count", 2);
        h.Insert(41, h);
        h.Insert(100, 'x');
    }
    EXPECT_EQ(Bytes(h), std::string(40, 'h'));
    EXPECT_EQ(h.capacity, cap);
}

TEST(TStringOps, FormatBoundsAndCount)
{
    TString s;
    s.Format(8, "%s", "0123456789abcdef");
    EXPECT_EQ(Bytes(s), "01234567");
    s.Format(8, "%d", 42);
    EXPECT_EQ(Bytes(s), "42");
    s.Format(8, "%s", "01234567"); // fills exactly
    EXPECT_EQ(Bytes(s), "01234567");
    s.Format(0, "%s", "abc");
    EXPECT_EQ(Bytes(s), "");
    ExpectSound(s);

    TString big;
    big.Format(4096, "%s|%05d|%.2f", std::string(1000, 'm').c_str(), 17, 2.5);
    EXPECT_EQ(Bytes(big), std::string(1000, 'm') + "|00017|2.50");
    EXPECT_LE(big.count, 4096u);
    ExpectSound(big);
    big.Format(100, "%s", std::string(1000, 'n').c_str());
    EXPECT_EQ(Bytes(big), std::string(100, 'n'));
    ExpectSound(big);
}

TEST(TStringOps, CompareAndLower)
{
    EXPECT_TRUE(TString("ab") < TString("abc"));
    EXPECT_FALSE(TString("abc") < TString("ab"));
    EXPECT_TRUE(TString("z") < TString("\xC8")); // bytes above 127 sort after ASCII
    EXPECT_TRUE(TString("abc") == "abc");
    EXPECT_TRUE(TString("abc") != TString("abd"));
    EXPECT_FALSE(TString("abc") == nullptr);
    TString mixed("AbC\xC4z-Q");
    EXPECT_EQ(Bytes(mixed.ToLower()), "abc\xC4z-q");
    EXPECT_EQ(Bytes(mixed), "AbC\xC4z-Q");
}

// Random edits checked against std::string; several of them use the string's own text.
TEST(TStringOps, RandomEditsMatchStdString)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 50; ++round)
    {
        TString s;
        std::string ref;
        for (int step = 0; step < 200; ++step)
        {
            std::string piece(rng() % 12, 'a' + (char)(rng() % 26));
            u32 n = (u32)ref.size();
            switch (rng() % 8)
            {
            case 0:
                s += piece.c_str();
                ref += piece;
                break;
            case 1:
                if (n)
                {
                    u32 at = rng() % n;
                    u32 len = 1 + rng() % (n - at);
                    s.Append(s.text + at, len);
                    ref += ref.substr(at, len);
                }
                break;
            case 2:
            {
                u32 at = rng() % (n + 1);
                s.Insert(at, TString(piece.c_str()));
                ref.insert(at, piece);
                break;
            }
            case 3:
            {
                u32 at = rng() % (n + 1);
                char c = (char)('A' + rng() % 26);
                s.Insert(at, c);
                ref.insert(ref.begin() + at, c);
                break;
            }
            case 4:
                if (n)
                {
                    u32 from = rng() % n;
                    u32 to = from + rng() % (n - from);
                    s.Remove(from, to);
                    ref.erase(from, to - from + 1);
                }
                break;
            case 5:
                if (n)
                {
                    int a = (int)(rng() % n), b = (int)(rng() % n);
                    TString out;
                    s.Sub(a - (int)n * (int)(rng() % 2), b - (int)n * (int)(rng() % 2), out);
                    EXPECT_EQ(Bytes(out), b >= a ? ref.substr(a, b - a + 1) : std::string());
                }
                break;
            case 6:
                if (n > 200)
                {
                    s.Assign(s.text + n / 2);
                    ref = ref.substr(n / 2);
                }
                break;
            case 7:
                if (n < 300)
                {
                    u32 at = rng() % (n + 1);
                    s.Insert(at, s);
                    ref.insert(at, ref);
                }
                break;
            }
            ASSERT_EQ(Bytes(s), ref) << "round " << round << " step " << step;
        }
        ExpectSound(s);
    }
}
