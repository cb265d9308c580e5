#include "ProcessSupport.h"
#include "TestSupport.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

// The program starts with no display and nobody at the keyboard: a batch run brings the engine up
// on the off-screen context, runs the whole exit and ends with 0.
TEST(ProgramStart, BatchRunThroughALinkWithoutDisplayExitsCleanly)
{
    const std::string bin = std::string(PW_BIN_DIR) + "/plumweave";
    char real[PATH_MAX];
    ASSERT_NE(realpath(bin.c_str(), real), nullptr) << bin;

    // Started through a link with another name.
    TTempDir dir;
    std::string link = dir.File("pw-link");
    ASSERT_EQ(symlink(real, link.c_str()), 0);
    // The last document named is the one run, found from the working folder.
    FILE* doc = fopen(dir.File("last").c_str(), "w");
    ASSERT_NE(doc, nullptr);
    fputs("GKV_File_Version_2\n", doc);
    fclose(doc);

    std::string cmd = "cd '" + dir.Path() + "' && env -u DISPLAY -u PLUMWEAVE_NONINTERACTIVE '" + link +
                      "' -opc 'my doc.kvf' '' last </dev/null 2>&1";
    int status = -1;
    const std::string out = RunCapture(cmd, &status);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    // The off-screen context came up, the window's mode was set, the loop was skipped.
    EXPECT_NE(out.find("[R_SetMode] Resolution changed to 1024x576, windowed, AA disabled"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
}
