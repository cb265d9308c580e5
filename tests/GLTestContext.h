// An OpenGL context for tests: the engine's window system and window, brought up once per test
// process. Without a display (the normal case in tests) this is the off-screen EGL context on
// Mesa with a 1024x576 default frame buffer; Xvfb suites get a real window.
//
//     class MyGLTest : public GLTestFixture {};
//     TEST_F(MyGLTest, Something) { ... GL calls ... }
//
// or call GLTest_Init() (ASSERT_TRUE it) at the start of a test.
#pragma once

#include <gtest/gtest.h>

#include "GameCore.h"
#include "GString.h"
#include "GameWindow.h"

// Creates the window system and window on first use (the engine's GL defaults are set then),
// points GWindowSystem/GWindow at them and makes the window's context current.
// Returns true when a context is current.
bool GLTest_Init();

// Reads back the pixel at (x, y) of the current read buffer as RGBA8.
// Destroys what GLTest_Init made, so that the driver has joined its threads before the process
// exits and the leak checker stops the world.
void GLTest_Shutdown();

void GLTest_ReadPixel(int x, int y, unsigned char rgba[4]);

// A colour target of the test's own, made with raw GL so that the test stands on nothing but GL:
// it is bound, the viewport covers it and it is cleared to transparent black. Returns the frame
// buffer; tex receives its texture.
unsigned GLTest_MakeTarget(int width, int height, unsigned internalFormat, unsigned type, unsigned& tex);
// Unbinds and deletes a target made above (zero names are skipped) and zeroes the names.
void GLTest_FreeTarget(unsigned& fbo, unsigned& tex);

// The engine's shipped shaders for a test that draws with them: Begin points the data root at the
// build's "RERudu" folder, creates the shader storage and forgets the renderer's cached state;
// End frees the storage, unbinds the program and puts the data root back.
class TShippedShaders
{
public:
    void Begin();
    void End();

private:
    TString savedBase;
};

class GLTestFixture : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(GLTest_Init()); }
};
