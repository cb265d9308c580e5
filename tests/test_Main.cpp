#include "TestSupport.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

// The program starts with no display and nobody at the keyboard, prints its arguments one per
// line (argument 0 being its real path) and exits 0.
TEST(ProgramStart, RunsHeadlessAndPrintsItsArguments)
{
    const std::string bin = std::string(PW_BIN_DIR) + "/plumweave";
    char real[PATH_MAX];
    ASSERT_NE(realpath(bin.c_str(), real), nullptr) << bin;

    // A link with another name: argument 0 must still be the real program path.
    TTempDir dir;
    std::string link = dir.File("pw-link");
    ASSERT_EQ(symlink(real, link.c_str()), 0);

    std::string cmd = "cd '" + dir.Path() + "' && env -u DISPLAY -u PLUMWEAVE_NONINTERACTIVE '" + link +
                      "' -opc 'my doc.kvf' '' last </dev/null 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_EQ(out, std::string(real) + "\n-opc\nmy doc.kvf\n\nlast\n");
}
