#include "GameCore.h"

#include "GameArgs.h"

#include <GL/glew.h>
#include <errno.h>
#include <time.h>

IGame* GGame = nullptr;
double GFixedStep = 1.0 / 30.0;
double GMaxFrameDelta = 0.05;
double GMinFrameTime = 0.015;
s32 GScreenWidth = 1024;
s32 GScreenHeight = 576;
u32 GFullscreen = 0;
u32 GRefreshRate = 60;
u32 GSwapInterval = 0;
u32 GSamples = 1;
u32 GQuitFlag = 0;
TResizeCallback GResizeCallback = nullptr;
char GDataFolder[GAME_DATA_FOLDER_SIZE];
TString GWindowTitle;
SWindowSystem* GWindowSystem = nullptr;
SWindow* GWindow = nullptr;
s32 GFrameCount = 0;
s32 GFPS = 0;

void SetDataFolder(const char* name)
{
    gStrNCpy(GDataFolder, sizeof(GDataFolder), name ? name : "");
}

void BuildBaseFolder(const char* programPath, const char* dataFolder, TString& out)
{
    const char* path = programPath ? programPath : "";
    u32 cut = 0;
    for (u32 i = 0; path[i]; ++i)
        if (path[i] == '/' || path[i] == '\\')
            cut = i + 1;
    out.Assign(path, cut);
    out += dataFolder ? dataFolder : "";
    out += "/";
}

// ---------------------------------------------------------------------------------------------
double gSysGetTime()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
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

void R_SwapBuffers()
{
    if (GWindow)
        GWindow->SwapBuffers();
}

void R_SetGLDefaults()
{
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glFrontFace(GL_CW);
    glEnable(GL_CULL_FACE);
    glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    glClearDepth(1.0);
    // Values outside 0..1 pass through unchanged (floating-point targets rely on it).
    glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
}
