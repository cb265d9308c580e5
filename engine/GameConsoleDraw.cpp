// Drawing the console over the window, and measuring its lines with the console font.
#include "GameConsole.h"

#include <GL/glew.h>

#include "GMath.h"
#include "GameFont.h"
#include "GameMaterial.h"
#include "GameRT.h"
#include "GameShader.h"
#include "GameVertex.h"

// Log lines: word wrap, and words wider than the console broken.
static const u32 CONSOLE_TEXT_FLAGS = TEXT_WordWrap | TEXT_BreakWords;

int ConsoleTextRows(SFont* font, const char* text, float width)
{
    if (!font || !text)
        return 0;
    const int lines = font->GetLineCount(text, 0, CONSOLE_TEXT_FLAGS, width, (float)CONSOLE_ROW_HEIGHT);
    return lines > 0 ? lines : 0;
}

void DrawConsole()
{
    if (!GConsole.Open)
        return;
    const float W = (float)GConsole.Width;
    const float H = (float)GConsole.Height;
    const float row = (float)CONSOLE_ROW_HEIGHT;
    const float inputTop = H - row;

    SShader* shapes = GetShader("ColorOnly");
    UseShader(CONSOLE_BLEND, shapes);
    R_UploadViewMatrix(shapes);
    R_UploadProjectionMatrix(shapes);
    DrawColoredRect(0, W, 0, H, 0, PackColor(0.1f, 0.15f, 0.2f, 0.85f));
    DrawColoredRect(0, W, inputTop, H, 0, PackColor(0.05f, 0.1f, 0.15f, 0.8f));
    const SColVtx separator[2] = {
        {0, inputTop, 0, PackColor(0.9f, 0.85f, 0.8f, 1)},
        {W, inputTop, 0, PackColor(0.7f, 0.6f, 0.5f, 1)},
    };
    DrawColoredPrimitives(separator, 2, GL_LINES);
    DrawColoredRect(W - 10, W, 0, inputTop, 0, PackColor(0.3f, 0.25f, 0.2f, 1));
    float thumb0, thumb1;
    if (ConsoleScrollThumb(thumb0, thumb1))
        DrawColoredRect(W - 10, W, thumb0, thumb1, 0, PackColor(0.9f, 0.7f, 0.4f, 1));

    SFont* font = GConsole.Font;
    if (!font)
        return;
    SShader* gui = GetShader("GUI");
    UseShader(CONSOLE_BLEND, gui);
    R_UploadViewMatrix(gui);
    R_UploadProjectionMatrix(gui);

    // The log, clipped above the input strip. Nothing to show when the strip fills the console.
    if (inputTop > 0 && R_PushScissor(mRect{0, 0, W, inputTop}))
    {
        const mVec4 textColor(0.95f, 0.95f, 0.95f, 1);
        int first = 0; // first wrapped row of the current line
        for (u32 i = 0; i < GConsole.Lines.Count(); ++i)
        {
            const SConsoleLine& line = GConsole.Lines[i];
            const int shown = first - GConsole.Scroll;
            if (shown >= GConsole.VisibleRows)
                break;
            // Lines wholly above the view are skipped; the clip cuts the rest.
            if (shown + line.Rows > 0 && line.Rows > 0)
            {
                const float y = shown * row;
                font->DrawText(line.Text.Str(), 0, textColor, CONSOLE_TEXT_FLAGS, 0, y, W, y + line.Rows * row, row);
            }
            first += line.Rows;
        }
        R_PopScissor();
    }

    font->DrawText(GConsole.Input.Str(), 0, mVec4(0.9f, 0.85f, 0.7f, 1), TEXT_SingleLine, 0, inputTop, W, H, row);
}
