#include "TestSupport.h"
#include "GLTestContext.h"
#include "TexNodeRegistry.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

static std::vector<SRecordedBox> GBoxes;
static int GQuestionAnswer = 0;
static std::vector<std::string> GAllowedBreaks;

std::vector<SRecordedBox>& RecordedBoxes()
{
    return GBoxes;
}

void SetQuestionAnswer(int answer)
{
    GQuestionAnswer = answer;
}

static int TestBoxHook(ESysBoxKind kind, const char* text, const char* caption)
{
    GBoxes.push_back({kind, text ? text : "", caption ? caption : ""});
    if (kind == SYSBOX_Assert)
    {
        std::string t = text ? text : "";
        bool allowed = std::any_of(GAllowedBreaks.begin(), GAllowedBreaks.end(),
                                   [&](const std::string& e) { return t.find(e) != std::string::npos; });
        if (!allowed)
            ADD_FAILURE() << "Unexpected assertion:\n" << t;
        return 0; // go on, as after No
    }
    if (kind == SYSBOX_FatalError)
        fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    if (kind == SYSBOX_Question || kind == SYSBOX_FileDialog)
        return GQuestionAnswer;
    return SYS_IDOK;
}

TExpectBreak::TExpectBreak(const char* e, int m) : expected(e), minCount(m), firstIndex(GBoxes.size())
{
    GAllowedBreaks.push_back(expected);
}

int TExpectBreak::Seen() const
{
    int n = 0;
    for (size_t i = firstIndex; i < GBoxes.size(); ++i)
        if (GBoxes[i].kind == SYSBOX_Assert && GBoxes[i].text.find(expected) != std::string::npos)
            ++n;
    return n;
}

TExpectBreak::~TExpectBreak()
{
    EXPECT_GE(Seen(), minCount) << "expected assertion \"" << expected << "\"";
    auto it = std::find(GAllowedBreaks.begin(), GAllowedBreaks.end(), expected);
    if (it != GAllowedBreaks.end())
        GAllowedBreaks.erase(it);
}

int CountBreaks(const char* part)
{
    int n = 0;
    for (const SRecordedBox& b : GBoxes)
        if (b.kind == SYSBOX_Assert && b.text.find(part) != std::string::npos)
            ++n;
    return n;
}

TTempDir::TTempDir()
{
    char pattern[] = "/tmp/pwtestXXXXXX";
    const char* made = mkdtemp(pattern);
    path = made ? made : "/tmp";
}

TTempDir::~TTempDir()
{
    if (path.rfind("/tmp/pwtest", 0) == 0)
    {
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", path.c_str());
    }
}

std::string DeathDir()
{
    if (const char* inherited = getenv("PW_DEATH_DIR"))
        return inherited;
    char pattern[] = "/tmp/pwtestXXXXXX";
    const char* made = mkdtemp(pattern);
    const std::string dir = made ? made : "/tmp";
    setenv("PW_DEATH_DIR", dir.c_str(), 1);
    return dir;
}

void RemoveDeathDir(const std::string& dir)
{
    unsetenv("PW_DEATH_DIR");
    if (dir.rfind("/tmp/pwtest", 0) == 0)
    {
        EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }
}

// Resets the recorder around every test.
class TBoxRecorderListener : public testing::EmptyTestEventListener
{
    void OnTestStart(const testing::TestInfo&) override
    {
        GBoxes.clear();
        GQuestionAnswer = 0;
        GAllowedBreaks.clear();
    }
};

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    setenv("PLUMWEAVE_NONINTERACTIVE", "1", 0);
    gSysSetInteractive(false);
    gSysSetBoxHook(TestBoxHook);
    TexRegisterNodeClasses();
    testing::UnitTest::GetInstance()->listeners().Append(new TBoxRecorderListener);
    int result = RUN_ALL_TESTS();
    GLTest_Shutdown();
    return result;
}
