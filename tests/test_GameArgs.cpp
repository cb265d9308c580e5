#include "TestSupport.h"

#include "GameArgs.h"

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
