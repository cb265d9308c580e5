#include "GLTestContext.h"

#include <GL/glew.h>

#include "GameFileIO.h"
#include "GameMaterial.h"
#include "GameShader.h"

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

unsigned GLTest_MakeTarget(int width, int height, unsigned internalFormat, unsigned type, unsigned& tex)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, (GLint)internalFormat, width, height, 0, GL_RGBA, type, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    tex = name;
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), (GLenum)GL_FRAMEBUFFER_COMPLETE);
    glViewport(0, 0, width, height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    return fbo;
}

void GLTest_FreeTarget(unsigned& fbo, unsigned& tex)
{
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (fbo)
        glDeleteFramebuffers(1, &fbo);
    if (tex)
        glDeleteTextures(1, &tex);
    fbo = tex = 0;
}

void TShippedShaders::Begin()
{
    savedBase = GBaseFolder;
    GBaseFolder = PW_BIN_DIR "/RERudu/";
    CreateShaderStorage();
    R_ResetStateCache();
}

void TShippedShaders::End()
{
    glUseProgram(0);
    FreeShaderStorage();
    R_ResetStateCache();
    GBaseFolder = savedBase;
}

void GLTest_Shutdown()
{
    if (!GTestWindowSystem)
        return;
    if (GWindow == GTestWindow)
        GWindow = nullptr;
    if (GWindowSystem == GTestWindowSystem)
        GWindowSystem = nullptr;
    delete GTestWindow;
    delete GTestWindowSystem;
    GTestWindow = nullptr;
    GTestWindowSystem = nullptr;
}
