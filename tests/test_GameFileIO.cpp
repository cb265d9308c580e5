#include "TestSupport.h"

#include "GameFileIO.h"
#include "GameParse.h"
#include "GameThread.h"

#include <dirent.h>
#include <fcntl.h>
#include <float.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>
#include <string>

// Sets the data root for one test and restores it afterwards.
class TBaseFolder
{
public:
    explicit TBaseFolder(const std::string& folder) : saved(GBaseFolder) { GBaseFolder = folder.c_str(); }
    ~TBaseFolder() { GBaseFolder = saved; }

private:
    TString saved;
};

static std::string S(const TString& t)
{
    return std::string(t.Str(), t.Length());
}

static void WriteRaw(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(fclose(f), 0);
}

static std::string ReadRaw(const std::string& path)
{
    std::string r;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        r.append(buf, n);
    fclose(f);
    return r;
}

static std::vector<std::string> ListDir(const std::string& path)
{
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (!d)
        return names;
    while (struct dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// ---------------------------------------------------------------------------------------------
// Paths

TEST(FilePaths, FullPathsResolveAgainstTheDataRoot)
{
    TBaseFolder base("/opt/pw/bin/RERudu/");
    EXPECT_EQ(S(MakeFullPath("Data/Text/en-US/default.txt")), "/opt/pw/bin/RERudu/Data/Text/en-US/default.txt");
    EXPECT_EQ(S(MakeFullPath("Data\\Shaders\\a.mtl")), "/opt/pw/bin/RERudu/Data/Shaders/a.mtl");
    EXPECT_EQ(S(MakeFullPath("/tmp/x.kvf")), "/tmp/x.kvf");
    EXPECT_EQ(S(MakeFullPath("\\tmp\\x.kvf")), "/tmp/x.kvf");
    // Drive letters mean nothing here: such a name is relative.
    EXPECT_EQ(S(MakeFullPath("C:")), "/opt/pw/bin/RERudu/C:");
    EXPECT_EQ(S(MakeFullPath("")), "/opt/pw/bin/RERudu/");
}

TEST(FilePaths, SlashesNamesAndFolders)
{
    EXPECT_EQ(S(AddTrailingSlash("")), "");
    EXPECT_EQ(S(AddTrailingSlash("a/")), "a/");
    EXPECT_EQ(S(AddTrailingSlash("a\\")), "a\\");
    EXPECT_EQ(S(AddTrailingSlash("a")), "a/");

    EXPECT_EQ(S(ExtractFileName("a/b\\c.png")), "c.png");
    EXPECT_EQ(S(ExtractFileName("a\\b/c.png")), "c.png");
    EXPECT_EQ(S(ExtractFileName("c.png")), "c.png");
    EXPECT_EQ(S(ExtractFileName("dir/")), "");
    EXPECT_EQ(S(ExtractFilePath("a/b\\c.png")), "a/b\\");
    EXPECT_EQ(S(ExtractFilePath("/c.png")), "/");
    EXPECT_EQ(S(ExtractFilePath("c.png")), "");
}

TEST(FilePaths, QuotesAddedAndStripped)
{
    EXPECT_EQ(S(QuoteString("a b")), "\"a b\"");
    EXPECT_EQ(S(QuoteString("")), "\"\"");
    EXPECT_EQ(S(StripQuotes("\"a b\"")), "a b");
    EXPECT_EQ(S(StripQuotes("\"x\"")), "x");
    EXPECT_EQ(S(StripQuotes("\"\"")), "");
    // Short unquoted texts are values too.
    EXPECT_EQ(S(StripQuotes("5")), "5");
    EXPECT_EQ(S(StripQuotes("12")), "12");
    EXPECT_EQ(S(StripQuotes("\"")), "\"");
    EXPECT_EQ(S(StripQuotes("\"abc")), "\"abc");
    EXPECT_EQ(S(StripQuotes("abc\"")), "abc\"");
    EXPECT_EQ(S(StripQuotes("")), "");
}

TEST(FilePaths, RelativePathsByWholeComponents)
{
    TBaseFolder base("/base/RERudu/");
    struct Case
    {
        const char* file;
        const char* folder;
        const char* expected;
    };
    const Case cases[] = {
        {"/b/textures/a.png", "/b/tex/", "../textures/a.png"},
        {"/b/tex/a.png", "/b/tex/", "a.png"},
        {"/b/tex/a.png", "/b/tex", "a.png"},
        {"Data/Tex/a.png", "Data/", "Tex/a.png"},
        {"Data/Tex/a.png", "Data/Other/Deeper/", "../../Tex/a.png"},
        {"/r/x/y/f.png", "/r/a/b/", "../../x/y/f.png"},
        {"Data\\Tex\\a.png", "Data\\", "Tex/a.png"},
        {"..\\Data\\f.png", "Data\\", "../../Data/f.png"},
        {"/a/./b/../c/f", "/a/c", "f"},
        {"/A/f", "/a/", "../A/f"},
        {"/a/b/f", "/a/bc/", "../b/f"},
        {"/x/f.png", "/", "x/f.png"},
        {"/f.png", "/deep/er/", "../../f.png"},
        {"/b/tex", "/b/tex/", ""},
        {"", "/b/", ""},
        {"rel/f.png", "", "rel/f.png"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(S(MakeRelativePath(c.file, c.folder)), c.expected) << c.file << " in " << c.folder;

    TExpectBreak expect("file[ file.Size() - 1 ] == _T('/') || file[ file.Size() - 1 ] == _T('\\\\')", 2);
    EXPECT_EQ(S(MakeRelativePath("/b/tex/", "/b/")), "");
    EXPECT_EQ(S(MakeRelativePath("/b/tex\\", "/b/")), "");
}

TEST(FilePaths, FindLastOfAndMidStayInBounds)
{
    TString p("a/b\\c");
    EXPECT_EQ(p.FindLastOf("/\\", 5), 3);
    EXPECT_EQ(p.FindLastOf("/\\", 3), 1);
    EXPECT_EQ(p.FindLastOf("/\\", 1), -1);
    EXPECT_EQ(p.FindLastOf("/\\", 0), -1);
    EXPECT_EQ(p.FindLastOf("/\\", 1000), 3);
    EXPECT_EQ(p.FindLastOf("xyz", 5), -1);

    TString s("abcdef");
    TString out("old");
    EXPECT_TRUE(s.Mid(2, 3, out));
    EXPECT_EQ(S(out), "cde");
    EXPECT_TRUE(s.Mid(6, 0, out));
    EXPECT_EQ(S(out), "");
    EXPECT_TRUE(s.Mid(0, 6, out));
    EXPECT_EQ(S(out), "abcdef");
    TExpectBreak expect("off >= count + 1 || size >= count + 1 || off + size >= count + 1", 3);
    out = "old";
    EXPECT_FALSE(s.Mid(4, 3, out));
    EXPECT_EQ(S(out), "");
    EXPECT_FALSE(s.Mid(7, 0, out));
    EXPECT_FALSE(s.Mid(0xFFFFFFFFu, 2, out));
}

TEST(FilePaths, NoLengthLimit)
{
    std::string deep = "/r";
    for (int i = 0; i < 100; ++i)
        deep += "/folder" + std::to_string(i);
    std::string file = deep + "/name.png";
    ASSERT_GT(file.size(), 600u);
    EXPECT_EQ(S(MakeRelativePath(file.c_str(), "/r/")), file.substr(3));
    EXPECT_EQ(S(ExtractFileName(file.c_str())), "name.png");
    EXPECT_EQ(S(ExtractFilePath(file.c_str())), deep + "/");

    // A real file that deep is written, found, listed and read back.
    TTempDir dir;
    std::string folder = dir.Path();
    for (int i = 0; i < 40; ++i)
    {
        folder += "/long_folder_name_" + std::to_string(i);
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    std::string path = folder + "/file.txt";
    ASSERT_GT(path.size(), 800u);
    ASSERT_TRUE(WriteTextFile(path.c_str(), "deep"));
    TString text;
    ASSERT_TRUE(ReadTextFile(path.c_str(), text));
    EXPECT_EQ(S(text), "deep");
    EXPECT_TRUE(FileExists(path.c_str()));
    SFileFind find(folder.c_str());
    std::vector<std::string> names;
    for (; find.IsValid(); find.Next())
        names.push_back(S(find.GetName()));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "file.txt"}));
    EXPECT_EQ(S(MakeRelativePath(path.c_str(), (dir.Path() + "/").c_str())), path.substr(dir.Path().size() + 1));
}

// ---------------------------------------------------------------------------------------------
// Text readers

TEST(TextReaders, Integers)
{
    TString t("  \t-42x 17");
    s32 pos = 0;
    EXPECT_EQ(ParseInt(t, pos), -42);
    EXPECT_FALSE(ParseFailed());
    EXPECT_EQ(pos, 6);
    pos = 7;
    EXPECT_EQ(ParseInt(t, pos), 17);
    EXPECT_EQ(pos, 10);

    const char* bad[] = {"    ", "", "abc", "-", "\n5", " - 3"};
    for (const char* b : bad)
    {
        TString text(b);
        s32 p = 0;
        EXPECT_EQ(ParseInt(text, p), 2147483647) << b;
        EXPECT_TRUE(ParseFailed()) << b;
    }
    // Each reader clears the error of the one before.
    pos = 7;
    EXPECT_EQ(ParseInt(t, pos), 17);
    EXPECT_FALSE(ParseFailed());
}

TEST(TextReaders, Floats)
{
    struct Case
    {
        const char* text;
        float value;
        s32 end;
    };
    const Case cases[] = {
        {"1.5", 1.5f, 3},
        {" \n\t-0.25;", -0.25f, 8},
        {"-3,25", -3.25f, 5},
        {"2.5e3;1", 2500.0f, 5},
        {"1.5e+06", 1.5e6f, 7},
        {"1.5e+006", 1.5e6f, 8},
        {"1e-005", 1e-5f, 6},
        {"3.4E-38", 3.4e-38f, 7},
        {"7.", 7.0f, 2},
        {".5", 0.5f, 2},
        {"1.5ex", 1.5f, 3},
        {"12e", 12.0f, 2},
    };
    for (const Case& c : cases)
    {
        TString t(c.text);
        s32 pos = 0;
        EXPECT_FLOAT_EQ(ParseFloat(t, pos), c.value) << c.text;
        EXPECT_FALSE(ParseFailed()) << c.text;
        EXPECT_EQ(pos, c.end) << c.text;
    }
    const char* bad[] = {"", "   ", ".", "-", "x1", "-.e5"};
    for (const char* b : bad)
    {
        TString t(b);
        s32 pos = 0;
        EXPECT_EQ(ParseFloat(t, pos), 3.4028235e38f) << b;
        EXPECT_TRUE(ParseFailed()) << b;
    }
}

TEST(TextReaders, FloatsWrittenByPrintfReadBack)
{
    const double values[] = {0.0, 1.0, -1.0, 0.1, 123456.0, 1234567.0, 1e-7, -2.5e-12, 3.0e30, 65504.0, 0.333333};
    for (double v : values)
    {
        char buf[64];
        snprintf(buf, sizeof(buf), "%g", v);
        TString t(buf);
        s32 pos = 0;
        float got = ParseFloat(t, pos);
        EXPECT_FALSE(ParseFailed()) << buf;
        EXPECT_FLOAT_EQ(got, (float)strtod(buf, nullptr)) << buf;
        EXPECT_EQ(pos, (s32)strlen(buf)) << buf;
    }
}

TEST(TextReaders, Vectors)
{
    float v[4] = {9, 9, 9, 9};
    TString t2("1.5;-2");
    s32 pos = 0;
    EXPECT_TRUE(ParseVec2(t2, pos, v));
    EXPECT_EQ(v[0], 1.5f);
    EXPECT_EQ(v[1], -2.0f);

    TString t3(" 1; 2;\t3 rest");
    pos = 0;
    EXPECT_TRUE(ParseVec3(t3, pos, v));
    EXPECT_EQ(v[2], 3.0f);
    EXPECT_EQ(pos, 8);

    TString t4("0.1;0.2;0.3;1e+02");
    pos = 0;
    EXPECT_TRUE(ParseVec4(t4, pos, v));
    EXPECT_FLOAT_EQ(v[3], 100.0f);

    mVec2 m2(7, 7);
    pos = 0;
    EXPECT_TRUE(ParseVec2(t2, pos, m2));
    EXPECT_EQ(m2.x, 1.5f);
    EXPECT_EQ(m2.y, -2.0f);
    mVec3 m3(7, 7, 7);
    pos = 0;
    EXPECT_TRUE(ParseVec3(t3, pos, m3));
    EXPECT_EQ(m3.x, 1.0f);
    EXPECT_EQ(m3.z, 3.0f);
    mVec4 m4(7, 7, 7, 7);
    pos = 0;
    EXPECT_FALSE(ParseVec4(t3, pos, m4));
    EXPECT_EQ(m4.x, 0.0f);
    EXPECT_EQ(m4.w, 0.0f);

    const char* bad3[] = {"1;2", "1 ;2;3", "1;x;3", "1,2,3", "", "1;2;"};
    for (const char* b : bad3)
    {
        float w[3] = {5, 5, 5};
        TString t(b);
        s32 p = 0;
        EXPECT_FALSE(ParseVec3(t, p, w)) << b;
        EXPECT_TRUE(ParseFailed()) << b;
        EXPECT_EQ(w[0], 0.0f) << b;
        EXPECT_EQ(w[1], 0.0f) << b;
        EXPECT_EQ(w[2], 0.0f) << b;
    }
}

TEST(TextReaders, QuotedStrings)
{
    // Escapes are kept as written; a quote after an odd number of backslashes is part of the text.
    TString t("name=\"a\\\"b\" next=\"c\"");
    s32 pos = 0;
    EXPECT_EQ(S(ParseQuotedString(t, pos)), "a\\\"b");
    EXPECT_FALSE(ParseFailed());
    EXPECT_EQ(S(ParseQuotedString(t, pos)), "c");
    EXPECT_EQ(pos, (s32)t.Length());

    // A value ending with an escaped backslash does not swallow the rest of the line.
    TString u("p=\"dir\\\\\" q=\"v\"");
    pos = 0;
    EXPECT_EQ(S(ParseQuotedString(u, pos)), "dir\\\\");
    EXPECT_EQ(S(ParseQuotedString(u, pos)), "v");

    TString odd("\"a\\\\\\\"b\"");
    pos = 0;
    EXPECT_EQ(S(ParseQuotedString(odd, pos)), "a\\\\\\\"b");

    TString empty("\"\"x");
    pos = 0;
    EXPECT_EQ(S(ParseQuotedString(empty, pos)), "");
    EXPECT_FALSE(ParseFailed());
    EXPECT_EQ(pos, 2);

    const char* bad[] = {"no quotes", "\"unterminated", "\"ends in escape\\\"", ""};
    for (const char* b : bad)
    {
        TString s(b);
        s32 p = 0;
        EXPECT_EQ(S(ParseQuotedString(s, p)), "") << b;
        EXPECT_TRUE(ParseFailed()) << b;
        EXPECT_EQ(p, (s32)s.Length()) << b;
    }
}

TEST(TextReaders, TokensCharsAndLines)
{
    TString t("  key_1 = \"v\"\r\nnext");
    s32 pos = 0;
    TString tok;
    EXPECT_TRUE(ParseToken(t, pos, tok, IsWordChar, IsWhiteSpace));
    EXPECT_EQ(S(tok), "key_1");
    EXPECT_EQ(pos, 7);
    // '=' is neither skipped nor a key character.
    EXPECT_FALSE(ParseToken(t, pos, tok, IsWordChar, IsWhiteSpace));
    EXPECT_TRUE(ParseFailed());
    EXPECT_EQ(S(tok), "");
    EXPECT_EQ(pos, 8);
    EXPECT_FALSE(ParseExpectChar(t, pos, ';'));
    EXPECT_TRUE(ParseExpectChar(t, pos, '='));
    EXPECT_EQ(pos, 9);
    EXPECT_TRUE(ParseSkipLine(t, pos));
    EXPECT_EQ(pos, 15);
    EXPECT_TRUE(ParseToken(t, pos, tok, IsTokenChar, IsBlank));
    EXPECT_EQ(S(tok), "next");
    EXPECT_FALSE(ParseSkipLine(t, pos));
    EXPECT_EQ(pos, (s32)t.Length());
    EXPECT_FALSE(ParseExpectChar(t, pos, 't'));
    EXPECT_FALSE(ParseToken(t, pos, tok, IsTokenChar, IsBlank));

    TString lines("ab\ncd\nef");
    pos = 7;
    EXPECT_TRUE(ParsePrevLine(lines, pos));
    EXPECT_EQ(pos, 5);
    EXPECT_TRUE(ParsePrevLine(lines, pos));
    EXPECT_EQ(pos, 2);
    EXPECT_FALSE(ParsePrevLine(lines, pos));
    EXPECT_EQ(pos, 0);

    pos = 0;
    EXPECT_TRUE(ParseSkipWhile(lines, pos, IsWordChar));
    EXPECT_EQ(pos, 2);
    EXPECT_TRUE(ParseSkipWhile(lines, pos, IsWordChar));
    EXPECT_EQ(pos, 2);

    EXPECT_TRUE(IsTokenChar('"'));
    EXPECT_TRUE(IsTokenChar((char)200));
    EXPECT_FALSE(IsTokenChar(' '));
    EXPECT_FALSE(IsTokenChar('\t'));
    EXPECT_FALSE(IsWordChar((char)200));
    EXPECT_TRUE(IsIntChar('-'));
    EXPECT_FALSE(IsIntChar('+'));
}

TEST(TextReaders, CursorOutsideTheTextReadsNothing)
{
    TExpectBreak expect("pos < 0", 3);
    TString t("12");
    s32 pos = -1;
    EXPECT_EQ(ParseInt(t, pos), 2147483647);
    EXPECT_TRUE(ParseFailed());
    pos = 3;
    EXPECT_EQ(S(ParseQuotedString(t, pos)), "");
    pos = 100;
    EXPECT_FALSE(ParseSkipLine(t, pos));
}

// ---------------------------------------------------------------------------------------------
// Files

TEST(Files, TextRoundTripWithLongLinesAndCrLf)
{
    TTempDir dir;
    std::string longLine(5000, 'x');
    for (size_t i = 0; i < longLine.size(); i += 7)
        longLine[i] = (char)('a' + i % 26);
    std::string text = "first\n" + longLine + "\nlast";
    ASSERT_TRUE(WriteTextFile(dir.File("t.txt").c_str(), TString(text.c_str())));
    EXPECT_EQ(ReadRaw(dir.File("t.txt")), text);
    TString back("stale");
    ASSERT_TRUE(ReadTextFile(dir.File("t.txt").c_str(), back));
    EXPECT_EQ(S(back), text);

    WriteRaw(dir.File("crlf.txt"), "a\r\nb\rc\r\n\r\nd");
    ASSERT_TRUE(ReadTextFile(dir.File("crlf.txt").c_str(), back));
    EXPECT_EQ(S(back), "a\nb\rc\n\nd");

    EXPECT_FALSE(ReadTextFile(dir.File("missing.txt").c_str(), back));
    EXPECT_EQ(S(back), "");
}

TEST(Files, BinaryRoundTrip)
{
    TTempDir dir;
    TPodArray<u8> bytes;
    bytes.Resize(300000);
    u32 state = 12345;
    for (u32 i = 0; i < bytes.Count(); ++i)
    {
        state = state * 1103515245u + 12345u;
        bytes.data[i] = (u8)(state >> 16);
    }
    std::string path = dir.File("b.bin");
    ASSERT_TRUE(WriteArrayToBinaryFile(path.c_str(), bytes));
    std::string raw = ReadRaw(path);
    ASSERT_EQ(raw.size(), bytes.Count());
    EXPECT_EQ(memcmp(raw.data(), bytes.data, raw.size()), 0);

    TPodArray<u8> back;
    ASSERT_TRUE(ReadArrayFromBinaryFile(path.c_str(), back));
    ASSERT_EQ(back.Count(), bytes.Count());
    EXPECT_EQ(memcmp(back.data, bytes.data, back.Count()), 0);

    // An empty array writes an empty file over the old one.
    TPodArray<u8> empty;
    ASSERT_TRUE(WriteArrayToBinaryFile(path.c_str(), empty));
    EXPECT_EQ(ReadRaw(path), "");
    ASSERT_TRUE(ReadArrayFromBinaryFile(path.c_str(), back));
    EXPECT_EQ(back.Count(), 0u);
    EXPECT_EQ(ListDir(dir.Path()), std::vector<std::string>{"b.bin"});
}

TEST(Files, DirectoriesPipesAndKernelFilesAreRefusedAtOnce)
{
    TTempDir dir;
    std::string sub = dir.File("sub");
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // A file the kernel shows of itself is refused too, regular as it looks.
    for (const std::string& p : {sub, fifo, std::string("/dev/zero"), std::string("/proc/self/status")})
    {
        TString text("stale");
        EXPECT_FALSE(ReadTextFile(p.c_str(), text)) << p;
        EXPECT_EQ(S(text), "") << p;
        TPodArray<u8> bytes;
        EXPECT_FALSE(ReadArrayFromBinaryFile(p.c_str(), bytes)) << p;
        EXPECT_FALSE(FileExists(p.c_str())) << p;
        EXPECT_EQ(FileModifiedTime(p.c_str()), 0u) << p;
        EXPECT_EQ(gSysFOpen(p.c_str(), FILE_Read), nullptr) << p;
    }
    // A write into a directory's name fails and leaves it a directory.
    EXPECT_FALSE(WriteTextFile(sub.c_str(), "x"));
    struct stat st;
    ASSERT_EQ(stat(sub.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // A pipe nobody reads is not waited for.
    EXPECT_FALSE(WriteTextFile(fifo.c_str(), "x"));
}

TEST(Files, FailedWritesReportFailureAndKeepTheOldFile)
{
    TTempDir dir;
    EXPECT_FALSE(WriteTextFile("/dev/full", "data"));
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    EXPECT_FALSE(WriteTextFile(dir.File("missing/x.txt").c_str(), "data"));
    EXPECT_EQ(ListDir(dir.Path()), std::vector<std::string>{});

    // A write cut short by the file-size limit must not touch the previous content.
    std::string target = dir.File("doc.kvf");
    WriteRaw(target, "previous content");
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    TPodArray<u8> big;
    big.Resize(5000);
    memset(big.data, 'z', 5000);
    bool wrote = WriteArrayToBinaryFile(target.c_str(), big);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(ReadRaw(target), "previous content");
    EXPECT_EQ(ListDir(dir.Path()), std::vector<std::string>{"doc.kvf"});
}

TEST(Files, WritesKeepPermissionsAndLinks)
{
    TTempDir dir;
    std::string target = dir.File("a.txt");
    WriteRaw(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(WriteTextFile(target.c_str(), "new"));
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadRaw(target), "new");

    std::string link = dir.File("link.txt");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteTextFile(link.c_str(), "through link"));
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadRaw(target), "through link");
    EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"a.txt", "link.txt"}));
}

TEST(Files, OpenModesRelativeNamesExistenceAndTimes)
{
    TTempDir dir;
    TBaseFolder base(dir.Path() + "/");
    EXPECT_EQ(gSysFOpen("m.txt", 0), nullptr);
    EXPECT_EQ(gSysFOpen("m.txt", FILE_Binary), nullptr);
    EXPECT_FALSE(FileExists("m.txt"));

    FILE* f = gSysFOpen("m.txt", FILE_Read | FILE_Write);
    ASSERT_NE(f, nullptr);
    fputs("hello", f);
    fseek(f, 0, SEEK_SET);
    char buf[16] = {};
    EXPECT_EQ(fread(buf, 1, sizeof(buf), f), 5u);
    EXPECT_STREQ(buf, "hello");
    fclose(f);
    EXPECT_EQ(ReadRaw(dir.File("m.txt")), "hello");
    EXPECT_TRUE(FileExists("m.txt"));
    EXPECT_TRUE(FileExists(dir.File("m.txt").c_str()));

    f = gSysFOpen("m.txt", FILE_Write | FILE_Binary);
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(ReadRaw(dir.File("m.txt")), "");

    TString text;
    ASSERT_TRUE(WriteTextFile("rel.txt", "r"));
    ASSERT_TRUE(ReadTextFile("rel.txt", text));
    EXPECT_EQ(S(text), "r");
    EXPECT_EQ(ReadRaw(dir.File("rel.txt")), "r");

    struct timeval times[2] = {{1600000000, 0}, {1600000123, 0}};
    ASSERT_EQ(utimes(dir.File("rel.txt").c_str(), times), 0);
    EXPECT_EQ(FileModifiedTime("rel.txt"), 1600000123u);
    EXPECT_EQ(FileModifiedTime("none.txt"), 0u);
}

// ---------------------------------------------------------------------------------------------
// Directory listing

TEST(Files, ListingIsSortedByName)
{
    TTempDir dir;
    for (const char* n : {"b", "a", "C", "_x", "a0"})
        WriteRaw(dir.File(n), n);
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);

    TBaseFolder base(dir.Path() + "/");
    std::vector<std::string> names;
    for (SFileFind find(""); find.IsValid(); find.Next())
        names.push_back(S(find.GetName()));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "C", "_x", "a", "a0", "b", "sub"}));

    names.clear();
    SFileFind abs(dir.Path().c_str());
    while (abs.IsValid())
    {
        names.push_back(S(abs.GetName()));
        abs.Next();
    }
    EXPECT_EQ(names.size(), 8u);
    EXPECT_EQ(S(abs.GetName()), "");
    EXPECT_FALSE(abs.Next());

    SFileFind missing("no/such/folder");
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(S(missing.GetName()), "");
}

// ---------------------------------------------------------------------------------------------
// File dialog

TEST(Files, DialogStartsInTheFullFolderAndReportsCancel)
{
    TBaseFolder base("/data/RERudu/");
    TString out("unchanged");
    SetQuestionAnswer(0);
    EXPECT_EQ(FileOpenDialog("Data/Tex", "Image\0*.png\0", out, 1), 0);
    EXPECT_EQ(S(out), "unchanged");
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_EQ(RecordedBoxes()[0].kind, SYSBOX_FileDialog);
    EXPECT_EQ(RecordedBoxes()[0].text, "/data/RERudu/Data/Tex");
    EXPECT_EQ(RecordedBoxes()[0].caption, "Save");
}

// Runs the real dialog path against a stand-in "zenity" that answers at once with a fixed path.
// It runs in a child process, because it needs the box hook off and the interactive mode on.
static void DialogWithStandIn(const std::string& tools, const std::string& base, const char* chosen,
                              bool relative, const char* expected)
{
    gSysSetBoxHook(nullptr);
    gSysSetInteractive(true);
    std::string script = tools + "/zenity";
    FILE* f = fopen(script.c_str(), "w");
    if (!f)
        _exit(2);
    fprintf(f, "#!/bin/sh\necho '%s'\n", chosen);
    fclose(f);
    chmod(script.c_str(), 0755);
    std::string path = tools + ":" + (getenv("PATH") ? getenv("PATH") : "");
    setenv("PATH", path.c_str(), 1);
    GBaseFolder = base.c_str();
    GDialogRelativePaths = relative;
    TString out;
    int result = FileOpenDialog("Data", "Image\0*.png\0", out, 0);
    if (result == 0 || S(out) != expected)
    {
        fprintf(stderr, "result %d, out \"%s\"\n", result, out.Str());
        _exit(1);
    }
    _exit(0);
}

TEST(Files, DialogGivesPathsRelativeToTheDataRoot)
{
    TTempDir dir;
    std::string base = dir.Path() + "/bin/RERudu/";
    std::string inside = base + "Data/Tex/a.png";
    std::string outside = dir.Path() + "/docs/b.png";
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(DialogWithStandIn(dir.Path(), base, inside.c_str(), true, "Data/Tex/a.png"),
                testing::ExitedWithCode(0), "");
    EXPECT_EXIT(DialogWithStandIn(dir.Path(), base, outside.c_str(), true, "../../docs/b.png"),
                testing::ExitedWithCode(0), "");
    EXPECT_EXIT(DialogWithStandIn(dir.Path(), base, inside.c_str(), false, inside.c_str()),
                testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------------------------
// "#include" expansion

class Includes : public testing::Test
{
protected:
    TTempDir dir;
    void Make(const char* name, const std::string& text)
    {
        std::string p = dir.File(name);
        size_t slash = p.rfind('/');
        std::string folder = p.substr(0, slash);
        std::string cmd = "mkdir -p '" + folder + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        WriteRaw(p, text);
    }
    bool Load(const char* name, TString& out) { return LoadTextWithIncludes(dir.File(name).c_str(), out); }
};

TEST_F(Includes, NestedFilesExpandInPlace)
{
    Make("main.mtl", "line1\n  #include \"sub/a.inc\"  \nline3\n#include \"top.inc\"");
    Make("sub/a.inc", "A1\r\n#include \"b.inc\"\r\n");
    Make("sub/b.inc", "B\n");
    Make("top.inc", "T");
    TString out;
    ASSERT_TRUE(Load("main.mtl", out));
    EXPECT_EQ(S(out), "line1\nA1\nB\n\n\nline3\nT");
}

TEST_F(Includes, DirectiveOnlyAsFirstToken)
{
    Make("main.mtl", "x #include \"missing\"\n#includes \"missing\"\n// #include \"missing\"\n");
    TString out;
    ASSERT_TRUE(Load("main.mtl", out));
    EXPECT_EQ(S(out), "x #include \"missing\"\n#includes \"missing\"\n// #include \"missing\"\n");
}

TEST_F(Includes, BackslashNamesAndRepeatedIncludes)
{
    Make("sub/c.mtl", "#include \"..\\common.inc\"\n#include \"..\\common.inc\"\n");
    Make("common.inc", "C\n");
    TString out;
    ASSERT_TRUE(Load("sub/c.mtl", out));
    EXPECT_EQ(S(out), "C\n\nC\n\n");
}

TEST_F(Includes, MissingOrMalformedIncludesFail)
{
    Make("a.mtl", "#include \"missing.inc\"");
    Make("b.mtl", "ok\n#include missing.inc\n\"later\"\n");
    Make("c.mtl", "#include\n");
    TString out;
    EXPECT_FALSE(Load("a.mtl", out));
    EXPECT_FALSE(Load("b.mtl", out));
    EXPECT_FALSE(Load("c.mtl", out));
    EXPECT_FALSE(Load("none.mtl", out));
}

TEST_F(Includes, CyclesAndDepthAreStopped)
{
    Make("self.mtl", "a\n#include \"self.mtl\"\n");
    Make("x.mtl", "#include \"y.mtl\"\n");
    Make("y.mtl", "#include \"./x.mtl\"\n");
    TString out;
    EXPECT_FALSE(Load("self.mtl", out));
    EXPECT_FALSE(Load("x.mtl", out));

    // A chain of distinct files: a modest one loads, a very deep one is refused.
    for (int i = 0; i < 50; ++i)
        Make(("chain" + std::to_string(i) + ".inc").c_str(),
             i < 49 ? "#include \"chain" + std::to_string(i + 1) + ".inc\"\n" : std::string("end\n"));
    Make("short.mtl", "#include \"chain40.inc\"\n");
    ASSERT_TRUE(Load("short.mtl", out));
    EXPECT_EQ(S(out), "end\n" + std::string(10, '\n'));
    EXPECT_FALSE(Load("chain0.inc", out));
}

// Files that include the next one many times over multiply without a cycle: the expansion stops
// at 16 MB with a message naming the file, and anything below that still expands whole.
TEST_F(Includes, ExpansionStopsAtSixteenMegabytes)
{
    const size_t leafBytes = 4608;
    struct SCase
    {
        int levels;  // files above the leaf, each including the next
        int repeats; // directives per file
    };
    const SCase cases[] = {
        {2, 48}, // 48 x 48 leaves of 4.5 KB: 10.6 MB, loads
        {2, 64}, // 64 x 64 leaves: 18.9 MB
        {3, 64}, // the diamond: 1.2 GB
        {4, 64},
    };
    for (const SCase& c : cases)
    {
        const std::string prefix = "d" + std::to_string(c.levels) + "_" + std::to_string(c.repeats) + "_";
        Make((prefix + std::to_string(c.levels) + ".inc").c_str(), std::string(leafBytes - 1, 'x') + "\n");
        // Expected length of each level: every directive line becomes its file's text and a line feed.
        u64 expected = leafBytes;
        for (int level = c.levels - 1; level >= 0; --level)
        {
            std::string text;
            for (int k = 0; k < c.repeats; ++k)
                text += "#include \"" + prefix + std::to_string(level + 1) + ".inc\"\n";
            Make((prefix + std::to_string(level) + ".inc").c_str(), text);
            expected = (u64)c.repeats * (expected + 1);
        }
        const u64 limit = 16u << 20;
        const bool fits = expected <= limit;
        testing::internal::CaptureStdout();
        TString out;
        const bool loaded = Load((prefix + "0.inc").c_str(), out);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(loaded, fits) << prefix;
        if (fits)
        {
            EXPECT_EQ(out.Length(), expected) << prefix;
            EXPECT_EQ(printed, "") << prefix;
        }
        else
        {
            EXPECT_EQ(out.Length(), 0u) << prefix;
            EXPECT_NE(printed.find("#include: expansion grows beyond 16 MB at"), std::string::npos) << printed;
            EXPECT_NE(printed.find(prefix), std::string::npos) << printed;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Temporary names

// Writers on several threads (a save beside an image export) never share a temporary name.
TEST(Files, TemporaryNamesAreUniqueAcrossThreads)
{
    const int kThreads = 4;
    const int kNamesPerThread = 500;
    const TString target("/data/out/picture.png");
    std::vector<std::vector<std::string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kNamesPerThread; ++i)
                names[t].push_back(MakeTempName(target).Str());
        });
    for (std::thread& th : threads)
        th.join();
    std::set<std::string> all;
    const std::string prefix = std::string(target.Str()) + ".tmp" + std::to_string(getpid()) + "-";
    for (const auto& list : names)
        for (const std::string& n : list)
        {
            EXPECT_EQ(n.compare(0, prefix.size(), prefix), 0) << n;
            all.insert(n);
        }
    EXPECT_EQ(all.size(), (size_t)(kThreads * kNamesPerThread));
}

// ---------------------------------------------------------------------------------------------
// An open the system refuses as not permitted (an immutable file opened for writing) tells the
// person on the main thread; a worker such as the texture loader only fails, without a box.
namespace
{
bool SetImmutable(const std::string& path, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int attr = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &attr) == 0;
    attr = on ? (attr | FS_IMMUTABLE_FL) : (attr & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &attr) == 0;
    const int cause = errno;
    close(fd);
    errno = cause;
    return ok;
}

struct SOpenOnThread
{
    std::string Path;
    bool Opened = false;
};

u32 OpenForWriting(void* context)
{
    SOpenOnThread* job = (SOpenOnThread*)context;
    FILE* f = gSysFOpen(job->Path.c_str(), FILE_Write);
    job->Opened = f != nullptr;
    if (f)
        fclose(f);
    return 0;
}
} // namespace

TEST(Files, NotPermittedOpensAskOnlyOnTheMainThread)
{
    TTempDir dir;
    const std::string path = dir.File("locked.txt");
    FILE* make = fopen(path.c_str(), "w");
    ASSERT_NE(make, nullptr);
    fclose(make);
    if (!SetImmutable(path, true))
    {
        if (errno == EPERM)
            GTEST_SKIP() << "this user may not make a file immutable (it lacks CAP_LINUX_IMMUTABLE)";
        GTEST_SKIP() << "this file system cannot make a file immutable: " << strerror(errno);
    }

    struct SCase
    {
        bool onWorker;
        size_t boxes;
    };
    const SCase cases[] = {{false, 1}, {true, 0}};
    for (const SCase& c : cases)
    {
        RecordedBoxes().clear();
        SOpenOnThread job;
        job.Path = path;
        if (c.onWorker)
        {
            SThread worker;
            ASSERT_TRUE(worker.Start(OpenForWriting, &job));
            ASSERT_EQ(worker.Wait(THREAD_INFINITE), (u32)THREAD_WAIT_SIGNALED);
        }
        else
            OpenForWriting(&job);
        EXPECT_FALSE(job.Opened);
        ASSERT_EQ(RecordedBoxes().size(), c.boxes) << (c.onWorker ? "worker" : "main thread");
        if (c.boxes)
        {
            EXPECT_EQ(RecordedBoxes()[0].kind, SYSBOX_Message);
            EXPECT_EQ(RecordedBoxes()[0].text, strerror(EPERM));
            EXPECT_EQ(RecordedBoxes()[0].caption, path);
        }
    }
    EXPECT_TRUE(SetImmutable(path, false));
}
