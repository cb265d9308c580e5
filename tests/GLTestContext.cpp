#include "GLTestContext.h"

#include <GL/glew.h>

static SWindowSystem* GTestWindowSystem = nullptr;
static SWindow* GTestWindow = nullptr;

bool GLTest_Init()
{
    if (!GTestWindowSystem)
    {
        GTestWindowSystem = new SWindowSystem();
        GTestWindow = new SWindow(GTestWindowSystem);
        GWindowSystem = GTestWindowSystem;
        GWindow = GTestWindow;
        R_SetMode(GScreenWidth, GScreenHeight, 0, GRefreshRate, 0, 1);
        R_SetGLDefaults();
    }
    // A test that ran the engine main may have replaced or cleared the globals.
    GWindowSystem = GTestWindowSystem;
    GWindow = GTestWindow;
    return GTestWindow->MakeCurrent();
}

void GLTest_ReadPixel(int x, int y, unsigned char rgba[4])
{
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}
