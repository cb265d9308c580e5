#include "FuzzSupport.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "GameSys.h"

namespace
{
std::string GDir;

int AnswerEverything(ESysBoxKind kind, const char* text, const char* caption)
{
    (void)kind;
    (void)text;
    (void)caption;
    return 0; // No to questions, go on after assertions
}

void RemoveDir()
{
    if (!GDir.empty())
    {
        const std::string cmd = "rm -rf '" + GDir + "'";
        if (system(cmd.c_str()) != 0)
            fprintf(stderr, "fuzz: cannot remove %s\n", GDir.c_str());
    }
}

bool IsEmptyDir(const char* path)
{
    DIR* d = opendir(path);
    if (!d)
        return false;
    bool empty = true;
    while (dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            empty = false;
    closedir(d);
    return empty;
}
} // namespace

void FuzzStart(const std::vector<std::string>& seeds)
{
    setenv("PLUMWEAVE_NONINTERACTIVE", "1", 1);
    unsetenv("DISPLAY");
    gSysSetBoxHook(AnswerEverything);
    const char* seedDir = getenv("PW_FUZZ_SEEDS_DIR");
    if (seedDir && *seedDir)
    {
        mkdir(seedDir, 0755);
        if (IsEmptyDir(seedDir))
            for (size_t i = 0; i < seeds.size(); ++i)
            {
                char name[32];
                snprintf(name, sizeof(name), "/seed_%03zu", i);
                FuzzWriteFile(seedDir + std::string(name), (const uint8_t*)seeds[i].data(), seeds[i].size());
            }
    }
}

const std::string& FuzzDir()
{
    if (GDir.empty())
    {
        char path[] = "/tmp/pwfuzzXXXXXX";
        if (!mkdtemp(path))
            FuzzFail("mkdtemp");
        GDir = path;
        atexit(RemoveDir);
    }
    return GDir;
}

void FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || (size && fwrite(data, 1, size, f) != size))
        FuzzFail(("cannot write " + path).c_str());
    fclose(f);
}

void FuzzFail(const char* what)
{
    fprintf(stderr, "fuzz finding: %s\n", what);
    fflush(stderr);
    abort();
}

std::string FuzzBE32(uint32_t v)
{
    const char b[4] = {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
    return std::string(b, 4);
}
