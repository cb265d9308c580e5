#include "TestSupport.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <fenv.h>
#include <float.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "GameSys.h"

static std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

static void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

// ---------------------------------------------------------------------------------------------
// Memory and byte strings

TEST(GameSysMemory, AlignedBlocks)
{
    for (size_t size : {0, 1, 3, 15, 16, 17, 100, 4097})
    {
        u8* p = (u8*)MemAlloc(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ((uintptr_t)p % 16, 0u) << size;
        gMemSet(p, 0xAB, size); // the whole block is usable (ASan checks the bounds)
        MemFree(p);
    }
    MemFree(nullptr);

    char a[8] = "abcdefg";
    gMemMove(a + 1, a, 5);
    EXPECT_STREQ(a, "aabcdeg");
    char b[8];
    EXPECT_EQ(gMemCpy(b, a, 8), b);
    EXPECT_STREQ(b, "aabcdeg");
}

TEST(GameSysMemory, TheLowestGroupLimitFromTheProcesssOwnGroupUpToTheRootHolds)
{
    const u64 OWN = 300000000, ABOVE = 200000000, ROOT = 100000000;
    const struct
    {
        const char* label;
        const char* groups; // the process's list of groups
        std::vector<std::pair<std::string, std::string>> files;
        u64 limit;
    } cases[] = {
        {"version 2, own group", "0::/app/job\n", {{"memory.max", "max"}, {"app/job/memory.max", std::to_string(OWN)}}, OWN},
        {"version 2, group above", "0::/app/job\n",
         {{"app/memory.max", std::to_string(ABOVE)}, {"app/job/memory.max", std::to_string(OWN)}}, ABOVE},
        {"version 1 memory controller", "5:cpu,memory:/app/job\n4:pids:/app\n0::/\n",
         {{"memory/memory.limit_in_bytes", "9223372036854771712"}, {"memory/app/job/memory.limit_in_bytes", std::to_string(OWN)},
          {"pids/app/memory.limit_in_bytes", std::to_string(ABOVE)}}, OWN},
        {"group not below the mount", "0::/outside/job\n", {{"memory.max", std::to_string(ROOT)}}, ROOT},
    };
    for (const auto& c : cases)
    {
        TTempDir dir;
        for (const auto& f : c.files)
        {
            std::filesystem::create_directories(std::filesystem::path(dir.File(f.first.c_str())).parent_path());
            WriteFile(dir.File(f.first.c_str()), f.second + "\n");
        }
        WriteFile(dir.File("cgroup"), c.groups);
        EXPECT_EQ(gSysGroupMemoryLimit(dir.Path().c_str(), dir.File("cgroup").c_str()), c.limit) << c.label;
    }
}

TEST(GameSysStrings, CompareCopyAndSearch)
{
    EXPECT_EQ(gStrLen(""), 0u);
    EXPECT_EQ(gStrLen("abc"), 3u);
    EXPECT_EQ(gStrCmp("ab", "abc"), -1);
    EXPECT_EQ(gStrCmp("abc", "ab"), 1);
    EXPECT_EQ(gStrCmp("abc", "abc"), 0);
    EXPECT_EQ(gStrCmp("", ""), 0);
    EXPECT_EQ(gStrCmp("b", "a"), 1);
    EXPECT_EQ(gStrCmp("z", "\xC8"), -1); // bytes above 127 sort after ASCII letters
    EXPECT_EQ(gStrCmp("\x80", "\x7F"), 1);
    EXPECT_EQ(gStrEqual("abc", "abc"), 1);
    EXPECT_EQ(gStrEqual("abc", "abd"), 0);
    EXPECT_EQ(gStrEqual("", "a"), 0);

    char buf[16];
    EXPECT_EQ(gStrCpy(buf, "hello"), buf);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(gStrCat(buf, " you"), buf);
    EXPECT_STREQ(buf, "hello you");
    EXPECT_STREQ(gStrStr(buf, "lo y"), buf + 3);
    EXPECT_EQ(gStrStr(buf, "xyz"), nullptr);

    const uint16_t wide[] = {0x41, 0x263A, 0xFFFF, 0};
    uint16_t wout[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(gWStrCpy(wout, wide), wout);
    EXPECT_EQ(memcmp(wout, wide, sizeof(wide)), 0);
    EXPECT_EQ(wout[4], 9);

    char c[6] = "#####";
    gStrNCpyC(c, "ab", 4); // the C function pads with zeros
    EXPECT_EQ(memcmp(c, "ab\0\0#", 5), 0);
}

TEST(GameSysStrings, BoundedCopyAlwaysTerminates)
{
    char buf[8];
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(gStrNCpy(buf + 1, 5, "abcdefgh"), buf + 1);
    EXPECT_EQ(std::string(buf, 8), std::string("#abcd\0##", 8)); // size-1 bytes and the terminator

    memset(buf, '#', sizeof(buf));
    gStrNCpy(buf + 1, 5, "ab");
    EXPECT_STREQ(buf + 1, "ab");
    EXPECT_EQ(buf[0], '#');

    // Size 0 writes nothing at all, in particular not the byte before the buffer.
    memset(buf, '#', sizeof(buf));
    gStrNCpy(buf + 4, 0, "abc");
    EXPECT_EQ(std::string(buf, 8), std::string(8, '#'));
    gStrNCpy(buf + 4, 1, "abc");
    EXPECT_EQ(std::string(buf, 8), std::string("####\0###", 8));
}

TEST(GameSysStrings, BoundedFormattingAlwaysTerminates)
{
    char buf[8];
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(gSNPrintf(buf, 6, "%s", "0123456789"), 5);
    EXPECT_EQ(std::string(buf, 8), std::string("01234\0##", 8));
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(gSNPrintf(buf, 6, "%d", 12345), 5); // exactly fills
    EXPECT_EQ(std::string(buf, 8), std::string("12345\0##", 8));
    EXPECT_EQ(gSNPrintf(buf, 6, "%d", -7), 2);
    EXPECT_STREQ(buf, "-7");
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(gSNPrintf(buf, 0, "%s", "abc"), 0);
    EXPECT_EQ(std::string(buf, 8), std::string(8, '#'));
}

// ---------------------------------------------------------------------------------------------
// Character predicates: the C library's classes in the C locale are the reference for ASCII;
// bytes 128-255 are printable punctuation, never letters or digits.

TEST(GameSysChars, PredicatesOverEveryByte)
{
    for (int c = 0; c < 256; ++c)
    {
        bool high = c >= 128;
        int print = high ? 1 : (isprint(c) ? 1 : 0);
        int upper = high ? 0 : (isupper(c) ? 1 : 0);
        int lower = high ? 0 : (islower(c) ? 1 : 0);
        int digit = high ? 0 : (isdigit(c) ? 1 : 0);
        int alnum = high ? 0 : (isalnum(c) ? 1 : 0);
        int punct = high ? 1 : (ispunct(c) ? 1 : 0);
        EXPECT_EQ(gIsPrint(c) != 0, print == 1) << c;
        EXPECT_EQ(gIsUpper(c) != 0, upper == 1) << c;
        EXPECT_EQ(gIsLower(c) != 0, lower == 1) << c;
        EXPECT_EQ(gIsDigit(c) != 0, digit == 1) << c;
        EXPECT_EQ(gIsAlnum(c) != 0, alnum == 1) << c;
        EXPECT_EQ(gIsPunct(c) != 0, punct == 1) << c;
        // The same byte arriving as a (signed) char gives the same answers.
        char asChar = (char)c;
        EXPECT_EQ(gIsPrint(asChar), gIsPrint(c)) << c;
        EXPECT_EQ(gIsPunct(asChar), gIsPunct(c)) << c;
        EXPECT_EQ(gIsAlnum(asChar), gIsAlnum(c)) << c;
        EXPECT_EQ(gIsUpper(asChar), gIsUpper(c)) << c;
        EXPECT_EQ(gIsLower(asChar), gIsLower(c)) << c;
        EXPECT_EQ(gIsDigit(asChar), gIsDigit(c)) << c;
    }
    EXPECT_EQ(gIsPrint(200), 1);
    EXPECT_EQ(gIsPunct(200), 1);
    EXPECT_EQ(gIsPrint(127), 0);
    EXPECT_EQ(gIsPunct(' '), 0);
    EXPECT_EQ(gIsPunct('\t'), 0);
    EXPECT_EQ(gIsPunct('~'), 1);
}

// ---------------------------------------------------------------------------------------------
// Random numbers

TEST(GameSysRandom, ExactSequencePerThread)
{
    gSRand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int e : expected)
        EXPECT_EQ(gRand(), e);

    // Any seed: the documented recurrence computed independently in 64 bits.
    gSRand(0xDEADBEEFu);
    u64 state = 0xDEADBEEFu;
    for (int i = 0; i < 10000; ++i)
    {
        state = (state * 214013u + 2531011u) % 4294967296ull;
        ASSERT_EQ(gRand(), (int)((state >> 16) & 0x7FFF)) << i;
    }

    // A new thread starts at state 1 whatever this thread did, and does not disturb it.
    gSRand(777);
    int before = gRand();
    int first[5] = {};
    std::thread t([&]() {
        for (int& v : first)
            v = gRand();
    });
    t.join();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(first[i], expected[i]);
    gSRand(777);
    EXPECT_EQ(gRand(), before);
}

// ---------------------------------------------------------------------------------------------
// Float math

TEST(GameSysMath, SignAndRound)
{
    EXPECT_EQ(gSign(-0.0f), 0.0f);
    EXPECT_EQ(gSign(0.0f), 0.0f);
    EXPECT_EQ(gSign(NAN), -1.0f);
    EXPECT_EQ(gSign(-NAN), -1.0f);
    EXPECT_EQ(gSign(1e-40f), 1.0f);
    EXPECT_EQ(gSign(-1e-40f), -1.0f);
    EXPECT_EQ(gSign(INFINITY), 1.0f);
    EXPECT_EQ(gSign(-INFINITY), -1.0f);

    // Ties go to even under the default mode.
    EXPECT_EQ(gRound(2.5f), 2.0f);
    EXPECT_EQ(gRound(3.5f), 4.0f);
    EXPECT_EQ(gRound(-2.5f), -2.0f);
    EXPECT_EQ(gRound(0.5f), 0.0f);
    EXPECT_EQ(gRound(2.6f), 3.0f);
    EXPECT_EQ(gRound(-7.2f), -7.0f);
    EXPECT_EQ(gRound(16777215.0f), 16777215.0f);
    // The processor's current rounding mode is followed.
    ASSERT_EQ(fesetround(FE_UPWARD), 0);
    float up = gRound(2.1f);
    ASSERT_EQ(fesetround(FE_DOWNWARD), 0);
    float down = gRound(2.9f);
    fesetround(FE_TONEAREST);
    EXPECT_EQ(up, 3.0f);
    EXPECT_EQ(down, 2.0f);
}

TEST(GameSysMath, FunctionsInDoublePrecision)
{
    const double pi = 3.14159265358979323846;
    EXPECT_EQ(gAbs(-2.5f), 2.5f);
    EXPECT_FALSE(signbit(gAbs(-0.0f)));
    EXPECT_EQ(gAbsInt(-5), 5);
    EXPECT_EQ(gAbsInt(7), 7);
    EXPECT_EQ(gSqrt(2.0f), 1.41421356f);
    EXPECT_EQ(gFmod(7.5f, 2.0f), 1.5f);
    EXPECT_EQ(gFmod(-7.5f, 2.0f), -1.5f);
    EXPECT_EQ(gPow(2.0f, 10.0f), 1024.0f);
    EXPECT_EQ(gPow(9.0f, 0.5f), 3.0f);
    EXPECT_FLOAT_EQ(gSin((float)(pi / 6)), 0.5f);
    EXPECT_FLOAT_EQ(gCos((float)(pi / 3)), 0.5f);
    EXPECT_FLOAT_EQ(gTan((float)(pi / 4)), 1.0f);
    EXPECT_FLOAT_EQ(gAsin(1.0f), (float)(pi / 2));
    EXPECT_FLOAT_EQ(gAcos(-1.0f), (float)pi);
    EXPECT_FLOAT_EQ(gAtan(1.0f), (float)(pi / 4));
    EXPECT_FLOAT_EQ(gAtan2(1.0f, -1.0f), (float)(3 * pi / 4)); // y first
    EXPECT_FLOAT_EQ(gAtan2(-1.0f, 0.0f), (float)(-pi / 2));
    EXPECT_EQ(gFloor(-1.5f), -2.0f);
    EXPECT_EQ(gCeil(-1.5f), -1.0f);
    EXPECT_EQ(gFloor(3.0f), 3.0f);
    EXPECT_EQ(gCeil(3.2f), 4.0f);
    // Results are the double computation rounded once to float.
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> d(-10.0f, 10.0f);
    for (int i = 0; i < 2000; ++i)
    {
        float x = d(rng);
        ASSERT_EQ(gSin(x), (float)sin((double)x));
        ASSERT_EQ(gCos(x), (float)cos((double)x));
        ASSERT_EQ(gPow(gAbs(x), 1.7f), (float)pow(fabs((double)x), (double)1.7f));
    }
}

// ---------------------------------------------------------------------------------------------
// Byte order

TEST(GameSysByteOrder, NetworkOrderBytes)
{
    u32 l = gSysHtonl(0x12345678u);
    u16 s = gSysHtons(0xABCDu);
    const u8* lb = (const u8*)&l;
    const u8* sb = (const u8*)&s;
    EXPECT_EQ(lb[0], 0x12);
    EXPECT_EQ(lb[1], 0x34);
    EXPECT_EQ(lb[2], 0x56);
    EXPECT_EQ(lb[3], 0x78);
    EXPECT_EQ(sb[0], 0xAB);
    EXPECT_EQ(sb[1], 0xCD);
    for (u32 v : {0u, 1u, 0x80000000u, 0xFFFFFFFEu, 0x00FF00FFu})
        EXPECT_EQ(gSysHtonl(v), htonl(v));
    for (u16 v : {(u16)0, (u16)1, (u16)0x8000, (u16)0xFF00})
        EXPECT_EQ(gSysHtons(v), htons(v));
}

// ---------------------------------------------------------------------------------------------
// Stdio wrappers

TEST(GameSysFiles, SeekFromStartCurrentAndEnd)
{
    TTempDir dir;
    std::string path = dir.File("ten.bin");
    WriteFile(path, "0123456789");
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char c = 0;

    EXPECT_EQ(gSysFileSeek(f, 3, 0), 0);
    EXPECT_EQ(gSysFileTell(f), 3);
    EXPECT_EQ(gSysFileSeek(f, 2, 1), 0);
    EXPECT_EQ(gSysFileTell(f), 5);
    EXPECT_EQ(gSysFileSeek(f, -2, 1), 0); // relative and negative: back from here
    EXPECT_EQ(gSysFileTell(f), 3);
    EXPECT_EQ(gSysFileSeek(f, -1, 0), 0); // the end itself
    EXPECT_EQ(gSysFileTell(f), 10);
    EXPECT_EQ(gSysFileRead(f, 1, &c), 0u);
    EXPECT_EQ(gSysFileEOF(f), 1);
    EXPECT_EQ(gSysFileSeek(f, -2, 0), 0); // one byte before the end
    EXPECT_EQ(gSysFileTell(f), 9);
    EXPECT_EQ(gSysFileEOF(f), 0);
    EXPECT_EQ(gSysFileRead(f, 1, &c), 1u);
    EXPECT_EQ(c, '9');
    EXPECT_EQ(gSysFileSeek(f, -11, 0), 0); // the start, from the end
    EXPECT_EQ(gSysFileTell(f), 0);
    EXPECT_EQ(gSysFileSeek(f, -12, 0), -1); // before the start
    EXPECT_EQ(gSysFileSeek(f, -1, 1), -1);
    EXPECT_EQ(gSysFileClose(f), 0);
}

TEST(GameSysFiles, ReadWriteLinesAndEnd)
{
    TTempDir dir;
    std::string path = dir.File("lines.txt");
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(gSysFileWrite(f, 4, "ab\0c"), 4u);
    EXPECT_GE(gSysFilePuts(f, "\nsecond line\n"), 0);
    EXPECT_EQ(gSysFileTell(f), 17);
    gSysFileClose(f);
    EXPECT_EQ(ReadFile(path), std::string("ab\0c\nsecond line\n", 17));

    f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[64];
    EXPECT_EQ(gSysFileRead(f, 3, buf), 3u);
    EXPECT_EQ(std::string(buf, 3), std::string("ab\0", 3));
    ASSERT_EQ(gSysFileGets(f, buf, sizeof(buf)), buf);
    EXPECT_STREQ(buf, "c\n");
    ASSERT_EQ(gSysFileGets(f, buf, 7), buf); // bounded: 6 characters and the terminator
    EXPECT_STREQ(buf, "second");
    EXPECT_EQ(gSysFileRead(f, 64, buf), 6u); // only what is left
    EXPECT_EQ(gSysFileEOF(f), 1);
    EXPECT_EQ(gSysFileGets(f, buf, sizeof(buf)), nullptr);
    gSysFileClose(f);
}

// ---------------------------------------------------------------------------------------------
// Text to number

TEST(GameSysNumbers, StrToIntEdgeCases)
{
    EXPECT_EQ(StrToInt("  12ab"), 12);
    EXPECT_EQ(StrToInt("-"), 0);
    EXPECT_EQ(StrToInt(""), 0);
    EXPECT_EQ(StrToInt("abc"), 0);
    EXPECT_EQ(StrToInt("-42"), -42);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("1 2"), 1);
    EXPECT_EQ(StrToInt("\t5"), 0); // only blanks are skipped
    EXPECT_EQ(StrToInt("+5"), 0);
    EXPECT_EQ(StrToInt("- 5"), 0);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    // Past the int range the value is clamped, never wrapped (UBSan watches the arithmetic).
    EXPECT_EQ(StrToInt("2147483648"), INT32_MAX);
    EXPECT_EQ(StrToInt("-2147483649"), INT32_MIN);
    EXPECT_EQ(StrToInt("99999999999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(StrToInt("-99999999999999999999999999999999"), INT32_MIN);
    EXPECT_EQ(StrToInt("4294967296"), INT32_MAX);
    EXPECT_EQ(StrToInt("18446744073709551617x"), INT32_MAX);
}

TEST(GameSysNumbers, StrToFloatEdgeCases)
{
    EXPECT_EQ(StrToFloat(" -3,25"), -3.25f);
    EXPECT_EQ(StrToFloat("2.5e3"), 2500.0f);
    EXPECT_EQ(StrToFloat("1e-005"), 0.00001f);
    EXPECT_EQ(StrToFloat("1e-05"), 0.00001f);
    EXPECT_EQ(StrToFloat("1.5e+006"), 1500000.0f);
    EXPECT_EQ(StrToFloat("1.5e+06"), 1500000.0f);
    EXPECT_EQ(StrToFloat("2E2"), 200.0f);
    EXPECT_EQ(StrToFloat(".5"), 0.5f);
    EXPECT_EQ(StrToFloat("3."), 3.0f);
    EXPECT_EQ(StrToFloat("7.25xyz"), 7.25f);
    EXPECT_EQ(StrToFloat("1.5.5"), 1.5f);
    EXPECT_EQ(StrToFloat(""), 0.0f);
    EXPECT_EQ(StrToFloat("abc"), 0.0f);
    EXPECT_EQ(StrToFloat("-"), 0.0f);
    EXPECT_EQ(StrToFloat("\t1"), 0.0f);
    EXPECT_EQ(StrToFloat("1e"), 1.0f); // an exponent sign without digits is not an exponent
    EXPECT_EQ(StrToFloat("1e+"), 1.0f);
    EXPECT_EQ(StrToFloat("0.1"), 0.1f);
    EXPECT_EQ(StrToFloat("16777217"), 16777216.0f);
    EXPECT_EQ(StrToFloat("3.4028235e38"), 3.4028235e38f);
    EXPECT_EQ(StrToFloat("1e-45"), 1e-45f); // the smallest denormal
    EXPECT_EQ(StrToFloat("123456789012345678901234567890"), strtof("123456789012345678901234567890", nullptr));
    EXPECT_EQ(StrToFloat("0.000000000000000000000000000000000000001234567"),
              strtof("0.000000000000000000000000000000000000001234567", nullptr));
    // Exponents beyond any float are clamped: the largest finite float of the sign or zero,
    // never an infinity (no text of it reads back) and never undefined arithmetic.
    EXPECT_EQ(StrToFloat("1e39"), FLT_MAX);
    EXPECT_EQ(StrToFloat("-1e400"), -FLT_MAX);
    EXPECT_EQ(StrToFloat("1e99999999999999999999"), FLT_MAX);
    EXPECT_EQ(StrToFloat("1e-99999999999999999999"), 0.0f);
    EXPECT_EQ(StrToFloat("0e99999999999"), 0.0f);
    EXPECT_EQ(StrToFloat(("1" + std::string(400, '0') + "e-400").c_str()), 1.0f);
}

TEST(GameSysNumbers, PrintedFloatsReadBack)
{
    std::mt19937 rng(20240607);
    char text[64];
    char text3[64];
    int checked = 0;
    while (checked < 200000)
    {
        u32 bits = rng();
        float f;
        memcpy(&f, &bits, 4);
        if (!isfinite(f))
            continue;
        ++checked;
        snprintf(text, sizeof(text), "%g", f);
        float got = StrToFloat(text);
        float want = strtof(text, nullptr);
        ASSERT_EQ(memcmp(&got, &want, 4), 0) << text << " gave " << got;
        // Full precision reads back to the very same float.
        snprintf(text, sizeof(text), "%.9g", f);
        got = StrToFloat(text);
        ASSERT_EQ(memcmp(&got, &f, 4), 0) << text << " gave " << got;
        // The three-digit exponent form some writers use reads the same.
        const char* e = strchr(text, 'e');
        if (e)
        {
            size_t head = (size_t)(e - text) + 2;
            snprintf(text3, sizeof(text3), "%.*s0%s", (int)head, text, text + head);
            got = StrToFloat(text3);
            ASSERT_EQ(memcmp(&got, &f, 4), 0) << text3 << " gave " << got;
        }
    }
    // Ordinary magnitudes too, where most values in documents lie.
    std::uniform_real_distribution<float> d(-1000.0f, 1000.0f);
    for (int i = 0; i < 100000; ++i)
    {
        float f = d(rng);
        snprintf(text, sizeof(text), "%g", f);
        float got = StrToFloat(text);
        float want = strtof(text, nullptr);
        ASSERT_EQ(memcmp(&got, &want, 4), 0) << text << " gave " << got;
    }
}

// ---------------------------------------------------------------------------------------------
// Standard output and assertions

TEST(GameSysLog, LogPrintfIsBounded)
{
    std::string big(20000, 'L');
    testing::internal::CaptureStdout();
    LogPrintf("%s", big.c_str());
    LogPrintf("<%d>", 5);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string(16383, 'L') + "<5>");
}

TEST(GameSysAssert, BreakIfReportsAndGoesOn)
{
    int at = 5, count = 3;
    bool hit;
    int line;
    {
        TExpectBreak e("at >= count");
        line = __LINE__ + 1;
        hit = BREAK_IF(at >= count);
    }
    EXPECT_TRUE(hit);
    EXPECT_FALSE(BREAK_IF(count >= at));
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    const SRecordedBox& box = RecordedBoxes()[0];
    EXPECT_EQ(box.kind, SYSBOX_Assert);
    EXPECT_EQ(box.caption, "BREAK_IF");
    EXPECT_EQ(box.text, "It is detected that the program is in invalid state:\nat >= count\n\nFile: test_GameSys.cpp\nLine: " +
                            std::to_string(line) + "\n\nDo you want to debug the program?");

    // A very long expression text is cut to the assertion buffer.
    std::string longExpr(5000, 'e');
    {
        TExpectBreak e("eeee");
        AssertBreak(longExpr.c_str(), "X.cpp", 1);
    }
    EXPECT_EQ(RecordedBoxes().back().text.size(), 2047u);
}

// ---------------------------------------------------------------------------------------------
// Child processes: the real non-interactive paths, without the test hook.

// Runs in a forked child: a hookless, non-interactive process working in `dir`.
static void BecomeBareChild(const std::string& dir)
{
    gSysSetBoxHook(nullptr);
    gSysSetInteractive(false);
    if (chdir(dir.c_str()) != 0)
        _exit(90);
}

static void RedirectStdout(const char* file)
{
    if (!freopen(file, "w", stdout))
        _exit(91);
}

static void ChildAsksEveryBox(const std::string& dir)
{
    BecomeBareChild(dir);
    bool yes = gSysQuestion("Save the changes?", "Question");
    int ok = gSysMessage("Done.", "Info");
    int at = 2;
    int count = 1;
    bool hit = BREAK_IF(at >= count);
    char file[16] = "unchanged";
    int chosen = gSysFileOpen("/tmp", "All\0*.*\0\0", file, sizeof(file), 0);
    bool fileKept = strcmp(file, "unchanged") == 0;
    _exit(!yes && ok == SYS_IDOK && hit && chosen == 0 && fileKept ? 7 : 8);
}

TEST(GameSysChildDeathTest, BoxesAnswerByThemselves)
{
    TTempDir dir;
    EXPECT_EXIT(ChildAsksEveryBox(dir.Path()), testing::ExitedWithCode(7),
                "\\[Question\\] Save the changes\\?\n"
                "\\[Info\\] Done\\.\n"
                "\\[BREAK_IF\\] It is detected that the program is in invalid state:\nat >= count\n\n"
                "File: test_GameSys\\.cpp\nLine: [0-9]+\n\nDo you want to debug the program\\?\n"
                ".*[Ff]ile dialog.*\n");
}

static void ChildFatalError(const std::string& dir)
{
    BecomeBareChild(dir);
    RedirectStdout("out.txt");
    printf("pending "); // still buffered: must reach the file before the process ends
    FatalError("Cannot load %s (%d)", "doc.kvf", 3);
}

TEST(GameSysChildDeathTest, FatalErrorWritesLogAndExits)
{
    TTempDir dir;
    WriteFile(dir.File("error.log"), "earlier\n");
    EXPECT_EXIT(ChildFatalError(dir.Path()), testing::ExitedWithCode(222),
                "\\[Error!\\] Cannot load doc\\.kvf \\(3\\)");
    EXPECT_EQ(ReadFile(dir.File("error.log")), "earlier\nCannot load doc.kvf (3)");
    EXPECT_EQ(ReadFile(dir.File("out.txt")), "pending Cannot load doc.kvf (3)");
    // A second fatal error appends after the first, with nothing in between.
    EXPECT_EXIT(ChildFatalError(dir.Path()), testing::ExitedWithCode(222), "");
    EXPECT_EQ(ReadFile(dir.File("error.log")), "earlier\nCannot load doc.kvf (3)Cannot load doc.kvf (3)");
}

static void ChildLongFatalError(const std::string& dir)
{
    BecomeBareChild(dir);
    RedirectStdout("out.txt");
    std::string big(20000, 'F');
    big[16382] = 'G';
    big[16383] = 'H';
    FatalError("%s", big.c_str());
}

TEST(GameSysChildDeathTest, FatalErrorTextIsCut)
{
    TTempDir dir;
    EXPECT_EXIT(ChildLongFatalError(dir.Path()), testing::ExitedWithCode(222), "\\[Error!\\] FFFF");
    EXPECT_EQ(ReadFile(dir.File("error.log")), std::string(16382, 'F') + "G");
    EXPECT_EQ(ReadFile(dir.File("out.txt")), std::string(16382, 'F') + "G");
}

static int ReenteringHook(ESysBoxKind kind, const char*, const char*)
{
    if (kind == SYSBOX_FatalError)
        FatalError("second");
    return 0;
}

static void ChildReenteringFatalError(const std::string& dir)
{
    BecomeBareChild(dir);
    gSysSetBoxHook(ReenteringHook);
    FatalError("first");
}

TEST(GameSysChildDeathTest, FatalErrorDoesNotReenter)
{
    TTempDir dir;
    EXPECT_EXIT(ChildReenteringFatalError(dir.Path()), testing::ExitedWithCode(222), "");
    EXPECT_EQ(ReadFile(dir.File("error.log")), "first");
}

static void ChildFatalCheck(const std::string& dir)
{
    BecomeBareChild(dir);
    int x = 1;
    FATAL_CHECK(x == 2);
}

static void ChildFatalBox(const std::string& dir)
{
    BecomeBareChild(dir);
    gSysFatalError("Gone", "Bad");
}

static void ChildAllocationFails(const std::string& dir)
{
    BecomeBareChild(dir);
    // A size whose 16-byte rounding overflows can never be allocated.
    void* p = MemAlloc(SIZE_MAX - 3);
    _exit(p ? 1 : 2);
}

TEST(GameSysChildDeathTest, FatalStopsAndExitCodes)
{
    TTempDir dir;
    EXPECT_EXIT(ChildFatalCheck(dir.Path()), testing::ExitedWithCode(222),
                "\\[Error!\\] ASSERT\n\nThis test expression is false:\n\nx == 2");
    EXPECT_EQ(ReadFile(dir.File("error.log")), "ASSERT\n\nThis test expression is false:\n\nx == 2");
    EXPECT_EXIT(ChildFatalBox(dir.Path()), testing::ExitedWithCode(222), "\\[Bad\\] Gone");
    EXPECT_EXIT(ChildAllocationFails(dir.Path()), testing::ExitedWithCode(222),
                "\\[Critical error\\] Failed to allocate data");
    EXPECT_EXIT(gSysFatalExit(0x12345u), testing::ExitedWithCode(0x45), "");
}

static int AnswerYesHook(ESysBoxKind, const char*, const char*)
{
    return 1;
}

static void ChildAnswersYesToDebug()
{
    gSysSetBoxHook(AnswerYesHook);
    (void)BREAK_IF(1 < 2);
    _exit(3);
}

TEST(GameSysChildDeathTest, YesToDebugRaisesTrap)
{
    EXPECT_EXIT(ChildAnswersYesToDebug(), testing::KilledBySignal(SIGTRAP), "");
}

// ---------------------------------------------------------------------------------------------
// The portable half links without SDL (the program is built from GameSys.cpp and GString.cpp
// alone); with no platform back-end it prints boxes, with one it shows them through it.
TEST(GameSysPortable, LinksAloneAndShowsBoxesThroughTheBackEnd)
{
    const std::string program = std::string(PW_BIN_DIR) + "/plumweave_portable";
    FILE* p = popen(("env -u PLUMWEAVE_NONINTERACTIVE '" + program + "' 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof(buf), p))
        out += buf;
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    // The printed box, then words joined in insertion order, the map's length of "fig", the box's
    // answer (OK) and a number read by the engine's own reader; then a question shown by a
    // back-end installed late (Yes), and printed and declined once the mode is forced off.
    EXPECT_EQ(out, "[portable] no window system here\npear,apple,fig|3|" + std::to_string(SYS_IDOK) +
                       "|-42\nshown " + std::to_string(SYSBOX_Question) + ": [portable] go on?\nyes=1\n" +
                       "[forced] go on?\nyes=0\n");
}

TEST(GameSysDisplay, DisplayIsNamedOnlyByANonEmptyVariable)
{
    struct SCase
    {
        const char* value; // null: unset
        bool expected;
    };
    const SCase cases[] = {{nullptr, false}, {"", false}, {":4711", true}, {"localhost:0.0", true}};
    const char* saved = getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    for (const SCase& c : cases)
    {
        if (c.value)
            setenv("DISPLAY", c.value, 1);
        else
            unsetenv("DISPLAY");
        EXPECT_EQ(gSysHasDisplay(), c.expected) << (c.value ? c.value : "(unset)");
    }
    if (saved)
        setenv("DISPLAY", keep.c_str(), 1);
    else
        unsetenv("DISPLAY");
}
