// The GUI drawing fixture.
#include "GUITestSupport.h"

#include <GL/glew.h>

#include "GameCore.h"
#include "GameMaterial.h"
#include "GameShader.h"

void GUIDrawTest::SetUp()
{
    ASSERT_TRUE(GLTest_Init());
    savedWidth = GScreenWidth;
    savedHeight = GScreenHeight;
    int vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    GScreenWidth = vp[2];
    GScreenHeight = vp[3];
    shaders.Begin();
    glDisable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    GViewMatrix = mMat4();
    GProjectionMatrix = M_OrthoMatrix(0, (float)GScreenWidth, 0, (float)GScreenHeight, -1, 1);
    GUITest_ResetInput();
}

void GUIDrawTest::TearDown()
{
    GUITest_ResetInput();
    SetBlendState(0);
    shaders.End();
    glEnable(GL_DEPTH_TEST);
    GScreenWidth = savedWidth;
    GScreenHeight = savedHeight;
}

void GUIDrawTest::ReadWindowPixel(int x, int y, unsigned char rgba[4])
{
    GLTest_ReadPixel(x, GScreenHeight - 1 - y, rgba);
}
