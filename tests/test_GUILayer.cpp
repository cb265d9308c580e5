// GUI layers: anchored layout, hit tests and button behaviour, the fade, the per-frame walk and
// the drawing of flat looks and fitted images.
#include "GUITestSupport.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <GL/glew.h>

#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <vector>

#include "GameCore.h"

namespace
{
// A layer with nothing of its own to draw: the flat looks of the base class.
class TFlatLayer : public SGUILayer
{
public:
    void Frame() override {}
};

void ExpectRect(const mRect& got, const mRect& want, const char* what)
{
    EXPECT_FLOAT_EQ(got.x0, want.x0) << what;
    EXPECT_FLOAT_EQ(got.y0, want.y0) << what;
    EXPECT_FLOAT_EQ(got.x1, want.x1) << what;
    EXPECT_FLOAT_EQ(got.y1, want.y1) << what;
}

struct SLayerPlacement
{
    float anchors[4];
    float offsets[4];
};

void Place(SGUILayer& l, const SLayerPlacement& p)
{
    l.AnchorLeft = p.anchors[0];
    l.AnchorTop = p.anchors[1];
    l.AnchorRight = p.anchors[2];
    l.AnchorBottom = p.anchors[3];
    l.OffsetLeft = p.offsets[0];
    l.OffsetTop = p.offsets[1];
    l.OffsetRight = p.offsets[2];
    l.OffsetBottom = p.offsets[3];
}
} // namespace

TEST(GUILayout, AnchorsAndOffsetsPlaceAChildInItsParent)
{
    struct Case
    {
        const char* what;
        mRect parent;
        SLayerPlacement child;
        mRect expected;
    };
    const Case cases[] = {
        {"inset by offsets", {100, 100, 300, 200}, {{0, 0, 1, 1}, {10, 10, -10, -10}}, {110, 110, 290, 190}},
        {"right half, top quarter", {0, 0, 400, 200}, {{0.5f, 0, 1, 0.25f}, {0, 0, 0, 0}}, {200, 0, 400, 50}},
        {"fixed box from the top-left", {50, 60, 450, 260}, {{0, 0, 0, 0}, {5, 6, 25, 36}}, {55, 66, 75, 96}},
        {"strip along the bottom", {0, 0, 1024, 576}, {{0, 1, 1, 1}, {0, -20, 0, 0}}, {0, 556, 1024, 576}},
    };
    for (const Case& c : cases)
    {
        TFlatLayer* parent = new TFlatLayer;
        Place(*parent, {{0, 0, 0, 0}, {c.parent.x0, c.parent.y0, c.parent.x1, c.parent.y1}});
        TFlatLayer* child = new TFlatLayer;
        Place(*child, c.child);
        parent->AddChild(child);
        parent->UpdateTreeRects();
        ExpectRect(parent->Rect, c.parent, c.what);
        ExpectRect(child->Rect, c.expected, c.what);
        delete parent;
    }
}

TEST(GUILayout, ChainsFollowTheirParentsAndTheRootFillsTheWindow)
{
    const s32 savedW = GScreenWidth, savedH = GScreenHeight;
    GScreenWidth = 800;
    GScreenHeight = 600;
    TFlatLayer root; // anchored to the whole window
    TFlatLayer* mid = new TFlatLayer;
    Place(*mid, {{0.25f, 0.5f, 0.75f, 1}, {0, 0, 0, -100}});
    TFlatLayer* leaf = new TFlatLayer;
    Place(*leaf, {{0, 0, 0.5f, 0.5f}, {4, 4, -4, -4}});
    root.AddChild(mid);
    mid->AddChild(leaf);
    root.UpdateTreeRects();
    ExpectRect(root.Rect, {0, 0, 800, 600}, "root");
    ExpectRect(mid->Rect, {200, 300, 600, 500}, "mid");
    ExpectRect(leaf->Rect, {204, 304, 396, 396}, "leaf");
    GScreenWidth = savedW;
    GScreenHeight = savedH;
}

TEST(GUIHitTest, RectanglesHoldTheirTopLeftEdgesButNotTheirBottomRight)
{
    const mRect r{10, 20, 30, 40};
    struct Case
    {
        float x, y;
        bool inside;
    };
    const Case cases[] = {{10, 20, true}, {29.9f, 39.9f, true}, {30, 25, false}, {15, 40, false},
                          {9.9f, 25, false}, {15, 19.9f, false}, {20, 30, true}};
    for (const Case& c : cases)
    {
        GMousePos = mVec2(c.x, c.y);
        EXPECT_EQ(MouseInRect(r), c.inside) << c.x << "," << c.y;
    }
    InputReset();
}

TEST(GUIHitTest, LaterSiblingsAndChildrenCoverAWidget)
{
    TTestLayer parent(mRect{0, 0, 400, 300});
    TTestLayer* a = new TTestLayer(mRect{0, 0, 200, 200});
    TTestLayer* b = new TTestLayer(mRect{100, 100, 300, 300});
    TTestLayer* c = new TTestLayer(mRect{10, 10, 60, 60});
    parent.AddChild(a);
    parent.AddChild(b); // drawn after a
    a->AddChild(c);
    parent.UpdateTreeRects();
    struct Case
    {
        const char* what;
        float x, y;
        SGUILayer* layer;
        bool bOpen;
        bool hovered;
    };
    const Case cases[] = {
        {"a's widget under b", 150, 150, a, true, false},
        {"a's widget in the open", 50, 150, a, true, true},
        {"a's widget under a's child", 20, 20, a, true, false},
        {"the child's widget", 20, 20, c, true, true},
        {"b's widget over a", 150, 150, b, true, true},
        {"a closed sibling covers nothing", 150, 150, a, false, true},
    };
    for (const Case& k : cases)
    {
        b->Open = k.bOpen ? 1 : 0;
        GMousePos = mVec2(k.x, k.y);
        EXPECT_EQ(k.layer->IsMouseOver(k.layer->Rect), k.hovered) << k.what;
    }
    InputReset();
}

TEST(GUIBehaviour, ButtonsClickOnlyWhenPressedAndReleasedInside)
{
    struct Tick
    {
        float x, y;
        bool left;
    };
    struct Case
    {
        const char* what;
        std::vector<Tick> ticks;
        int clicks;
    };
    // The button covers (10, 10)-(50, 30); (100, 100) is outside.
    const Case cases[] = {
        {"press and release inside", {{20, 20, false}, {20, 20, true}, {20, 20, false}}, 1},
        {"press outside, release inside", {{100, 100, false}, {100, 100, true}, {20, 20, true}, {20, 20, false}}, 0},
        {"press inside, release outside", {{20, 20, false}, {20, 20, true}, {100, 100, true}, {100, 100, false}}, 0},
        {"leave and come back while held", {{20, 20, true}, {20, 20, true}, {100, 100, true}, {30, 20, true},
                                            {30, 20, false}},
         1},
        {"two clicks", {{20, 20, true}, {20, 20, false}, {40, 25, true}, {40, 25, false}}, 2},
        {"held across many ticks", {{20, 20, false}, {20, 20, true}, {21, 20, true}, {22, 21, true}, {22, 21, false}}, 1},
    };
    const mRect r{10, 10, 50, 30};
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 200, 200});
        u32 hovered = 0, held = 0, toggleHovered = 0, toggleHeld = 0;
        int clicks = 0, value = 0;
        for (const Tick& t : c.ticks)
        {
            GUITest_Tick(t.x, t.y, t.left);
            clicks += layer.ButtonBehavior(r, hovered, held);
            layer.ToggleBehavior(r, toggleHovered, toggleHeld, &value);
        }
        EXPECT_EQ(clicks, c.clicks) << c.what;
        EXPECT_EQ(value, c.clicks % 2) << c.what;
    }
    InputReset();
}

TEST(GUIBehaviour, OnlyWidgetsDrawnThisFrameCountAsUnderTheMouse)
{
    TTestLayer layer(mRect{0, 0, 300, 300});
    layer.FrameCounter = 7;
    struct Case
    {
        u32 id;
        mRect r;
        u32 frame;
    };
    const Case states[] = {{1, {0, 0, 50, 50}, 7}, {2, {100, 100, 150, 150}, 6}};
    for (const Case& s : states)
    {
        SWidgetState& st = layer.GetWidgetState(s.id);
        st.Rect = s.r;
        st.Frame = s.frame;
    }
    struct Probe
    {
        float x, y;
        bool over;
    };
    const Probe probes[] = {{25, 25, true}, {125, 125, false}, {75, 75, false}};
    for (const Probe& p : probes)
    {
        GMousePos = mVec2(p.x, p.y);
        EXPECT_EQ(layer.IsMouseOverWidget(), p.over) << p.x << "," << p.y;
    }
    InputReset();
}

TEST(GUIImage, FitModesKeepTheAspectAndCropByTextureCoordinates)
{
    struct Case
    {
        const char* what;
        mRect r;
        float w, h;
        u32 mode;
        bool drawn;
        mRect place, st;
    };
    const mRect square{0, 0, 100, 100};
    const Case cases[] = {
        {"wide image contained: a centred band", square, 200, 100, FIT_Contain, true, {0, 25, 100, 75}, {0, 0, 1, 1}},
        {"wide image covering: the middle half", square, 200, 100, FIT_Cover, true, {0, 0, 100, 100}, {0.25f, 0, 0.75f, 1}},
        {"stretched", square, 200, 100, FIT_Stretch, true, {0, 0, 100, 100}, {0, 0, 1, 1}},
        {"tall image contained in a wide box", {100, 100, 300, 200}, 50, 100, FIT_Contain, true, {175, 100, 225, 200},
         {0, 0, 1, 1}},
        {"tall image covering a wide box", {100, 100, 300, 200}, 50, 100, FIT_Cover, true, {100, 100, 300, 200},
         {0, 0.375f, 1, 0.625f}},
        {"same aspect", {10, 10, 74, 42}, 64, 32, FIT_Cover, true, {10, 10, 74, 42}, {0, 0, 1, 1}},
        {"no texture", square, 0, 0, FIT_Contain, false, {}, {}},
        {"texture without rows", square, 64, 0, FIT_Cover, false, {}, {}},
        {"texture without columns", square, 0, 64, FIT_Stretch, false, {}, {}},
        {"rectangle without height", {0, 10, 100, 10}, 64, 64, FIT_Contain, false, {}, {}},
    };
    for (const Case& c : cases)
    {
        mRect place{-1, -1, -1, -1}, st{-1, -1, -1, -1};
        ASSERT_EQ(GUI_FitImage(c.r, c.w, c.h, c.mode, place, st), c.drawn) << c.what;
        if (!c.drawn)
            continue;
        ExpectRect(place, c.place, c.what);
        ExpectRect(st, c.st, c.what);
    }
}

// ---------------------------------------------------------------------------------------------
// The walk (it clips through the scissor stack, so it runs with a GL context)

class GUIWalk : public GUIDrawTest
{
};

TEST_F(GUIWalk, ClosedLayerIsDrawnUntilItsFadeOutTimeHasPassed)
{
    struct Case
    {
        float fadeOut;
        float dt;
        int framesAfterClosing;
    };
    // Steps are exact in binary, so the sums are too.
    const Case cases[] = {{0.5f, 0.125f, 3}, {0.5f, 0.25f, 1}, {0.5f, 0.5f, 0}, {1.0f, 0.25f, 3}, {0.0f, 0.125f, 0}};
    const int FRAMES = 12;
    for (const Case& c : cases)
    {
        TTestLayer layer(mRect{0, 0, 100, 100});
        layer.FadeOutTime = c.fadeOut;
        for (int i = 0; i < FRAMES; ++i)
            SGUILayer::DrawTree(&layer, c.dt);
        EXPECT_EQ(layer.Frames, FRAMES) << "an open layer is drawn every frame";
        layer.Open = 0;
        for (int i = 0; i < FRAMES; ++i)
            SGUILayer::DrawTree(&layer, c.dt);
        EXPECT_EQ(layer.Frames - FRAMES, c.framesAfterClosing) << c.fadeOut << " " << c.dt;
        EXPECT_EQ(layer.FrameCounter, (u32)layer.Frames);
        layer.Open = 1;
        SGUILayer::DrawTree(&layer, c.dt);
        EXPECT_EQ(layer.Frames - FRAMES, c.framesAfterClosing + 1) << "reopened";
    }
}

TEST_F(GUIWalk, ChildrenAddedOrRemovedDuringTheWalkAreEachDrawnOnce)
{
    struct Case
    {
        const char* what;
        // Which child's frame does what: remove self, remove the first child, add a new child.
        int removesItself, removesFirst, addsChild;
    };
    const Case cases[] = {
        {"the first child removes itself", 0, -1, -1},
        {"the second child removes the first", -1, 1, -1},
        {"the middle child adds one", -1, -1, 1},
        {"the last child removes itself and adds one", 2, -1, 2},
    };
    for (const Case& c : cases)
    {
        TTestLayer parent(mRect{0, 0, 300, 300});
        std::vector<TTestLayer*> kids;
        TTestLayer* added = new TTestLayer(mRect{0, 0, 10, 10});
        std::vector<TTestLayer*> removed;
        for (int i = 0; i < 3; ++i)
        {
            kids.push_back(new TTestLayer(mRect{0, 0, 50, 50}));
            parent.AddChild(kids.back());
        }
        for (int i = 0; i < 3; ++i)
            kids[i]->OnFrame = [&, i](TTestLayer& self) {
                if (self.Frames > 1)
                    return;
                if (i == c.removesItself)
                {
                    parent.RemoveChild(&self);
                    removed.push_back(&self);
                }
                if (i == c.removesFirst)
                {
                    parent.RemoveChild(kids[0]);
                    removed.push_back(kids[0]);
                }
                if (i == c.addsChild)
                    parent.AddChild(added);
            };
        SGUILayer::DrawTree(&parent, 0.01f);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(kids[i]->Frames, 1) << c.what << ": child " << i;
        EXPECT_EQ(added->Frames, c.addsChild >= 0 ? 1 : 0) << c.what;
        EXPECT_EQ(parent.DrawOrder.Count(), parent.Children.Count());
        for (TTestLayer* r : removed)
            delete r;
        if (c.addsChild < 0)
            delete added;
    }
}

TEST_F(GUIWalk, LayersOutsideTheirParentsClipRunNoFrame)
{
    TTestLayer parent(mRect{0, 0, 100, 100});
    TTestLayer* inside = new TTestLayer(mRect{50, 50, 150, 150});
    TTestLayer* outside = new TTestLayer(mRect{200, 200, 300, 300});
    TTestLayer* underOutside = new TTestLayer(mRect{0, 0, 1000, 1000});
    parent.AddChild(inside);
    parent.AddChild(outside);
    outside->AddChild(underOutside);
    SGUILayer::DrawTree(&parent, 0.01f);
    EXPECT_EQ(inside->Frames, 1);
    EXPECT_EQ(outside->Frames, 0);
    EXPECT_EQ(underOutside->Frames, 0);
    EXPECT_EQ(R_ScissorDepth(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Drawing

TEST_F(GUIWalk, FlatButtonColoursFollowHoverAndHold)
{
    struct Case
    {
        u32 hovered, held;
        float rgb[3]; // the fill at the centre
    };
    const Case cases[] = {
        {0, 0, {0.2f, 0.5f, 0.3f}},
        {1, 0, {0.35f, 0.6f, 0.425f}},
        {1, 1, {0.2f, 0.3f, 0.2f}}, // the inner fill of a pressed button
        {0, 1, {0.2f, 0.5f, 0.3f}},
    };
    const mRect r{100, 100, 180, 140};
    for (const Case& c : cases)
    {
        glClear(GL_COLOR_BUFFER_BIT);
        TFlatLayer layer;
        layer.DrawButton(r, "", c.hovered, c.held, nullptr, FIT_Stretch);
        unsigned char px[4];
        ReadWindowPixel(140, 120, px);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(px[k], c.rgb[k] * 255.0f, 1.5f) << c.hovered << c.held << " channel " << k;
        // Nothing outside the button.
        ReadWindowPixel(90, 120, px);
        EXPECT_EQ(px[0] + px[1] + px[2], 0);
    }
}

TEST_F(GUIWalk, ImagesAreDrawnFittedAndCropped)
{
    // Four vertical stripes, two texels each: red, green, blue, white (aspect 2).
    const int TW = 8, TH = 4;
    const u32 stripes[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
    std::vector<u32> pixels(TW * TH);
    for (int y = 0; y < TH; ++y)
        for (int x = 0; x < TW; ++x)
            pixels[y * TW + x] = stripes[x / 2];
    TextureRef tex;
    ASSERT_EQ(TEX_Create(tex, TW, TH, 1, 1, TEXFMT_RGBA8, pixels.data(), TEXF_NotStreamed | TEXF_NoMipmaps | TEXF_Clamp), 1);
    const u32 BLACK = 0xFF000000u;
    struct Probe
    {
        int x, y;
        u32 rgba;
    };
    struct Case
    {
        const char* what;
        u32 mode;
        bool withTexture;
        std::vector<Probe> probes;
    };
    // The square (100, 100)-(200, 200); a stripe is 25 pixels wide when the image spans it.
    const Case cases[] = {
        {"contain", FIT_Contain, true, {{112, 150, stripes[0]}, {187, 150, stripes[3]}, {150, 110, BLACK}, {150, 190, BLACK}}},
        {"cover", FIT_Cover, true, {{112, 110, stripes[1]}, {187, 190, stripes[2]}}},
        {"stretch", FIT_Stretch, true, {{112, 110, stripes[0]}, {187, 190, stripes[3]}}},
        {"no texture", FIT_Contain, false, {{150, 150, BLACK}}},
    };
    for (const Case& c : cases)
    {
        glClear(GL_COLOR_BUFFER_BIT);
        TFlatLayer layer;
        TextureRef none;
        layer.DrawImage(mRect{100, 100, 200, 200}, mVec4(1, 1, 1, 1), c.withTexture ? &tex : &none, c.mode);
        for (const Probe& p : c.probes)
        {
            unsigned char px[4];
            ReadWindowPixel(p.x, p.y, px);
            // Filtering between texels may mix in a little of the neighbouring stripe.
            const int FILTER_TOLERANCE = 8;
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(px[k], (int)((p.rgba >> (8 * k)) & 0xFF), FILTER_TOLERANCE)
                    << c.what << " at " << p.x << "," << p.y << " channel " << k;
        }
    }
}

TEST(GUIData, GeneratorReproducesTheCommittedButtonImages)
{
    TTempDir dir;
    TProgramGuard generator(StartHeadless(PW_BIN_DIR "/plumweave_uigen", {dir.Path()}, dir.Path(), OUTPUT_DROPPED));
    int status = -1;
    ASSERT_TRUE(generator.Wait(GENERATOR_SECONDS, status));
    ASSERT_EQ(status, 0);
    for (const char* path : GUI_BUTTON_IMAGES)
    {
        const std::string file = std::string(path).substr(std::string("Data/UI/").size());
        std::ifstream made(dir.File(file.c_str()), std::ios::binary);
        std::ifstream committed(std::string(PW_BIN_DIR "/RERudu/") + path, std::ios::binary);
        std::stringstream a, b;
        a << made.rdbuf();
        b << committed.rdbuf();
        EXPECT_FALSE(a.str().empty()) << file;
        EXPECT_EQ(a.str(), b.str()) << file;
    }
}

TEST(GUIGeometry, RectanglesGrowToTheirPointsAndColoursUnpackPerByte)
{
    struct Case
    {
        mRect start;
        mVec2 p;
        mRect expected;
    };
    const Case cases[] = {
        {{0, 0, 10, 10}, {5, 5}, {0, 0, 10, 10}},
        {{0, 0, 10, 10}, {-3, 12}, {-3, 0, 10, 12}},
        {{0, 0, 10, 10}, {15, -4}, {0, -4, 15, 10}},
        {{5, 5, 5, 5}, {1, 9}, {1, 5, 5, 9}},
    };
    for (const Case& c : cases)
    {
        mRect r = c.start;
        M_RectAddPoint(r, c.p);
        ExpectRect(r, c.expected, "grown");
    }
    struct Colour
    {
        u32 rgba;
        float r, g, b, a;
    };
    const Colour colours[] = {{0xFF888888u, 136 / 255.0f, 136 / 255.0f, 136 / 255.0f, 1},
                              {0x80FF0000u, 0, 0, 1, 128 / 255.0f},
                              {0x000000FFu, 1, 0, 0, 0}};
    for (const Colour& c : colours)
    {
        const mVec4 v = UnpackColor(c.rgba);
        EXPECT_FLOAT_EQ(v.x, c.r);
        EXPECT_FLOAT_EQ(v.y, c.g);
        EXPECT_FLOAT_EQ(v.z, c.b);
        EXPECT_FLOAT_EQ(v.w, c.a);
    }
}

TEST_F(GUIWalk, CirclesAreFilledOrOutlinedAndNeedThreeSegments)
{
    struct Case
    {
        u32 segments;
        bool outline;
        bool centreDrawn, rimDrawn;
    };
    const Case cases[] = {{32, false, true, true}, {32, true, false, true}, {2, false, false, false}, {0, false, false, false}};
    const mVec2 centre(300, 300);
    const float radius = 40;
    for (const Case& c : cases)
    {
        glClear(GL_COLOR_BUFFER_BIT);
        TFlatLayer layer;
        layer.UseColorOnly();
        layer.DrawCircle(centre, radius, c.segments, mVec4(1, 1, 1, 1), c.outline);
        unsigned char px[4];
        ReadWindowPixel(300, 300, px);
        EXPECT_EQ(px[0] > 128, c.centreDrawn) << c.segments << (c.outline ? " outline" : " filled");
        // The point at angle 0 lies on the rim; just inside it the filled circle is drawn too.
        bool rim = false;
        for (int dx = -2; dx <= 0; ++dx)
        {
            ReadWindowPixel(340 + dx, 300, px);
            rim = rim || px[0] > 128;
        }
        EXPECT_EQ(rim, c.rimDrawn) << c.segments << (c.outline ? " outline" : " filled");
        ReadWindowPixel(350, 300, px);
        EXPECT_EQ(px[0], 0) << "outside";
    }
}
