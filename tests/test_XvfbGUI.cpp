// The GUI end to end under Xvfb: a real window, pointer and keys sent through XTest (xdotool),
// the engine's event path into the input state, the GUI tree drawn each tick and its pixels read
// back at computed places.
#include "GUITestMenus.h"
#include "TestSupport.h"
#include "XvfbDriveTest.h"

#include <GL/glew.h>
#include <X11/keysym.h>
#include <png.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "GameCore.h"
#include "GameFont.h"
#include "GameWindow.h"
#include "TexGUI.h"

namespace
{
const float CLEAR[3] = {0.2f, 0.3f, 0.4f};
const int PIXEL_TOLERANCE = 3;

// An RGBA8 picture read with the image library alone, to sample the button images independently.
struct SPicture
{
    int w = 0, h = 0;
    std::vector<unsigned char> px;

    bool Load(const std::string& path)
    {
        png_image img;
        memset(&img, 0, sizeof(img));
        img.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&img, path.c_str()))
            return false;
        img.format = PNG_FORMAT_RGBA;
        w = (int)img.width;
        h = (int)img.height;
        px.resize(PNG_IMAGE_SIZE(img));
        return png_image_finish_read(&img, nullptr, px.data(), 0, nullptr) != 0;
    }
    // Bilinear sample at texture coordinates (u, v), clamped to the edges, channel c.
    float Sample(float u, float v, int c) const
    {
        const float tx = u * w - 0.5f, ty = v * h - 0.5f;
        const int x0 = (int)floorf(tx), y0 = (int)floorf(ty);
        const float fx = tx - x0, fy = ty - y0;
        auto at = [&](int x, int y) {
            x = x < 0 ? 0 : (x >= w ? w - 1 : x);
            y = y < 0 ? 0 : (y >= h ? h - 1 : y);
            return (float)px[((size_t)y * w + x) * 4 + c];
        };
        return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
    }
};
} // namespace

class XvfbGUI : public XvfbDriveTest
{
protected:
    SFont font;

    void SetUp() override
    {
        XvfbDriveTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
        GGUIFont = &font;
        glClearColor(CLEAR[0], CLEAR[1], CLEAR[2], 1);
    }
    void TearDown() override
    {
        XDo("keyup Return");
        GGUIFont = nullptr;
        XvfbDriveTest::TearDown();
    }

    // A press and a release in ticks of their own, as a hand would give them.
    void Click(SGUILayer& root)
    {
        XDo("mousedown 1");
        ASSERT_TRUE(RunUntil(root, [] { return GMouseLeft != 0; }));
        XDo("mouseup 1");
        ASSERT_TRUE(RunUntil(root, [] { return GMouseLeft == 0; }));
    }
    static bool IsClear(int x, int y)
    {
        unsigned char px[4];
        ReadWindowPixel(x, y, px);
        for (int c = 0; c < 3; ++c)
            if (abs(px[c] - (int)(CLEAR[c] * 255.0f + 0.5f)) > PIXEL_TOLERANCE)
                return false;
        return true;
    }
};

TEST_F(XvfbGUI, FileMenuOpensFromTheBarAndAnItemIsPicked)
{
    TTestMenuWindow window;
    window.UpdateRect();
    TTestMenu* file = new TTestMenu({"--Document", "New", "Open", "Save"});
    const mRect entry{0, 0, 80, 24};
    window.AddMenu(entry, "File", file);
    ASSERT_FALSE(file->Open);

    MoveTo(window, 40, 12);
    Click(window);
    ASSERT_TRUE(RunUntil(window, [&] { return file->Open && file->FirstFrameDone; }));
    for (int i = 0; i < 3; ++i)
        Tick(window);
    ASSERT_TRUE(file->Open) << "the release that opened the menu does not close it";

    // The menu hangs under its entry, 180 wide and one row per option.
    const mRect m{entry.x0, entry.y1, entry.x0 + MENU_WIDTH, entry.y1 + MENU_ROW_HEIGHT * 4};
    const int right = (int)m.x1, bottom = (int)m.y1;
    EXPECT_FALSE(IsClear(right - 2, bottom - 2));
    EXPECT_FALSE(IsClear((int)m.x0 + 2, (int)m.y0 + 2));
    EXPECT_TRUE(IsClear(right + 2, bottom - 2));
    EXPECT_TRUE(IsClear(right - 2, bottom + 2));

    // The hovered entry shows the hovered button image stretched over it, left of its label.
    SPicture hovered;
    ASSERT_TRUE(hovered.Load(std::string(PW_BIN_DIR "/RERudu/") + GUI_BUTTON_IMAGES[SInterface::IMG_Hovered]));
    const int probe[][2] = {{6, 12}, {5, 6}, {6, 18}};
    for (const auto& p : probe)
    {
        unsigned char px[4];
        ReadWindowPixel(p[0], p[1], px);
        const float u = (p[0] + 0.5f) / (entry.x1 - entry.x0), v = (p[1] + 0.5f) / (entry.y1 - entry.y0);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(px[c], hovered.Sample(u, v, c), PIXEL_TOLERANCE) << p[0] << "," << p[1] << " channel " << c;
    }

    // "Open": the second option counted without the title, on the third row.
    MoveTo(window, 90, (int)(m.y0 + MENU_ROW_HEIGHT * 2.5f));
    XDo("click 1"); // pressed and released between two ticks
    ASSERT_TRUE(RunUntil(window, [&] { return !file->Picks.empty(); }));
    EXPECT_EQ(file->Picks, std::vector<int>{1});
    EXPECT_FALSE(file->Open);
}

TEST_F(XvfbGUI, APromptTakesATypedNameOnEnter)
{
    TTestLayer root(mRect{0, 0, (float)GScreenWidth, (float)GScreenHeight});
    MoveTo(root, 300, 200);
    TString target("Node");
    SPopupWindow* prompt = new SPopupWindow("Enter the new name", &target);
    root.AddChild(prompt);
    prompt->UpdateRect();
    prompt->Font = &font;
    Tick(root);

    // The box: 400 x 60 centred on the mouse, a dark veil over what lies under it.
    const mRect box{300 - PROMPT_WIDTH / 2, 200 - PROMPT_HEIGHT / 2, 300 + PROMPT_WIDTH / 2, 200 + PROMPT_HEIGHT / 2};
    EXPECT_FLOAT_EQ(prompt->Rect.x0, box.x0);
    EXPECT_FLOAT_EQ(prompt->Rect.y0, box.y0);
    const float VEIL = 0.7f, VEIL_GREY = 0.01f;
    unsigned char px[4];
    ReadWindowPixel((int)box.x0 + 2, (int)box.y1 - 2, px);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(px[c], (VEIL_GREY * VEIL + CLEAR[c] * (1 - VEIL)) * 255.0f, PIXEL_TOLERANCE) << c;
    EXPECT_TRUE(IsClear((int)box.x0 - 2, (int)box.y1 - 2));
    EXPECT_TRUE(IsClear((int)box.x0 + 2, (int)box.y1 + 2));

    XDo("windowfocus " + std::to_string(xid));
    // Characters beyond ASCII come as they were typed, in UTF-8, from keys of the keymap: an
    // upper-case one is sent with Shift.
    const TBoundKeys keys({XK_aacute, XK_eacute});
    ASSERT_TRUE(keys.Bound());
    const char* const NAME = "Blur2-\xC3\x81rea-\xC3\xA9.png";
    XDo("type --delay 40 Blur2-");
    XDo("key --delay 40 shift+Aacute r e a minus eacute period p n g &");
    const SWidgetState& field = prompt->GetWidgetState(PROMPT_ID_Field);
    ASSERT_TRUE(RunUntil(root, [&] { return field.EditText == NAME; })) << field.EditText.Str();
    EXPECT_STREQ(target.Str(), "Node") << "nothing is written before Enter";
    XDo("key Return"); // pressed and released between two ticks
    ASSERT_TRUE(RunUntil(root, [&] { return !prompt->Open; }));
    EXPECT_STREQ(target.Str(), NAME);
}
