// The Linux half of the platform layer: real boxes through SDL, the file dialog through zenity,
// the process's own command line, the display check, the monotonic timer and sleeping. The
// portable half (GameSys.cpp) reaches the boxes only through the back-end installed here.
#include "GameSys.h"

#include "GameSignals.h"

#include <SDL2/SDL.h>
#include <errno.h>
#include <malloc.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// Display and process arguments

bool gSysHasDisplay()
{
    const char* display = getenv("DISPLAY");
    return display && display[0];
}

// The raw command line, read from the process itself so that the mode is known before the
// engine main has parsed anything.
static bool CommandLineHasBatchFlag()
{
    FILE* f = fopen("/proc/self/cmdline", "rb");
    if (!f)
        return false;
    char buf[8192];
    size_t n = fread(buf, 1, sizeof(buf) - 1, f);
    fclose(f);
    buf[n] = 0;
    size_t i = 0;
    while (i < n)
    {
        const char* arg = buf + i;
        if (strcmp(arg, "-opc") == 0 || strcmp(arg, "-listen") == 0)
            return true;
        i += strlen(arg) + 1;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Message boxes over SDL

static bool CanWaitForPerson()
{
    return gSysHasDisplay() && !CommandLineHasBatchFlag();
}

static int ShowSdlBox(ESysBoxKind kind, const char* text, const char* caption)
{
    u32 flags = SDL_MESSAGEBOX_INFORMATION;
    if (kind == SYSBOX_Question || kind == SYSBOX_Assert)
        flags = SDL_MESSAGEBOX_WARNING;
    else if (kind == SYSBOX_FatalError)
        flags = SDL_MESSAGEBOX_ERROR;
    const bool yesNo = kind == SYSBOX_Question || kind == SYSBOX_Assert;

    SDL_MessageBoxButtonData buttons[2];
    int count = 0;
    if (yesNo)
    {
        buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, SYS_IDYES, "Yes"};
        buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, SYS_IDNO, "No"};
        count = 2;
    }
    else
    {
        buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, SYS_IDOK,
                      "OK"};
        count = 1;
    }
    SDL_MessageBoxData data = {};
    data.flags = flags;
    data.window = nullptr;
    data.title = caption ? caption : "";
    data.message = text ? text : "";
    data.numbuttons = count;
    data.buttons = buttons;
    int pressed = -1;
    if (SDL_ShowMessageBox(&data, &pressed) != 0)
        return -1;
    return pressed;
}

static const SSysBoxBackend GSdlBoxBackend = {ShowSdlBox, CanWaitForPerson};

// Installed while the program loads, so that a box raised by any static constructor or test
// already reaches the display.
[[maybe_unused]] static const bool GSdlBoxBackendInstalled = (gSysSetBoxBackend(&GSdlBoxBackend), true);

// ---------------------------------------------------------------------------------------------
// File dialog over zenity

// Turns a classic filter list ("Description\0*.a;*.b\0...\0\0") into zenity's "--file-filter" options.
static int FilterToZenity(const char* filter, char storage[][512], int maxFilters)
{
    int n = 0;
    if (!filter)
        return 0;
    const char* p = filter;
    while (*p && n < maxFilters)
    {
        const char* desc = p;
        p += strlen(p) + 1;
        if (!*p)
            break;
        const char* patterns = p;
        p += strlen(p) + 1;
        char spaced[400];
        size_t k = 0;
        for (const char* q = patterns; *q && k + 1 < sizeof(spaced); ++q)
            spaced[k++] = *q == ';' ? ' ' : *q;
        spaced[k] = 0;
        gSNPrintf(storage[n], 512, "--file-filter=%s | %s", desc, spaced);
        ++n;
    }
    return n;
}

int gSysFileOpen(const char* initialFolder, const char* filter, char* fileBuffer, size_t bufferSize, int save)
{
    if (!fileBuffer || bufferSize == 0)
        return 0;
    if (TSysBoxHook hook = gSysGetBoxHook())
        return hook(SYSBOX_FileDialog, initialFolder ? initialFolder : "", save ? "Save" : "Open") ? 1 : 0;
    if (!gSysIsInteractive())
    {
        fprintf(stderr, "File dialog cancelled: not interactive\n");
        return 0;
    }

    char filters[16][512];
    int filterCount = FilterToZenity(filter, filters, 16);
    char start[4096];
    start[0] = 0;
    if (initialFolder && initialFolder[0])
    {
        size_t len = strlen(initialFolder);
        gSNPrintf(start, sizeof(start), "--filename=%s%s", initialFolder,
                  initialFolder[len - 1] == '/' ? "" : "/");
    }

    const char* argv[24];
    int argc = 0;
    argv[argc++] = "zenity";
    argv[argc++] = "--file-selection";
    if (save)
    {
        argv[argc++] = "--save";
        argv[argc++] = "--confirm-overwrite";
    }
    if (start[0])
        argv[argc++] = start;
    for (int i = 0; i < filterCount; ++i)
        argv[argc++] = filters[i];
    argv[argc] = nullptr;

    int fds[2];
    if (pipe(fds) != 0)
    {
        fprintf(stderr, "File dialog cancelled: pipe: %s\n", strerror(errno));
        return 0;
    }
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0)
    {
        fprintf(stderr, "File dialog cancelled: fork: %s\n", strerror(errno));
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0)
    {
        SysRestoreChildSignals();
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execvp("zenity", (char* const*)argv);
        _exit(127);
    }
    close(fds[1]);
    char result[8192];
    size_t got = 0;
    for (;;)
    {
        ssize_t r = read(fds[0], result + got, sizeof(result) - 1 - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += (size_t)r;
        if (got >= sizeof(result) - 1)
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    result[got] = 0;
    while (got > 0 && (result[got - 1] == '\n' || result[got - 1] == '\r'))
        result[--got] = 0;

    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
    {
        fprintf(stderr, "File dialog cancelled: zenity could not be run\n");
        return 0;
    }
    if (WEXITSTATUS(status) != 0 || got == 0)
        return 0; // the user cancelled
    if (got + 1 > bufferSize)
    {
        fprintf(stderr, "File dialog cancelled: the chosen path is longer than %zu bytes\n", bufferSize - 1);
        return 0;
    }
    memcpy(fileBuffer, result, got + 1);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Timer and sleeping

double gSysGetTime()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

bool gSysWaitReadable(const int* fds, u32 count, double seconds)
{
    static const u32 MAX_WAITED = 4;
    if (BREAK_IF(count > MAX_WAITED))
        count = MAX_WAITED;
    double ms = seconds > 0.0 ? seconds * 1000.0 : 0.0;
    const double longest = 1000.0 * 3600.0;
    if (ms > longest)
        ms = longest;
    int timeout = (int)ms;
    if ((double)timeout < ms)
        ++timeout;
    pollfd p[MAX_WAITED];
    for (u32 i = 0; i < count; ++i)
    {
        // A negative descriptor is ignored by poll.
        p[i].fd = fds[i];
        p[i].events = POLLIN;
        p[i].revents = 0;
    }
    if (poll(p, count, timeout) <= 0)
        return false;
    for (u32 i = 0; i < count; ++i)
        if (p[i].fd >= 0 && (p[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0)
            return true;
    return false;
}

void gSysSleep(double seconds)
{
    if (!(seconds > 0.0))
        return;
    const long long ms = (long long)(seconds * 1000.0);
    if (ms <= 0)
        return;
    timespec want;
    want.tv_sec = (time_t)(ms / 1000);
    want.tv_nsec = (long)(ms % 1000) * 1000000L;
    timespec left;
    while (nanosleep(&want, &left) != 0 && errno == EINTR)
        want = left;
}

// ---------------------------------------------------------------------------------------------
// Memory

namespace
{
const int LIMITED_RESOURCES[] = {RLIMIT_DATA, RLIMIT_AS};
// Where a group's memory limit lies under the root of the group file system: version 2 keeps one
// tree at the root, version 1 a tree per controller. "max" and a missing file limit nothing.
struct SGroupTree
{
    const char* Folder;
    const char* LimitFile;
};
const SGroupTree GROUP_V2 = {"", "memory.max"};
const SGroupTree GROUP_V1 = {"/memory", "memory.limit_in_bytes"};
const size_t GROUP_PATH_MAX = 8192;

void Lower(u64& limit, u64 value)
{
    if (value > 0 && value < limit)
        limit = value;
}

void LowerByFile(u64& limit, const char* file)
{
    if (FILE* f = fopen(file, "re"))
    {
        unsigned long long value = 0;
        if (fscanf(f, "%llu", &value) == 1)
            Lower(limit, (u64)value);
        fclose(f);
    }
}

// A limit on any group from the process's own up to the root holds. Inside a namespace the
// group's path may not exist below root (the root is then the group itself): its missing
// levels are skipped.
void LowerByGroup(u64& limit, const char* root, const SGroupTree& tree, const char* group)
{
    char path[GROUP_PATH_MAX];
    size_t length = strlen(group);
    for (;;)
    {
        while (length > 0 && group[length - 1] == '/')
            --length;
        if (snprintf(path, sizeof(path), "%s%s%.*s/%s", root, tree.Folder, (int)length, group, tree.LimitFile) <
            (int)sizeof(path))
            LowerByFile(limit, path);
        if (length == 0)
            return;
        while (length > 0 && group[length - 1] != '/')
            --length;
    }
}

bool ListsController(const char* list, size_t length, const char* name)
{
    const size_t n = strlen(name);
    for (size_t at = 0; at <= length;)
    {
        size_t end = at;
        while (end < length && list[end] != ',')
            ++end;
        if (end - at == n && strncmp(list + at, name, n) == 0)
            return true;
        at = end + 1;
    }
    return false;
}
} // namespace

u64 gSysGroupMemoryLimit(const char* root, const char* groupsFile)
{
    u64 limit = ~0ull;
    FILE* f = fopen(groupsFile, "re");
    if (!f)
        return limit;
    // Lines "ID:CONTROLLERS:PATH": version 2 is the line "0::PATH", version 1 the line whose
    // controllers name memory.
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t n;
    while ((n = getline(&line, &capacity, f)) > 0)
    {
        if (line[n - 1] == '\n')
            line[--n] = 0;
        char* controllers = strchr(line, ':');
        char* group = controllers ? strchr(controllers + 1, ':') : nullptr;
        if (!group)
            continue;
        ++controllers;
        const size_t listLength = (size_t)(group - controllers);
        ++group;
        if (strncmp(line, "0::", 3) == 0)
            LowerByGroup(limit, root, GROUP_V2, group);
        else if (ListsController(controllers, listLength, "memory"))
            LowerByGroup(limit, root, GROUP_V1, group);
    }
    free(line);
    fclose(f);
    return limit;
}

u64 gSysMemoryLimit()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    u64 limit = pages > 0 && pageSize > 0 ? (u64)pages * (u64)pageSize : ~0ull;
    for (int resource : LIMITED_RESOURCES)
    {
        rlimit r;
        if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
            Lower(limit, (u64)r.rlim_cur);
    }
    Lower(limit, gSysGroupMemoryLimit(SYS_GROUP_ROOT, SYS_OWN_GROUPS));
    return limit;
}

void gSysReturnLargeBlocks()
{
    mallopt(M_MMAP_THRESHOLD, (int)SYS_LARGE_BLOCK);
}
