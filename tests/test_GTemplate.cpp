#include "TestSupport.h"

#include "GTemplate.h"

#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// An element that counts its constructions and destructions and owns a heap string, so that a
// missed or doubled destruction shows as an imbalance (and as a leak or double free under ASan).
struct TCounted
{
    static int constructed;
    static int destroyed;
    static int Live() { return constructed - destroyed; }
    static void Reset() { constructed = destroyed = 0; }

    int value;
    TString payload;

    TCounted() : value(-1) { ++constructed; }
    TCounted(int v) : value(v)
    {
        ++constructed;
        char buf[64];
        snprintf(buf, sizeof(buf), "payload number %d, long enough for the heap", v);
        payload = buf;
    }
    TCounted(const TCounted& o) : value(o.value), payload(o.payload) { ++constructed; }
    TCounted& operator=(const TCounted& o)
    {
        value = o.value;
        payload = o.payload;
        return *this;
    }
    ~TCounted() { ++destroyed; }
    bool operator==(const TCounted& o) const { return value == o.value; }
    bool operator<(const TCounted& o) const { return value < o.value; }
};
int TCounted::constructed = 0;
int TCounted::destroyed = 0;

static std::vector<int> Values(const TArray<TCounted>& a)
{
    std::vector<int> v;
    for (u32 i = 0; i < a.count; ++i)
        v.push_back(a.data[i].value);
    return v;
}

static TString LongString(const char* prefix, int i)
{
    char buf[96];
    snprintf(buf, sizeof(buf), "%s %d padded past the inline buffer of the string", prefix, i);
    return TString(buf);
}

// Runs statement in a forked child inside a temporary folder (the fatal path writes error.log).
#define EXPECT_FATAL(statement)                                                                              \
    do                                                                                                       \
    {                                                                                                        \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                                                      \
        TTempDir fatalDir;                                                                                   \
        EXPECT_EXIT(                                                                                         \
            {                                                                                                \
                if (chdir(fatalDir.Path().c_str()) != 0)                                                     \
                    _exit(1);                                                                                \
                statement;                                                                                   \
            },                                                                                               \
            ::testing::ExitedWithCode(222), "ASSERT");                                                       \
    } while (0)

// ---------------------------------------------------------------------------------------------
// Growth rules

TEST(TArray, GrowthDoublesFromOneAndReserveRules)
{
    TArray<int> a;
    const u32 expected[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
    for (int i = 0; i < 9; ++i)
    {
        a.Add(i);
        EXPECT_EQ(a.capacity, expected[i]) << "after insert " << i + 1;
    }
    EXPECT_EQ(a.count, 9u);

    TArray<int> b;
    b.Reserve(8, true);
    EXPECT_EQ(b.capacity, 8u);
    b.Reserve(10);
    EXPECT_EQ(b.capacity, 16u); // twice the old capacity wins
    TArray<int> c;
    c.Reserve(8, true);
    c.Reserve(20);
    EXPECT_EQ(c.capacity, 20u); // the request wins
    c.Reserve(5);
    EXPECT_EQ(c.capacity, 20u); // never shrinks when not exact

    // Exact reservations: exactly n, never below count.
    for (int i = 0; i < 6; ++i)
        c.Add(i * 10);
    c.Reserve(7, true);
    EXPECT_EQ(c.capacity, 7u);
    c.Reserve(2, true);
    EXPECT_EQ(c.capacity, 6u);
    EXPECT_EQ(c.count, 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(c[i], i * 10);

    c.Reserve(0, true);
    EXPECT_EQ(c.data, nullptr);
    EXPECT_EQ(c.capacity, 0u);
    EXPECT_EQ(c.count, 0u);
}

TEST(TPodArray, GrowthDoublesFromOneAndReserveRules)
{
    TPodArray<u16> a;
    const u32 expected[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
    for (int i = 0; i < 9; ++i)
    {
        a.Add((u16)(i * 3));
        EXPECT_EQ(a.capacity, expected[i]);
    }
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(a[i], i * 3);

    TPodArray<u8> b;
    b.Reserve(8, true);
    b.Reserve(10);
    EXPECT_EQ(b.capacity, 16u);
    TPodArray<u8> c;
    c.Reserve(8, true);
    c.Reserve(20);
    EXPECT_EQ(c.capacity, 20u);

    a.Reserve(0, true);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.capacity, 0u);
    EXPECT_EQ(a.count, 0u);
}

TEST(TArray, ResizeConstructsAndDestroysExactlyTheDifference)
{
    TCounted::Reset();
    {
        TArray<TCounted> a;
        a.Resize(5);
        EXPECT_EQ(TCounted::Live(), 5);
        for (u32 i = 0; i < 5; ++i)
            EXPECT_EQ(a[i].value, -1);
        a.Resize(2);
        EXPECT_EQ(TCounted::Live(), 2);
        EXPECT_EQ(a.capacity, 5u);
        a.Resize(40);
        EXPECT_EQ(TCounted::Live(), 40);
        EXPECT_EQ(a.capacity, 40u);
    }
    EXPECT_EQ(TCounted::Live(), 0);
}

// ---------------------------------------------------------------------------------------------
// Insert, remove and their refusals

TEST(TArray, InsertPlacesValueAndShiftsTail)
{
    TCounted::Reset();
    {
        TArray<TCounted> a;
        for (int i = 0; i < 5; ++i)
            a.Add(TCounted(i));
        a.Insert(0, TCounted(100));
        a.Insert(3, TCounted(200));
        a.Insert(a.count, TCounted(300));
        EXPECT_EQ(Values(a), (std::vector<int>{100, 0, 1, 200, 2, 3, 4, 300}));
        EXPECT_EQ(a[3].payload, TString("payload number 200, long enough for the heap"));
        EXPECT_EQ(TCounted::Live(), 8);

        EXPECT_TRUE(a.RemoveRange(1, 3));
        EXPECT_EQ(Values(a), (std::vector<int>{100, 2, 3, 4, 300}));
        EXPECT_EQ(TCounted::Live(), 5);
        EXPECT_TRUE(a.RemoveRange(2, 2));
        EXPECT_EQ(Values(a), (std::vector<int>{100, 2, 4, 300}));
        EXPECT_TRUE(a.RemoveRange(0, 3));
        EXPECT_EQ(a.count, 0u);
        EXPECT_EQ(TCounted::Live(), 0);
    }
    EXPECT_EQ(TCounted::Live(), 0);
}

TEST(TArray, RemoveRangeOfFiveKeepsOrder)
{
    TArray<TString> a;
    for (int i = 0; i < 5; ++i)
        a.Add(LongString("s", i));
    EXPECT_TRUE(a.RemoveRange(2, 2));
    ASSERT_EQ(a.count, 4u);
    EXPECT_EQ(a[2], LongString("s", 3));
    EXPECT_EQ(a[3], LongString("s", 4));
}

// Shifting elements moves them: a long string keeps its heap buffer wherever it ends up, for
// insertions and removals alike.
TEST(TArray, ShiftedStringsKeepTheirBuffers)
{
    struct SCase
    {
        const char* what;
        void (*change)(TArray<TString>& a);
        std::vector<int> from; // for each element after the change, its index before it (-1: new)
    };
    const SCase cases[] = {
        {"insert at the front", [](TArray<TString>& a) { a.Insert(0, LongString("new", 9)); }, {-1, 0, 1, 2, 3, 4}},
        {"insert in the middle", [](TArray<TString>& a) { a.Insert(2, LongString("new", 9)); }, {0, 1, -1, 2, 3, 4}},
        {"remove the front two", [](TArray<TString>& a) { a.RemoveRange(0, 1); }, {2, 3, 4}},
        {"remove one in the middle", [](TArray<TString>& a) { a.Remove(2); }, {0, 1, 3, 4}},
    };
    for (const SCase& c : cases)
    {
        TArray<TString> a;
        a.Reserve(8);
        for (int i = 0; i < 5; ++i)
            a.Add(LongString("s", i));
        std::vector<const char*> buffers;
        for (const TString& s : a)
            buffers.push_back(s.Str());
        c.change(a);
        ASSERT_EQ(a.Count(), (u32)c.from.size()) << c.what;
        for (u32 i = 0; i < a.Count(); ++i)
        {
            if (c.from[i] < 0)
                continue;
            EXPECT_EQ(a[i], LongString("s", c.from[i])) << c.what << " at " << i;
            EXPECT_EQ(a[i].Str(), buffers[c.from[i]]) << c.what << " at " << i;
        }
    }
}

TEST(TArray, BadIndicesAreRefusedAndLeaveTheArrayUnchanged)
{
    TArray<TCounted> a;
    for (int i = 0; i < 4; ++i)
        a.Add(TCounted(i));
    TCounted::Reset();
    {
        TExpectBreak expect("i > count");
        EXPECT_EQ(a.Insert(5, TCounted(9)), -1);
    }
    {
        TExpectBreak expect("from >= count || to >= count || from > to", 3);
        EXPECT_FALSE(a.RemoveRange(2, 1));
        EXPECT_FALSE(a.RemoveRange(1, 4));
        EXPECT_FALSE(a.RemoveRange(4, 4));
    }
    EXPECT_EQ(Values(a), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(a.capacity, 4u);
    EXPECT_EQ(TCounted::Live(), 0); // only the refused temporary came and went

    TPodArray<int> p;
    p.Add(1);
    p.Add(2);
    {
        TExpectBreak expect("i > count");
        EXPECT_EQ(p.Insert(3, 7), -1);
    }
    {
        TExpectBreak expect("from >= count");
        EXPECT_FALSE(p.RemoveRange(0, 2));
    }
    ASSERT_EQ(p.count, 2u);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], 2);
}

TEST(TArray, OutOfRangeAccessorsEndWithTheFatalAssertion)
{
    TArray<int> a;
    a.Add(1);
    EXPECT_FATAL({
        TExpectBreak expect("at >= count");
        a.At(1) = 5;
    });
    EXPECT_FATAL({
        TExpectBreak expect("at >= count");
        const TArray<int>& c = a;
        (void)c[7];
    });
    TArray<int> empty;
    EXPECT_FATAL({
        TExpectBreak expect("count == 0");
        empty.Last() = 1;
    });
    TPodArray<float> p;
    EXPECT_FATAL({
        TExpectBreak expect("at >= count");
        p[0] = 1;
    });
    EXPECT_EQ(a[0], 1); // the parent's array is untouched
}

TEST(TArray, InsertingAnOwnElementAtFullCapacityCopiesTheRightValue)
{
    // At full capacity the insert reallocates; the source element must not be read after that.
    for (u32 k = 0; k < 4; ++k)
        for (u32 at = 0; at <= 4; ++at)
        {
            TArray<TString> a;
            for (int i = 0; i < 4; ++i)
                a.Add(LongString("e", i));
            ASSERT_EQ(a.capacity, a.count);
            EXPECT_EQ(a.Insert(at, a[k]), (int)at);
            ASSERT_EQ(a.count, 5u);
            EXPECT_EQ(a[at], LongString("e", (int)k)) << "k=" << k << " at=" << at;
            // The rest is the old sequence in order.
            u32 src = 0;
            for (u32 i = 0; i < 5; ++i)
            {
                if (i == at)
                    continue;
                EXPECT_EQ(a[i], LongString("e", (int)src++));
            }
        }

    // With spare room the shift moves the source element itself.
    TArray<TString> b;
    b.Reserve(8, true);
    for (int i = 0; i < 4; ++i)
        b.Add(LongString("f", i));
    b.Insert(0, b[2]);
    EXPECT_EQ(b[0], LongString("f", 2));
    EXPECT_EQ(b[3], LongString("f", 2));

    TPodArray<int> p;
    for (int i = 0; i < 4; ++i)
        p.Add(i * 11);
    p.Insert(1, p[3]);
    EXPECT_EQ(p[1], 33);
    EXPECT_EQ(p[4], 33);
    p.Append(p.data, p.count); // doubles itself although the storage moves
    ASSERT_EQ(p.count, 10u);
    EXPECT_EQ(p[5], 0);
    EXPECT_EQ(p[9], 33);
}

TEST(TArray, CapacityOverflowIsRefused)
{
    // An array that already holds the largest count cannot grow; the state is planted directly.
    TPodArray<u8> full;
    u8 cell = 7;
    full.data = &cell;
    full.capacity = 0xFFFFFFFFu;
    full.count = 0xFFFFFFFFu;
    {
        TExpectBreak expect("count == capacity");
        EXPECT_EQ(full.Insert(0, 1), -1);
    }
    EXPECT_EQ(full.count, 0xFFFFFFFFu);
    EXPECT_EQ(cell, 7);
    full.data = nullptr;
    full.capacity = full.count = 0;

    TArray<int> fullObjects;
    int objectCell = 3;
    fullObjects.data = &objectCell;
    fullObjects.capacity = 0xFFFFFFFFu;
    fullObjects.count = 0xFFFFFFFFu;
    {
        TExpectBreak expect("count == capacity");
        EXPECT_EQ(fullObjects.Add(1), -1);
    }
    fullObjects.data = nullptr;
    fullObjects.capacity = fullObjects.count = 0;

    // A byte size that does not fit size_t is refused before any allocation.
    struct Huge
    {
        char bytes[1ull << 33];
    };
    TPodArray<Huge> huge;
    {
        TExpectBreak expect("SIZE_MAX / elementSize");
        EXPECT_FALSE(huge.Reserve(0x80000000u, true));
    }
    EXPECT_EQ(huge.data, nullptr);
    EXPECT_EQ(huge.capacity, 0u);
    TArray<Huge> hugeObjects;
    {
        TExpectBreak expect("SIZE_MAX / elementSize");
        EXPECT_FALSE(hugeObjects.Reserve(0x80000000u));
    }
    EXPECT_EQ(hugeObjects.capacity, 0u);
}

// ---------------------------------------------------------------------------------------------
// Copies and object lifetimes

TEST(TArray, CountedElementsBalanceThroughEveryOperation)
{
    TCounted::Reset();
    {
        TArray<TCounted> a;
        for (int i = 0; i < 37; ++i)
            a.Add(TCounted(i)); // several reallocations
        EXPECT_EQ(TCounted::Live(), 37);
        a.Insert(10, TCounted(-5));
        a.Insert(0, a[20]);
        EXPECT_EQ(TCounted::Live(), 39);
        a.RemoveRange(5, 14);
        EXPECT_EQ(TCounted::Live(), 29);
        {
            TArray<TCounted> b(a);
            EXPECT_EQ(TCounted::Live(), 58);
            EXPECT_EQ(Values(b), Values(a));
            TArray<TCounted> c;
            c.Add(TCounted(1000));
            c = b; // assignment over existing content
            c = c; // self-assignment keeps it
            EXPECT_EQ(Values(c), Values(a));
            EXPECT_EQ(TCounted::Live(), 87);
            c.Reserve(0, true);
            EXPECT_EQ(TCounted::Live(), 58);
        }
        EXPECT_EQ(TCounted::Live(), 29);
        a.Reserve(100, true);
        EXPECT_EQ(TCounted::Live(), 29);
        a.Resize(3);
        EXPECT_EQ(TCounted::Live(), 3);
    }
    EXPECT_EQ(TCounted::Live(), 0);
}

TEST(TArray, CopiesAreDeepForStringsAndNestedArrays)
{
    TArray<TArray<TString>> outer;
    for (int i = 0; i < 3; ++i)
    {
        TArray<TString> inner;
        for (int j = 0; j <= i; ++j)
            inner.Add(LongString("cell", i * 10 + j));
        outer.Add(inner);
    }
    TArray<TArray<TString>> copy(outer);
    ASSERT_EQ(copy.count, 3u);
    EXPECT_NE(copy.data, outer.data);
    EXPECT_NE(copy[2].data, outer[2].data);
    EXPECT_NE(copy[2][1].text, outer[2][1].text);

    copy[2][1] = "changed";
    copy[0].Add("added");
    EXPECT_EQ(outer[2][1], LongString("cell", 21));
    EXPECT_EQ(outer[0].count, 1u);

    TArray<TArray<TString>> assigned;
    assigned.Add(copy[1]);
    assigned = outer;
    outer.Clear();
    ASSERT_EQ(assigned.count, 3u);
    EXPECT_EQ(assigned[2][2], LongString("cell", 22));

    TPodArray<int> pod;
    for (int i = 0; i < 10; ++i)
        pod.Add(i);
    TPodArray<int> podCopy(pod);
    podCopy[3] = 99;
    EXPECT_EQ(pod[3], 3);
    EXPECT_NE(pod.data, podCopy.data);
}

// ---------------------------------------------------------------------------------------------
// TMap

// Checks ordering, colours and black heights below n; returns the black height or -1.
template <class K, class V>
static int CheckSubtree(const typename TMap<K, V>::Node* n, u32& nodes, std::string& why)
{
    if (!n)
        return 1;
    ++nodes;
    const typename TMap<K, V>::Node* l = n->Child(0);
    const typename TMap<K, V>::Node* r = n->Child(1);
    if (n->red && ((l && l->red) || (r && r->red)))
    {
        why = "red node with a red child";
        return -1;
    }
    if (n->red > 1)
    {
        why = "colour word is neither 0 nor 1";
        return -1;
    }
    if ((l && !(TMapCompare(l->key, n->key) < 0)) || (r && !(TMapCompare(n->key, r->key) < 0)))
    {
        why = "children out of order";
        return -1;
    }
    int hl = CheckSubtree<K, V>(l, nodes, why);
    int hr = CheckSubtree<K, V>(r, nodes, why);
    if (hl < 0 || hr < 0)
        return -1;
    if (hl != hr)
    {
        why = "black heights differ";
        return -1;
    }
    return hl + (n->red ? 0 : 1);
}

template <class K, class V> static ::testing::AssertionResult IsRedBlack(const TMap<K, V>& m)
{
    if (m.root && m.root->red)
        return ::testing::AssertionFailure() << "red root";
    u32 nodes = 0;
    std::string why;
    if (CheckSubtree<K, V>(m.root, nodes, why) < 0)
        return ::testing::AssertionFailure() << why;
    if (nodes != m.count)
        return ::testing::AssertionFailure() << "count " << m.count << " but " << nodes << " nodes";
    return ::testing::AssertionSuccess();
}

template <class K, class V>
static void PathLengths(const typename TMap<K, V>::Node* n, int depth, int& shortest, int& longest)
{
    if (!n)
    {
        if (depth < shortest)
            shortest = depth;
        if (depth > longest)
            longest = depth;
        return;
    }
    PathLengths<K, V>(n->Child(0), depth + 1, shortest, longest);
    PathLengths<K, V>(n->Child(1), depth + 1, shortest, longest);
}

static std::string RandomKey(std::mt19937& rng)
{
    // Short keys from a small alphabet that includes bytes above 127, so keys collide and
    // the unsigned order matters.
    static const unsigned char alphabet[] = {'a', 'b', 'Z', '0', 0x7F, 0x80, 0xC3, 0xE9, 0xFF};
    std::uniform_int_distribution<int> len(1, 3), pick(0, sizeof(alphabet) - 1);
    std::string s;
    int n = len(rng);
    for (int i = 0; i < n; ++i)
        s.push_back((char)alphabet[pick(rng)]);
    return s;
}

// std::string compares as unsigned char: the same order the map must use.
TEST(TMap, RandomOperationsMatchStdMapAndKeepRedBlackInvariants)
{
    std::mt19937 rng(12345);
    TMap<TString, int> m;
    std::map<std::string, int> ref;
    std::uniform_int_distribution<int> op(0, 9);
    for (int step = 0; step < 6000; ++step)
    {
        std::string k = RandomKey(rng);
        TString key(k.c_str());
        int o = op(rng);
        if (o < 5)
        {
            auto* node = m.Insert(key, step);
            bool fresh = ref.emplace(k, step).second;
            ASSERT_EQ(node != nullptr, fresh) << "step " << step;
            if (node)
            {
                EXPECT_EQ(node->key, key);
                EXPECT_EQ(node->value, step);
            }
        }
        else if (o < 8)
        {
            int removed = m.Remove(key);
            ASSERT_EQ(removed, (int)ref.erase(k)) << "step " << step;
        }
        else
        {
            auto* node = m.Find(key);
            auto it = ref.find(k);
            ASSERT_EQ(node != nullptr, it != ref.end());
            if (node)
            {
                EXPECT_EQ(node->value, it->second);
            }
        }
        ASSERT_TRUE(IsRedBlack(m)) << "step " << step;
        ASSERT_EQ(m.count, ref.size());

        if (step % 50 == 0)
        {
            auto r = ref.begin();
            for (TMap<TString, int>::Iterator it(m); it.IsValid(); it.Next(), ++r)
            {
                ASSERT_NE(r, ref.end());
                EXPECT_EQ(std::string(it.Key().text), r->first);
                EXPECT_EQ(it.Value(), r->second);
            }
            EXPECT_EQ(r, ref.end());
        }
    }
}

TEST(TMap, AscendingKeysStayBalancedAndIterateInOrder)
{
    TMap<int, int> m;
    for (int i = 0; i < 1000; ++i)
        ASSERT_NE(m.Insert(i, i * 2), nullptr);
    int shortest = 1 << 30, longest = 0;
    PathLengths<int, int>(m.root, 0, shortest, longest);
    EXPECT_LE(longest, 2 * shortest);
    EXPECT_TRUE(IsRedBlack(m));

    int expect = 0;
    for (TMap<int, int>::Iterator it(m); it.IsValid(); it.Next())
    {
        EXPECT_EQ(it.Key(), expect);
        EXPECT_EQ(it.Value(), expect * 2);
        ++expect;
    }
    EXPECT_EQ(expect, 1000);

    for (int i = 0; i < 1000; i += 2)
        ASSERT_EQ(m.Remove(i), 1);
    EXPECT_EQ(m.Remove(0), 0);
    EXPECT_EQ(m.count, 500u);
    shortest = 1 << 30;
    longest = 0;
    PathLengths<int, int>(m.root, 0, shortest, longest);
    EXPECT_LE(longest, 2 * shortest);
    EXPECT_TRUE(IsRedBlack(m));
    expect = 1;
    for (TMap<int, int>::Iterator it(m); it.IsValid(); it.Next())
    {
        EXPECT_EQ(it.Key(), expect);
        expect += 2;
    }
    EXPECT_EQ(expect, 1001);
}

TEST(TMap, ExistingKeysKeepTheirValues)
{
    TMap<TString, TString> m;
    ASSERT_NE(m.Insert("alpha", "one"), nullptr);
    EXPECT_EQ(m.Insert("alpha", "two"), nullptr);
    EXPECT_EQ(m.Find("alpha")->value, TString("one"));
    EXPECT_EQ(m.count, 1u);

    EXPECT_EQ(m.GetOrAdd("alpha"), TString("one"));
    TString& fresh = m.GetOrAdd("beta");
    EXPECT_TRUE(fresh.IsEmpty());
    fresh = "set through the reference";
    EXPECT_EQ(m.Find("beta")->value, TString("set through the reference"));
    EXPECT_EQ(m.count, 2u);
    EXPECT_EQ(m.Find("gamma"), nullptr);
    EXPECT_EQ(m.FindValue("gamma"), nullptr);
}

TEST(TMap, StringKeysOrderBytesAsUnsigned)
{
    TMap<TString, int> m;
    m.Insert("\xC3\xA9t\xC3\xA9", 3);
    m.Insert("zebra", 2);
    m.Insert("Zebra", 1);
    m.Insert("ab", 0);
    m.Insert("abc", 0);
    std::vector<std::string> order;
    for (TMap<TString, int>::Iterator it(m); it.IsValid(); it.Next())
        order.push_back(it.Key().text);
    EXPECT_EQ(order, (std::vector<std::string>{"Zebra", "ab", "abc", "zebra", "\xC3\xA9t\xC3\xA9"}));
}

TEST(TMap, EmptyMapAndEndOfIteration)
{
    TMap<int, int> m;
    EXPECT_EQ(m.Remove(3), 0);
    EXPECT_EQ(m.Find(3), nullptr);
    TMap<int, int>::Iterator it(m);
    EXPECT_FALSE(it.IsValid());
    EXPECT_EQ(it.Next(), nullptr);
    EXPECT_FATAL({
        TExpectBreak expect("current == nullptr");
        (void)it.Value();
    });
    m.Insert(1, 1);
    TMap<int, int>::Iterator one(m);
    EXPECT_EQ(one.Key(), 1);
    EXPECT_EQ(one.Next(), nullptr);
    EXPECT_EQ(one.Next(), nullptr);
    EXPECT_EQ(one.First(), m.root);
}

TEST(TMap, CopiesAreDeepAndObjectsBalance)
{
    TCounted::Reset();
    {
        TMap<TString, TArray<TCounted>> m;
        for (int i = 0; i < 200; ++i)
        {
            TArray<TCounted>& v = m.GetOrAdd(LongString("key", i));
            for (int j = 0; j < i % 4; ++j)
                v.Add(TCounted(i * 10 + j));
        }
        const int live = TCounted::Live();
        TMap<TString, TArray<TCounted>> copy(m);
        EXPECT_EQ(TCounted::Live(), 2 * live);
        EXPECT_TRUE(IsRedBlack(copy));
        copy.Find(LongString("key", 7))->value[0].value = -7;
        EXPECT_EQ(m.Find(LongString("key", 7))->value[0].value, 70);

        for (int i = 0; i < 200; i += 3)
            ASSERT_EQ(copy.Remove(LongString("key", i)), 1);
        EXPECT_TRUE(IsRedBlack(copy));
        copy = m;
        copy = copy;
        EXPECT_EQ(copy.count, 200u);
        EXPECT_EQ(TCounted::Live(), 2 * live);
        m.Clear();
        EXPECT_EQ(m.root, nullptr);
        EXPECT_EQ(m.count, 0u);
        EXPECT_EQ(TCounted::Live(), live);
        ASSERT_NE(copy.Find(LongString("key", 199)), nullptr);
        EXPECT_EQ(copy.Find(LongString("key", 199))->value[2].value, 1992);
    }
    EXPECT_EQ(TCounted::Live(), 0);
}

TEST(TMap, RemovingByAKeyStoredInTheMapWorks)
{
    // The key argument may be the stored key of the node being removed or of its neighbour.
    TMap<TString, int> m;
    for (int i = 0; i < 64; ++i)
        m.Insert(LongString("k", i), i);
    for (int i = 0; i < 64; ++i)
    {
        TMap<TString, int>::Iterator it(m);
        ASSERT_TRUE(it.IsValid());
        ASSERT_EQ(m.Remove(it.Key()), 1);
        ASSERT_TRUE(IsRedBlack(m));
    }
    EXPECT_EQ(m.count, 0u);
    EXPECT_EQ(m.root, nullptr);
}

// ---------------------------------------------------------------------------------------------
// TList

TEST(TList, AddFindRemoveAndCopyKeepOrder)
{
    TCounted::Reset();
    {
        TList<TCounted> l;
        for (int i = 0; i < 5; ++i)
            l.Add(TCounted(i));
        EXPECT_EQ(l.count, 5u);
        std::vector<int> order;
        for (auto* n = l.head; n; n = n->next)
            order.push_back(n->value.value);
        EXPECT_EQ(order, (std::vector<int>{4, 3, 2, 1, 0}));

        ASSERT_NE(l.Find(TCounted(2)), nullptr);
        EXPECT_EQ(l.Remove(TCounted(2)), 1);
        EXPECT_EQ(l.Remove(TCounted(2)), 0);
        EXPECT_EQ(l.Find(TCounted(2)), nullptr);
        EXPECT_EQ(l.Remove(TCounted(4)), 1); // the head
        EXPECT_EQ(l.Remove(TCounted(0)), 1); // the tail
        EXPECT_EQ(l.count, 2u);
        EXPECT_EQ(TCounted::Live(), 2);

        TList<TCounted> copy(l);
        copy.head->value.value = 33;
        std::vector<int> a, b;
        for (auto* n = l.head; n; n = n->next)
            a.push_back(n->value.value);
        for (auto* n = copy.head; n; n = n->next)
            b.push_back(n->value.value);
        EXPECT_EQ(a, (std::vector<int>{3, 1}));
        EXPECT_EQ(b, (std::vector<int>{33, 1}));
        EXPECT_EQ(TCounted::Live(), 4);

        copy = copy;
        copy = l;
        EXPECT_EQ(copy.count, 2u);
        EXPECT_EQ(copy.head->value.value, 3);
        l.Clear();
        EXPECT_EQ(l.head, nullptr);
        EXPECT_EQ(l.count, 0u);
        EXPECT_EQ(l.serial, 0u);
        EXPECT_EQ(TCounted::Live(), 2);
    }
    EXPECT_EQ(TCounted::Live(), 0);
}
