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
#include "GameWindow.h"

// Creates the window system and window on first use (the engine's GL defaults are set then),
// points GWindowSystem/GWindow at them and makes the window's context current.
// Returns true when a context is current.
bool GLTest_Init();

// Reads back the pixel at (x, y) of the current read buffer as RGBA8.
void GLTest_ReadPixel(int x, int y, unsigned char rgba[4]);

class GLTestFixture : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(GLTest_Init()); }
};
