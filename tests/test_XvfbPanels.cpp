// Node panels on a zoomed and panned canvas under Xvfb: the canvas zoomed by the wheel and panned
// by Shift-drag through XTest (xdotool), every kind of panel widget looked at where the canvas
// puts it, edited there with the mouse and the keyboard, and its stored value and its node's
// processed result checked.
#include "TestNodes.h"
#include "TestSupport.h"
#include "XvfbDriveTest.h"

#include <GL/glew.h>
#include <math.h>
#include <png.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "GameFont.h"
#include "GameTexture.h"
#include "TexAnimCurve.h"
#include "TexGUI.h"
#include "TexOps_Basic.h"
#include "TexOps_BasicImage.h"
#include "TexOps_Generate.h"
#include "TexProcNode.h"

namespace
{
// The node box as the canvas lays it out, in canvas units: pins in 10-unit margins, a 12-unit
// caption, 12-unit rows, the right half of a row for its widget, a 40-unit curve editor.
const float MARGIN = 10.0f;
const float CAPTION = 12.0f;
const float ROW = 12.0f;
const float CURVE_EDITOR = 40.0f;

const float WHEEL_AWAY = 1.25f;
const float WHEEL_TOWARDS = 0.75f;
const int WHEEL_AWAY_BUTTON = 4;
const int WHEEL_TOWARDS_BUTTON = 5;
// Where the edited widget is brought by the pan, in window pixels.
const mVec2 WIDGET_SPOT(400, 200);
const int PAN_EDGE = 40; // pan drags keep this far from the window's edges

const int LOOK_TOLERANCE = 24; // per channel, a look drawn at another scale
const float VALUE_TOLERANCE = 1e-4f;
const float CURVE_TOLERANCE = 0.05f;
const float DRAG_STEP = 30.0f; // pixels per tick of a drag
const u32 MENU_ROW = 17;
const int KEY_TICKS = 10;

const mVec4 COLOR_A(0.5f, 0.25f, 1.0f, 1.0f);
const mVec4 COLOR_B(0.5f, 0.5f, 0.25f, 1.0f);
const int BLEND_MULTIPLY = 3;

enum EPart
{
    PART_Row,   // the whole row
    PART_Label, // its left half
    PART_Field, // its right half
};

// A widget on panel row `row` (rows tall), in canvas units.
mRect PanelRect(const STexProcNode& n, float row, float rows, EPart part)
{
    const mRect& b = n.Rect;
    const float x0 = b.x0 + MARGIN, x1 = b.x1 - MARGIN, mid = (x0 + x1) * 0.5f;
    const float y0 = b.y0 + CAPTION + ROW * row;
    return mRect{part == PART_Field ? mid : x0, y0, part == PART_Label ? mid : x1, y0 + ROW * rows};
}

mVec2 Centre(const mRect& r)
{
    return mVec2((r.x0 + r.x1) * 0.5f, (r.y0 + r.y1) * 0.5f);
}

mVec2 At(const mRect& r, float fx, float fy)
{
    return mVec2(r.x0 + (r.x1 - r.x0) * fx, r.y0 + (r.y1 - r.y0) * fy);
}

// Canvas to window pixels: about the window's centre, as a pan then a zoom.
mVec2 CanvasToWindow(const STexProcessor& p, const mVec2& q)
{
    const mVec2 c((float)(GScreenWidth / 2), (float)(GScreenHeight / 2));
    return mVec2(c.x + (q.x - p.Pan.x - c.x) * p.Zoom, c.y + (q.y - p.Pan.y - c.y) * p.Zoom);
}

mRect CanvasToWindow(const STexProcessor& p, const mRect& r)
{
    const mVec2 a = CanvasToWindow(p, mVec2(r.x0, r.y0)), b = CanvasToWindow(p, mVec2(r.x1, r.y1));
    return mRect{a.x, a.y, b.x, b.y};
}

mVec4 FirstTexel(STexProcNode* n)
{
    FloatImage img;
    if (n->Output.IsNull() || !TEX_ReadPixelsFloat(n->Output.Get(), img) || img.Data.Count() == 0)
        return mVec4(-1, -1, -1, -1);
    return img.Data[0];
}

STexProcNode* ColorNode(STexProcessor& p, const mVec4& c, const mVec2& at)
{
    STexProcNode* n = AddClassNode(p, "STexNode_ColorRGBA", [&](TArray<SPropDesc>& l) { FindPropDesc(l, "Color")->AsColRGBA() = c; });
    n->SetPosition(at.x, at.y);
    return n;
}

std::string SamplePicture()
{
    return std::string(PW_TEST_DATA_DIR) + "/../../samples/Sample.png";
}

int GDialogCalls = 0;
int SamplePictureDialog(const char*, const char*, TString& out, int)
{
    ++GDialogCalls;
    out = SamplePicture().c_str();
    return 1;
}

struct SPictureSize
{
    u32 w = 0, h = 0;
};

// The picture's size as libpng alone reads it.
SPictureSize PngSize(const std::string& path)
{
    png_image img;
    memset(&img, 0, sizeof(img));
    img.version = PNG_IMAGE_VERSION;
    SPictureSize s;
    if (png_image_begin_read_from_file(&img, path.c_str()))
    {
        s.w = img.width;
        s.h = img.height;
        png_image_free(&img);
    }
    return s;
}

// What the drag behaviour adds for one tick: the square of the move, grown with the distance from
// the press point, over the zoom.
float DragStep(float fromPress, float move, float zoom)
{
    const float d = fabsf(fromPress) * move / zoom * 0.1f;
    return (d > 0 ? 1.0f : (d < 0 ? -1.0f : 0.0f)) * d * d * 10.0f * 0.001f;
}
// The text drawn inside a rectangle of the window: its ink (pixels bright in every channel, which
// neither the dark backgrounds, the field edges nor the selection are) as a row range and as runs
// of columns, one run per glyph.
struct SInk
{
    int top = -1, bottom = -1;
    std::vector<std::pair<int, int>> runs; // first and last column of each run

    int Height() const { return top < 0 ? 0 : bottom - top + 1; }
};

const int INK_MIN_CHANNEL = 120;

SInk ReadInk(const mRect& r)
{
    const int x0 = (int)ceilf(r.x0), y0 = (int)ceilf(r.y0), x1 = (int)floorf(r.x1), y1 = (int)floorf(r.y1);
    SInk ink;
    if (x1 <= x0 || y1 <= y0)
        return ink;
    const int w = x1 - x0, h = y1 - y0;
    std::vector<unsigned char> px((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // GL rows run up from the bottom of the window.
    glReadPixels(x0, GScreenHeight - y1, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    std::vector<bool> column((size_t)w, false);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
        {
            const unsigned char* p = &px[((size_t)row * w + x) * 4];
            if (std::min(p[0], std::min(p[1], p[2])) <= INK_MIN_CHANNEL)
                continue;
            const int y = y1 - 1 - row;
            ink.top = ink.top < 0 ? y : std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
            column[(size_t)x] = true;
        }
    for (int x = 0; x < w; ++x)
    {
        if (!column[(size_t)x])
            continue;
        if (x > 0 && column[(size_t)x - 1])
            ink.runs.back().second = x0 + x;
        else
            ink.runs.push_back({x0 + x, x0 + x});
    }
    return ink;
}

mRect Inset(const mRect& r, float d)
{
    return mRect{r.x0 + d, r.y0 + d, r.x1 - d, r.y1 - d};
}
} // namespace

class XvfbPanels : public XvfbDriveTest
{
protected:
    SFont font;
    TNodeFileDialog savedDialog = nullptr;

    void SetUp() override
    {
        XvfbDriveTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(font.Load("Data/UI/GUIFont.fnt"));
        GGUIFont = &font;
        savedDialog = GNodeFileDialog;
        GNodeFileDialog = &SamplePictureDialog;
        GDialogCalls = 0;
        XDo("windowfocus " + std::to_string(xid));
        TestProcessLog().clear();
    }
    void TearDown() override
    {
        XDo("keyup Shift_L");
        XDo("keyup Return");
        GNodeFileDialog = savedDialog;
        GGUIFont = nullptr;
        XvfbDriveTest::TearDown();
    }

public:
    // The table's edits drive the window through these.
    using XvfbDriveTest::RunUntil;
    using XvfbDriveTest::Tick;
    void MoveTo(SGUILayer& root, const mVec2& p)
    {
        XvfbDriveTest::MoveTo(root, (int)lroundf(p.x), (int)lroundf(p.y));
    }
    void Press(SGUILayer& root)
    {
        XDo("mousedown 1");
        ASSERT_TRUE(RunUntil(root, [] { return GMouseLeft != 0; }));
    }
    void Release(SGUILayer& root)
    {
        XDo("mouseup 1");
        ASSERT_TRUE(RunUntil(root, [] { return GMouseLeft == 0; }));
    }
    void ClickAt(SGUILayer& root, const mVec2& p)
    {
        MoveTo(root, p);
        Press(root);
        Release(root);
    }
    void TypeAndEnter(SGUILayer& root, const std::string& text)
    {
        XDo("type --delay 40 '" + text + "'");
        for (int i = 0; i < KEY_TICKS; ++i)
            Tick(root);
        // Down and up in ticks of their own, so that the press is seen.
        XDo("keydown Return");
        for (int i = 0; i < KEY_TICKS; ++i)
            Tick(root);
        XDo("keyup Return");
        for (int i = 0; i < KEY_TICKS; ++i)
            Tick(root);
    }
    // Wheel steps away from the user (zoom in) and then towards (zoom out), one by one.
    void Wheel(STexProcessor& p, int away, int towards)
    {
        for (int i = 0; i < away + towards; ++i)
        {
            const bool in = i < away;
            const float want = p.Zoom * (in ? WHEEL_AWAY : WHEEL_TOWARDS);
            XDo("click --window " + std::to_string(xid) + " " + std::to_string(in ? WHEEL_AWAY_BUTTON : WHEEL_TOWARDS_BUTTON));
            ASSERT_TRUE(RunUntil(p, [&] { return p.Zoom == want; })) << p.Zoom << " " << want;
        }
    }
    // Shift-drags the canvas until the point of the canvas is at the spot of the window.
    void PanTo(STexProcessor& p, const mVec2& canvasPoint, const mVec2& spot)
    {
        const float maxX = (float)(GScreenWidth - 2 * PAN_EDGE), maxY = (float)(GScreenHeight - 2 * PAN_EDGE);
        for (int pass = 0; pass < 8; ++pass)
        {
            const mVec2 now = CanvasToWindow(p, canvasPoint);
            mVec2 d(spot.x - now.x, spot.y - now.y);
            if (fabsf(d.x) < 1 && fabsf(d.y) < 1)
                return;
            d.x = std::max(-maxX, std::min(maxX, d.x));
            d.y = std::max(-maxY, std::min(maxY, d.y));
            const mVec2 c((float)(GScreenWidth / 2), (float)(GScreenHeight / 2));
            const mVec2 from(c.x - d.x * 0.5f, c.y - d.y * 0.5f), to(c.x + d.x * 0.5f, c.y + d.y * 0.5f);
            MoveTo(p, from);
            XDo("keydown Shift_L");
            ASSERT_TRUE(RunUntil(p, [&] { return p.Panning != 0; }));
            MoveTo(p, to);
            XDo("keyup Shift_L");
            ASSERT_TRUE(RunUntil(p, [&] { return p.Panning == 0; }));
        }
    }
    static mVec4 WindowColor(const mVec2& at)
    {
        unsigned char px[4];
        ReadWindowPixel((int)floorf(at.x), (int)floorf(at.y), px);
        return mVec4(px[0], px[1], px[2], px[3]);
    }
};

// One widget of one node: where it is, how it looks, how it is edited and what that must give.
struct SPanelRun
{
    STexProcessor& p;
    STexProcNode* node;
    mRect window;   // the widget in window pixels, after the zoom and the pan
    float expected; // what a drag must reach, filled by the drag
};

// A place inside a part of the widget's row (fractions of its rectangle) whose colour must look as
// it does at zoom 1 without a pan.
struct SLook
{
    EPart part;
    float fx, fy;
};

struct SPanelCase
{
    const char* what;
    int wheelAway, wheelTowards;
    // Builds the graph and returns the node whose panel is edited.
    std::function<STexProcNode*(STexProcessor&)> build;
    float row, rows;
    EPart part;
    std::vector<SLook> looks;
    std::function<void(XvfbPanels&, SPanelRun&)> edit;
    std::function<void(SPanelRun&)> expect;
};

TEST_F(XvfbPanels, EveryPanelWidgetIsDrawnAndEditedWhereTheZoomedAndPannedCanvasShowsIt)
{
    const auto blend = [](STexProcessor& p) -> STexProcNode* {
        STexProcNode* a = ColorNode(p, COLOR_A, mVec2(100, 100));
        STexProcNode* b = ColorNode(p, COLOR_B, mVec2(100, 300));
        STexProcNode* n = AddClassNode(p, "STexNode_Blend");
        n->SetPosition(300, 100);
        TestLink(p, a, 0, n, 0);
        TestLink(p, b, 0, n, 1);
        return n;
    };
    const auto color = [](STexProcessor& p) { return ColorNode(p, COLOR_A, mVec2(300, 100)); };
    const auto noise = [](STexProcessor& p) {
        STexProcNode* n = AddClassNode(p, "STexNode_CPUNoise");
        n->SetPosition(300, 100);
        return n;
    };
    const auto file = [](const bool loaded) {
        return [loaded](STexProcessor& p) {
            STexProcNode* n = AddClassNode(p, "STexNode_File", [&](TArray<SPropDesc>& l) {
                if (loaded)
                    FindPropDesc(l, "TexName")->AsString() = SamplePicture().c_str();
            });
            n->SetPosition(300, 100);
            return n;
        };
    };
    const auto extract = [](STexProcessor& p) {
        STexProcNode* n = AddClassNode(p, "STexNode_Extract");
        n->SetPosition(300, 100);
        return n;
    };
    // An expanded curve of "Gain" (channel 5): its button, "Collapse", min and max, the editor.
    const auto curve = [](STexProcessor& p) -> STexProcNode* {
        STexProcNode* n = AddTestNode<STestNode_Pins>(p, [](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", 0);
            FindPropDesc(l, "AnimData")->AsString() = "ANIM 0 1 5\nPOINT 0;0.25\nPOINT 1;0.75\n\n";
        });
        n->SetPosition(300, 100);
        return n;
    };

    const auto clickCentre = [](XvfbPanels& t, SPanelRun& r) { t.ClickAt(r.p, Centre(r.window)); };
    const auto typeInto = [](const std::string& text) {
        return [text](XvfbPanels& t, SPanelRun& r) {
            t.ClickAt(r.p, Centre(r.window));
            t.TypeAndEnter(r.p, text);
        };
    };
    // Two steps right from the middle of the field, one tick each; run.expected is the value shown
    // before plus what the drag behaviour adds for them.
    const auto dragRight = [](std::function<float(STexProcNode*)> shown) {
        return [shown](XvfbPanels& t, SPanelRun& r) {
            r.expected = shown(r.node);
            const mVec2 c = Centre(r.window);
            const mVec2 press((float)lroundf(c.x), (float)lroundf(c.y));
            t.MoveTo(r.p, press);
            t.Press(r.p);
            for (int i = 1; i <= 2; ++i)
            {
                t.MoveTo(r.p, mVec2(press.x + DRAG_STEP * (float)i, press.y));
                r.expected += DragStep(DRAG_STEP * (float)i, DRAG_STEP, r.p.Zoom);
            }
            t.Release(r.p);
        };
    };
    const auto green = [](STexProcNode* n) { return static_cast<STexNode_ColorRGBA*>(n)->Color.y; };
    const auto height = [](STexProcNode* n) { return (float)static_cast<STexNode_CPUNoise*>(n)->Height; };
    const auto chooseFromMenu = [](int item) {
        return [item](XvfbPanels& t, SPanelRun& r) {
            t.ClickAt(r.p, Centre(r.window));
            ASSERT_TRUE(t.RunUntil(r.p, [&] { return r.p.NodeMenuSlot && r.p.NodeMenuSlot->Open; }));
            const mRect m = r.p.NodeMenuSlot->Rect;
            // The list hangs under the button as the canvas shows it (a long one moved up to fit).
            EXPECT_NEAR(m.x0, r.window.x0, 1.0f);
            t.ClickAt(r.p, mVec2(m.x0 + MARGIN, m.y0 + MENU_ROW * ((float)item + 0.5f)));
        };
    };
    const auto settle = [](SPanelRun& r) {
        for (int i = 0; i < 3; ++i)
            r.p.ProcessUpdateList();
    };
    const std::vector<SLook> labelAndField = {{PART_Label, 0.95f, 0.85f}, {PART_Field, 0.95f, 0.85f}};
    const std::vector<SLook> wideButton = {{PART_Row, 0.9f, 0.5f}, {PART_Row, 0.5f, 0.15f}};

    const SPanelCase cases[] = {
        {"float field typed", 3, 0, color, 0, 1, PART_Field, labelAndField, typeInto("0.125"),
         [&](SPanelRun& r) {
             settle(r);
             EXPECT_EQ(static_cast<STexNode_ColorRGBA*>(r.node)->Color.x, 0.125f);
             EXPECT_NEAR(FirstTexel(r.node).x, 0.125f, VALUE_TOLERANCE);
         }},
        {"float field dragged", 3, 3, color, 1, 1, PART_Field, labelAndField, dragRight(green),
         [&](SPanelRun& r) {
             settle(r);
             EXPECT_NEAR(static_cast<STexNode_ColorRGBA*>(r.node)->Color.y, r.expected, VALUE_TOLERANCE);
             EXPECT_NEAR(FirstTexel(r.node).y, r.expected, VALUE_TOLERANCE);
         }},
        {"integer field typed", 3, 3, noise, 0, 1, PART_Field, labelAndField, typeInto("24"),
         [&](SPanelRun& r) {
             settle(r);
             EXPECT_EQ(static_cast<STexNode_CPUNoise*>(r.node)->Width, 24);
             ASSERT_FALSE(r.node->Output.IsNull());
             EXPECT_EQ(r.node->Output->Width, 24u);
         }},
        {"integer field dragged", 3, 0, noise, 1, 1, PART_Field, labelAndField, dragRight(height),
         [&](SPanelRun& r) {
             settle(r);
             const s32 want = (s32)rintf(r.expected);
             EXPECT_EQ(static_cast<STexNode_CPUNoise*>(r.node)->Height, want);
             ASSERT_FALSE(r.node->Output.IsNull());
             EXPECT_EQ(r.node->Output->Height, (u32)want);
         }},
        {"choice button", 3, 0, blend, 0, 1, PART_Row, wideButton, chooseFromMenu(BLEND_MULTIPLY),
         [&](SPanelRun& r) {
             settle(r);
             EXPECT_EQ(static_cast<STexNode_Blend*>(r.node)->BlendMode, BLEND_MULTIPLY);
             const mVec4 out = FirstTexel(r.node);
             EXPECT_NEAR(out.x, COLOR_A.x * COLOR_B.x, VALUE_TOLERANCE);
             EXPECT_NEAR(out.y, COLOR_A.y * COLOR_B.y, VALUE_TOLERANCE);
             EXPECT_NEAR(out.z, COLOR_A.z * COLOR_B.z, VALUE_TOLERANCE);
         }},
        {"float field typed under a label", 3, 3, blend, 1, 1, PART_Field, labelAndField, typeInto("0.25"),
         [&](SPanelRun& r) {
             settle(r);
             const float k = 0.25f;
             EXPECT_EQ(static_cast<STexNode_Blend*>(r.node)->BlendAmt, k);
             const mVec4 out = FirstTexel(r.node);
             EXPECT_NEAR(out.x, COLOR_A.x + (COLOR_B.x - COLOR_A.x) * k, VALUE_TOLERANCE);
             EXPECT_NEAR(out.z, COLOR_A.z + (COLOR_B.z - COLOR_A.z) * k, VALUE_TOLERANCE);
         }},
        {"toggle", 3, 0, blend, 2, 1, PART_Field, {{PART_Label, 0.5f, 0.15f}, {PART_Field, 0.5f, 0.15f}}, clickCentre,
         [&](SPanelRun& r) {
             settle(r);
             EXPECT_EQ(static_cast<STexNode_Blend*>(r.node)->OClamp, 1);
             ASSERT_FALSE(r.node->Output.IsNull());
             EXPECT_EQ(r.node->Output->Format, (u32)TEXFMT_RGBA8) << "a clamped output is 8-bit";
         }},
        {"check box", 3, 3, file(true), 1, 1, PART_Field, {{PART_Field, 0.5f, 0.15f}}, clickCentre,
         [&](SPanelRun& r) {
             EXPECT_EQ(r.p.Edited, 1u) << "the node is queued";
             settle(r);
             EXPECT_EQ(static_cast<STexNode_File*>(r.node)->RelKVF, 0);
             EXPECT_EQ(r.node->Status, "");
         }},
        {"file button", 3, 0, file(false), 0, 1, PART_Row, wideButton, clickCentre,
         [&](SPanelRun& r) {
             settle(r);
             EXPECT_EQ(GDialogCalls, 1);
             EXPECT_STREQ(static_cast<STexNode_File*>(r.node)->TexName.Str(), SamplePicture().c_str());
             const SPictureSize size = PngSize(SamplePicture());
             ASSERT_FALSE(r.node->Output.IsNull());
             EXPECT_EQ(r.node->Output->Width, size.w);
             EXPECT_EQ(r.node->Output->Height, size.h);
         }},
        {"template button", 3, 3, extract, 1, 3, PART_Row, {{PART_Row, 0.5f, 0.2f}, {PART_Row, 0.95f, 0.5f}},
         [](XvfbPanels& t, SPanelRun& r) {
             t.ClickAt(r.p, Centre(r.window));
             ASSERT_TRUE(t.RunUntil(r.p, [&] { return r.p.Prompt && r.p.Prompt->Open; }));
             // Where the prompt does not take the typing at once, the user clicks into its field.
             if (r.p.Prompt->FocusId != PROMPT_ID_Field)
                 t.ClickAt(r.p, Centre(r.p.Prompt->FieldRect()));
             t.TypeAndEnter(r.p, "copy.png");
         },
         [&](SPanelRun& r) {
             EXPECT_STREQ(static_cast<STexNode_Extract*>(r.node)->ProcStr.Str(), "copy.png");
             EXPECT_TRUE(!r.p.Prompt || !r.p.Prompt->Open);
         }},
        {"curve editor", 3, 0, curve, 3, CURVE_EDITOR / ROW, PART_Row, {{PART_Row, 0.1f, 0.1f}},
         [](XvfbPanels& t, SPanelRun& r) { t.ClickAt(r.p, At(r.window, 0.5f, 0.25f)); },
         [&](SPanelRun& r) {
             const SAnimCurve& c = r.node->Curves[0];
             ASSERT_EQ(c.Points.Count(), 3u);
             EXPECT_NEAR(c.Points[1].x, 0.5f, CURVE_TOLERANCE);
             EXPECT_NEAR(c.Points[1].y, 0.75f, CURVE_TOLERANCE);
             const auto& log = TestProcessLog();
             EXPECT_NE(std::find(log.begin(), log.end(), r.node), log.end()) << "the node is processed";
         }},
    };

    for (const SPanelCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        STexProcessor p;
        p.UpdateRect();
        STexProcNode* node = c.build(p);
        ASSERT_NE(node, nullptr);
        const mVec2 away(2, (float)GScreenHeight - 2);
        MoveTo(p, away);
        for (int i = 0; i < 3; ++i)
            Tick(p);

        // At zoom 1 without a pan the canvas is the window: the looks as they must stay.
        const mRect widget = PanelRect(*node, c.row, c.rows, c.part);
        std::vector<mVec2> probes;
        std::vector<mVec4> reference;
        for (const SLook& l : c.looks)
        {
            probes.push_back(At(PanelRect(*node, c.row, c.rows, l.part), l.fx, l.fy));
            reference.push_back(WindowColor(probes.back()));
        }

        Wheel(p, c.wheelAway, c.wheelTowards);
        PanTo(p, Centre(widget), WIDGET_SPOT);
        MoveTo(p, away);
        Tick(p);
        Tick(p);
        for (size_t i = 0; i < probes.size(); ++i)
        {
            const mVec4 got = WindowColor(CanvasToWindow(p, probes[i]));
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_NEAR((&got.x)[ch], (&reference[i].x)[ch], LOOK_TOLERANCE)
                    << "look " << i << " channel " << ch << " at zoom " << p.Zoom;
        }

        p.Edited = 0;
        TestProcessLog().clear();
        SPanelRun run{p, node, CanvasToWindow(p, widget), 0.0f};
        c.edit(*this, run);
        if (HasFatalFailure())
            return;
        for (int i = 0; i < 3; ++i)
            Tick(p);
        c.expect(run);
    }
}

// The value of a field is read as easily as its label: at every zoom its digits stand as tall as
// the label's letters, both follow the zoom, and a click places the caret after the character drawn
// under the mouse.
TEST_F(XvfbPanels, FieldValuesAreDrawnAtTheirLabelsSizeAndTheCaretFollowsTheDrawnCharacters)
{
    // The label "Red" (capitals and an ascender) against the digits of 0.25.
    const float MIN_VALUE_TO_LABEL = 0.8f;
    const float MAX_VALUE_TO_LABEL = 1.25f;
    const float ZOOM_INK_SLACK = 2.0f; // pixels a zoomed text may differ from the scaled one
    const float EDGE_PIXELS = 2.0f;    // field outlines, kept out of the ink
    const char* const TYPED_FORM = "0.25";
    struct Case
    {
        int wheelAway;
        size_t glyph; // clicked in edit mode: the caret goes after it
    };
    // From one wheel step in: at zoom 1 the 8-pixel letters are too thin to measure by their ink.
    const Case cases[] = {{1, 1}, {2, 2}, {3, 3}};
    float firstLabel = 0, firstZoom = 0;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.wheelAway);
        STexProcessor p;
        p.UpdateRect();
        STexProcNode* node = ColorNode(p, mVec4(0.25f, 0, 0, 1), mVec2(300, 100));
        const mVec2 away(2, (float)GScreenHeight - 2);
        MoveTo(p, away);
        Tick(p);
        Wheel(p, c.wheelAway, 0);
        const mRect label = PanelRect(*node, 0, 1, PART_Label), field = PanelRect(*node, 0, 1, PART_Field);
        PanTo(p, Centre(field), WIDGET_SPOT);
        MoveTo(p, away);
        Tick(p);
        Tick(p);

        const float edge = EDGE_PIXELS * p.Zoom + 1.0f;
        // A label has no outline and its text starts at its top.
        const SInk labelInk = ReadInk(CanvasToWindow(p, label));
        const SInk valueInk = ReadInk(Inset(CanvasToWindow(p, field), edge));
        ASSERT_GT(labelInk.Height(), 0);
        ASSERT_GT(valueInk.Height(), 0);
        EXPECT_GE(valueInk.Height(), labelInk.Height() * MIN_VALUE_TO_LABEL)
            << "value " << valueInk.Height() << " label " << labelInk.Height() << " pixels";
        EXPECT_LE(valueInk.Height(), labelInk.Height() * MAX_VALUE_TO_LABEL);
        if (firstZoom == 0)
        {
            firstLabel = (float)labelInk.Height();
            firstZoom = p.Zoom;
        }
        else
            EXPECT_NEAR(labelInk.Height(), firstLabel * p.Zoom / firstZoom, ZOOM_INK_SLACK) << "the label zooms";

        // A click without movement types the number ("%g"); a click on a drawn character puts the
        // caret after it.
        const mRect fieldWindow = CanvasToWindow(p, field);
        ClickAt(p, Centre(fieldWindow));
        SWidgetState* editing = nullptr;
        for (TMap<u32, SWidgetState>::Iterator it(node->WidgetStates); it.current; it.Next())
            if (it.current->value.Mode == WM_Edit)
                editing = &it.current->value;
        ASSERT_NE(editing, nullptr) << "the field is being typed in";
        SWidgetState& st = *editing;
        ASSERT_STREQ(st.EditText.Str(), TYPED_FORM);
        MoveTo(p, away);
        Tick(p);
        // The characters' cells at the label's size, from the field's inner left edge; the ink
        // drawn spans them.
        const float size = NODE_FONT_SIZE * p.Zoom;
        const float left = fieldWindow.x0 + EDGE_PIXELS * p.Zoom;
        std::vector<float> cellEnd;
        float x = left;
        for (const char* ch = TYPED_FORM; *ch; ++ch)
            cellEnd.push_back(x += font.GetCharWidth(size, *ch));
        const float advance = cellEnd[0] - left;
        const SInk typed = ReadInk(Inset(fieldWindow, edge));
        ASSERT_FALSE(typed.runs.empty());
        EXPECT_NEAR(typed.runs.front().first, left, advance * 0.5f) << "the text starts at the field's left";
        EXPECT_NEAR(typed.runs.back().second, cellEnd.back(), advance * 0.5f) << "and ends with its last cell";
        const float cellCentre = cellEnd[c.glyph] - advance * 0.5f;
        ClickAt(p, mVec2(floorf(cellCentre) + 0.5f, Centre(fieldWindow).y));
        EXPECT_EQ(st.Caret, (u32)c.glyph + 1);
        EXPECT_EQ(st.SelStart, st.Caret) << "a click selects nothing";
    }
}
