#include "TestSupport.h"

#include "GameArgs.h"

#include <fstream>

static std::vector<std::string> Split(const char* line)
{
    TArray<TString> args;
    gSysSplitCommandLine(line, args);
    std::vector<std::string> out;
    for (const TString& a : args)
        out.push_back(std::string(a.text, a.count));
    return out;
}

using V = std::vector<std::string>;

TEST(CommandLineSplit, QuotedPathsAndBlanks)
{
    EXPECT_EQ(Split("\"C:/Program Files/pw.exe\" -opc \"my docs/a b.kvf\""),
              (V{"C:/Program Files/pw.exe", "-opc", "my docs/a b.kvf"}));
    EXPECT_EQ(Split("prog  one\t\ttwo"), (V{"prog", "one", "two"}));
    EXPECT_EQ(Split("prog a   "), (V{"prog", "a"}));
    EXPECT_EQ(Split("   prog a"), (V{"prog", "a"}));
    EXPECT_EQ(Split(""), V{});
    EXPECT_EQ(Split("prog \"\" x"), (V{"prog", "", "x"}));
    EXPECT_EQ(Split("prog ab\"c d\"e"), (V{"prog", "abc de"}));
}

TEST(CommandLineSplit, BackslashRuns)
{
    EXPECT_EQ(Split("prog a\\\\b"), (V{"prog", "a\\\\b"}));
    EXPECT_EQ(Split("prog \\\\srv\\x"), (V{"prog", "\\\\srv\\x"}));
    // Two backslashes before a quote: one backslash, and the quote starts quoting.
    EXPECT_EQ(Split("prog a\\\\\"b c\""), (V{"prog", "a\\b c"}));
    // Three backslashes before a quote: one backslash and a literal quote.
    EXPECT_EQ(Split("prog a\\\\\\\"b c"), (V{"prog", "a\\\"b", "c"}));
    // A backslash run may start an argument of its own.
    EXPECT_EQ(Split("prog \\\"x"), (V{"prog", "\"x"}));
    EXPECT_EQ(Split("prog \\\\\"a b\""), (V{"prog", "\\a b"}));
}

TEST(CommandLineArgs, ListAndRealProgramPath)
{
    const char* argv[] = {"plumweave", "-listen", "8377"};
    gSysParseCommandLine(3, argv);
    ASSERT_EQ(gSysArgCount(), 3);
    EXPECT_STREQ(gSysArg(1), "-listen");
    EXPECT_EQ(gSysArgLength(2), 4);
    // Argument 0 is the running binary's real path, not the bare name it was given.
    EXPECT_EQ(gSysExePath()[0], '/');
    EXPECT_EQ(gSysProgramPath(), TString(gSysExePath()));
    {
        TExpectBreak expect("at >= count");
        EXPECT_STREQ(gSysArg(3), "");
        EXPECT_EQ(gSysArgLength(-1), 0);
    }
}

TEST(CommandLineSplit, QuotingDetails)
{
    // Blanks and tabs inside quotes belong to the argument; an open quote runs to the end.
    EXPECT_EQ(Split("prog \"a \t b\""), (V{"prog", "a \t b"}));
    EXPECT_EQ(Split("prog \"open to the end  "), (V{"prog", "open to the end  "}));
    EXPECT_EQ(Split("prog \"\""), (V{"prog", ""}));
    EXPECT_EQ(Split("\"\" a"), (V{"", "a"}));
    EXPECT_EQ(Split("prog a\"\"b"), (V{"prog", "ab"}));
    // Backslashes inside quotes follow the same run rules.
    EXPECT_EQ(Split("prog \"C:\\dir\\\\\""), (V{"prog", "C:\\dir\\"}));
    // Four backslashes and a quote: two backslashes and quoting; five: two and a literal quote.
    EXPECT_EQ(Split("prog \\\\\\\\\"x y\""), (V{"prog", "\\\\x y"}));
    EXPECT_EQ(Split("prog \\\\\\\\\\\"x y"), (V{"prog", "\\\\\"x", "y"}));
    // A trailing run of backslashes stays literal.
    EXPECT_EQ(Split("prog end\\\\\\"), (V{"prog", "end\\\\\\"}));
    EXPECT_EQ(Split("  \t "), V{});
}

TEST(CommandLineArgs, ProcessOwnArgumentsAndRefill)
{
    const char* first[] = {"a", "b", "c", "d"};
    gSysParseCommandLine(4, first);
    ASSERT_EQ(gSysArgCount(), 4);
    // Filling again starts from an empty list.
    const char* second[] = {"x", ""};
    gSysParseCommandLine(2, second);
    ASSERT_EQ(gSysArgCount(), 2);
    EXPECT_STREQ(gSysArg(1), "");
    EXPECT_EQ(gSysArgLength(1), 0);

    // Without a list the process's own arguments are taken; argument 0 is the real path.
    gSysParseCommandLine(0, nullptr);
    ASSERT_GE(gSysArgCount(), 1);
    EXPECT_EQ(TString(gSysExePath()), gSysProgramPath());
    std::ifstream f("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> expect;
    std::string arg;
    while (std::getline(f, arg, '\0'))
        expect.push_back(arg);
    ASSERT_EQ(gSysArgCount(), (int)expect.size());
    for (int i = 1; i < gSysArgCount(); ++i)
        EXPECT_EQ(std::string(gSysArg(i)), expect[i]);
}
