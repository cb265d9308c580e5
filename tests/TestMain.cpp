#include "TestSupport.h"
#include "GLTestContext.h"
#include "TexNodeRegistry.h"

#include <errno.h>
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

namespace
{
const char* const TEMP_PARENT_ENV = "PW_TEMP_PARENT";
const char* const DEATH_DIR_ENV = "PW_DEATH_DIR";
const char* const TEMP_PREFIX = "/tmp/pwtest";

bool InDeathTestChild()
{
    return !GTEST_FLAG_GET(internal_run_death_test).empty();
}

std::string MakeFolder(const std::string& base)
{
    std::string pattern = base + "XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : "";
}

// Removes a folder of the tests with all it holds, whatever permissions a test left inside.
bool RemoveFolder(const std::string& path)
{
    if (path.empty())
        return true;
    const std::string quoted = "'" + path + "'";
    return system(("chmod -R u+rwx " + quoted + " 2>/dev/null; rm -rf " + quoted).c_str()) == 0;
}

std::vector<std::string> GDeathDirs; // made by this process and not removed yet
} // namespace

TTempDir::TTempDir()
{
    const char* parent = InDeathTestChild() ? getenv(TEMP_PARENT_ENV) : nullptr;
    path = MakeFolder(parent ? std::string(parent) + "/child" : TEMP_PREFIX);
    if (path.empty())
    {
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
        path = "/nonexistent";
        return;
    }
    owned = !parent;
    if (owned)
    {
        const char* before = getenv(TEMP_PARENT_ENV);
        outer = before ? before : "";
        setenv(TEMP_PARENT_ENV, path.c_str(), 1);
    }
}

TTempDir::~TTempDir()
{
    if (!owned)
        return;
    if (outer.empty())
        unsetenv(TEMP_PARENT_ENV);
    else
        setenv(TEMP_PARENT_ENV, outer.c_str(), 1);
    if (!RemoveFolder(path))
        fprintf(stderr, "could not remove %s\n", path.c_str());
}

std::string DeathDir()
{
    if (const char* inherited = getenv(DEATH_DIR_ENV))
        return inherited;
    const std::string dir = MakeFolder(TEMP_PREFIX);
    setenv(DEATH_DIR_ENV, dir.c_str(), 1);
    GDeathDirs.push_back(dir);
    return dir;
}

void RemoveDeathDir(const std::string& dir)
{
    unsetenv(DEATH_DIR_ENV);
    const auto it = std::find(GDeathDirs.begin(), GDeathDirs.end(), dir);
    if (it == GDeathDirs.end())
        return;
    GDeathDirs.erase(it);
    EXPECT_TRUE(RemoveFolder(dir)) << dir;
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
    void OnTestEnd(const testing::TestInfo&) override
    {
        for (const std::string& dir : GDeathDirs)
            if (!RemoveFolder(dir))
                fprintf(stderr, "could not remove %s\n", dir.c_str());
        GDeathDirs.clear();
        unsetenv(DEATH_DIR_ENV);
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
