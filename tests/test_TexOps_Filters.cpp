// The Filters family on the off-screen context: small graphs of a hand-filled source and a filter,
// their pixels compared with CPU computations of the filters' formulas, and the mended
// faults.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "GameTexture.h"
#include "TexNodeClass.h"
#include "TexNodeRegistry.h"

namespace
{
const float TOL_FP32 = 1e-5f;
const float TOL_FP16 = 1e-3f;
const float NaN = std::nanf("");

typedef std::function<void(TArray<SPropDesc>&)> TSetter;

struct SPix
{
    u32 W, H;
    std::vector<mVec4> Px; // row 0 first, as uploaded
    mVec4& At(int x, int y) { return Px[(size_t)y * W + x]; }
};

SPix Image(u32 w, u32 h, const std::function<mVec4(int, int)>& f)
{
    SPix img{w, h, std::vector<mVec4>(w * h)};
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x)
            img.At((int)x, (int)y) = f((int)x, (int)y);
    return img;
}

// Distinct values per pixel and channel.
SPix Pattern(u32 w, u32 h)
{
    return Image(w, h, [](int x, int y) { return mVec4(x * 0.1f, y * 0.07f, (x + 2 * y) * 0.03f, 1.0f - x * 0.01f); });
}

// A source node whose output is the image as an FP32 texture with the given flags.
STexProcNode* Source(STexProcessor& p, const SPix& img, u32 flags = NODE_OUTPUT_TEX_FLAGS)
{
    STexProcNode* n = AddPinsNode(p, 0, 1, 0);
    TEX_Create(n->Output, img.W, img.H, 1, 1, TEXFMT_RGBA32F, img.Px.data(), flags);
    // Textures made in memory always get the read-back flag; one that lacks it stands for a
    // texture streamed from a file.
    n->Output->Flags = flags;
    return n;
}

// Runs the filter on the sources (input i from sources[i]); the output read back, or empty.
SPix RunFilter(STexProcessor& p, STexProcNode* f, const std::vector<STexProcNode*>& sources, int* result = nullptr)
{
    for (u32 i = 0; i < sources.size(); ++i)
        TestLink(p, sources[i], 0, f, i);
    const int ok = f->Process();
    if (result)
        *result = ok;
    FloatImage img;
    if (!ok || f->Output.IsNull() || !TEX_ReadPixelsFloat(f->Output.Get(), img))
        return SPix{0, 0, {}};
    SPix out{img.Width, img.Height, std::vector<mVec4>(img.Data.data, img.Data.data + img.Width * img.Height)};
    return out;
}

int Wrapped(int v, int n)
{
    return ((v % n) + n) % n;
}

enum EEdge
{
    EDGE_Wrap,
    EDGE_Clamp,
    EDGE_Clear,
};

// The source pixel under an edge rule; false when it reads as zero.
bool EdgePixel(EEdge e, int& x, int& y, int w, int h)
{
    if (e == EDGE_Wrap)
        x = Wrapped(x, w), y = Wrapped(y, h);
    else if (e == EDGE_Clamp)
        x = x < 0 ? 0 : (x >= w ? w - 1 : x), y = y < 0 ? 0 : (y >= h ? h - 1 : y);
    return x >= 0 && x < w && y >= 0 && y < h;
}

void ExpectNear(SPix& got, SPix& want, float tol, const std::string& what)
{
    ASSERT_EQ(got.W, want.W) << what;
    ASSERT_EQ(got.H, want.H) << what;
    for (int y = 0; y < (int)want.H; ++y)
        for (int x = 0; x < (int)want.W; ++x)
            for (int c = 0; c < 4; ++c)
            {
                const float a = (&got.At(x, y).x)[c], b = (&want.At(x, y).x)[c];
                ASSERT_NEAR(a, b, tol * (1.0f + std::fabs(b))) << what << " at " << x << "," << y << " channel " << c;
            }
}

void SetVec2(TArray<SPropDesc>& l, const char* n, float x, float y)
{
    FindPropDesc(l, n)->AsVec2() = mVec2(x, y);
}

class FiltersTest : public GLTestFixture
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
    }
    void TearDown() override { shaders.End(); }
};
} // namespace

TEST_F(FiltersTest, SeparableBlurOfAnImpulseIsOneBlockOfTapsPlacedByTheEdgeRule)
{
    const u32 SIZE = 32, TAPS = 16, RADIUS = 8;
    struct SCase
    {
        int Expand, Wrap;
        EEdge Edge;
        int Ix, Iy;
    } cases[] = {
        {1, 1, EDGE_Wrap, 16, 16}, {1, 1, EDGE_Wrap, 1, 30},  {1, 0, EDGE_Clamp, 1, 30},
        {0, 1, EDGE_Clear, 1, 30}, {0, 0, EDGE_Clear, 16, 16}, {1, 0, EDGE_Clamp, 31, 0},
    };
    // The weights differ per channel; the division is per channel, so every channel is the box.
    const mVec4 KERNEL(1.0f, 0.5f, 2.0f, 0.25f);
    for (const SCase& c : cases)
    {
        STexProcessor p;
        SPix in = Image(SIZE, SIZE, [&](int x, int y) { return x == c.Ix && y == c.Iy ? mVec4(1, 1, 1, 1) : mVec4(0, 0, 0, 0); });
        SPix kernel = Image(4, 4, [&](int, int) { return KERNEL; });
        STexProcNode* f = AddClassNode(p, "STexNode_Blur", [&](TArray<SPropDesc>& l) {
            FindPropDesc(l, "Expand")->AsInt() = c.Expand;
            FindPropDesc(l, "Wrap")->AsInt() = c.Wrap;
        });
        SPix got = RunFilter(p, f, {Source(p, in), Source(p, kernel)});
        SPix want = Image(SIZE, SIZE, [&](int x, int y) {
            mVec4 sum(0, 0, 0, 0);
            for (int dy = -(int)RADIUS; dy < (int)(TAPS - RADIUS); ++dy)
                for (int dx = -(int)RADIUS; dx < (int)(TAPS - RADIUS); ++dx)
                {
                    int sx = x + dx, sy = y + dy;
                    if (EdgePixel(c.Edge, sx, sy, SIZE, SIZE))
                        sum = sum + in.At(sx, sy);
                }
            return sum * (1.0f / (TAPS * TAPS));
        });
        ExpectNear(got, want, TOL_FP32, "impulse " + std::to_string(c.Ix) + "," + std::to_string(c.Iy) + " edge " +
                                            std::to_string(c.Edge));
    }
}

TEST_F(FiltersTest, ScatterBlurEqualsTheBoxOfTheCoveredSourcePixels)
{
    const u32 W = 12, H = 10;
    const float RADIUS = 1.5f; // each source quad covers the 3 x 3 pixels around it
    const int EXPANSION = 2;   // ceil(RADIUS)
    for (int expand = 0; expand < 2; ++expand)
        for (int wrap = 0; wrap < 2; ++wrap)
        {
            STexProcessor p;
            SPix in = Pattern(W, H);
            SPix kernel = Image(2, 2, [](int, int) { return mVec4(0.5f, 0.5f, 0.5f, 0.5f); });
            STexProcNode* f = AddClassNode(p, "STexNode_Blur", [&](TArray<SPropDesc>& l) {
                SetVec2(l, "Radius", RADIUS, RADIUS);
                FindPropDesc(l, "Separable")->AsInt() = 0;
                FindPropDesc(l, "Expand")->AsInt() = expand;
                FindPropDesc(l, "Wrap")->AsInt() = wrap;
            });
            SPix got = RunFilter(p, f, {Source(p, in), Source(p, kernel)});
            const int lo = expand ? -EXPANSION : 0;
            SPix want = Image(W, H, [&](int x, int y) {
                mVec4 sum(0, 0, 0, 0);
                float count = 0;
                for (int sy = y - 1; sy <= y + 1; ++sy)
                    for (int sx = x - 1; sx <= x + 1; ++sx)
                    {
                        if (sx < lo || sy < lo || sx >= (int)W - lo || sy >= (int)H - lo)
                            continue;
                        int ix = sx, iy = sy;
                        EdgePixel(wrap ? EDGE_Wrap : EDGE_Clamp, ix, iy, W, H);
                        sum = sum + in.At(ix, iy);
                        count += 1;
                    }
                return sum * (1.0f / count);
            });
            ExpectNear(got, want, TOL_FP32, "expand " + std::to_string(expand) + " wrap " + std::to_string(wrap));
        }
}

TEST_F(FiltersTest, DegenerateSettingsEndAtOnceWithTheInputAFiniteImageOrAStatus)
{
    const u32 SIZE = 8;
    enum EExpect
    {
        X_Input,  // the output equals the input
        X_Zero,   // the output is black
        X_Finite, // the output is finite
        X_Status, // the node fails with a status text
    };
    struct SCase
    {
        const char* Name;
        const char* Class;
        TSetter Set;
        mVec4 Kernel;
        u32 KernelFlags;
        EExpect Expect;
    } cases[] = {
        {"radius (-8, NaN)", "STexNode_Blur", [](TArray<SPropDesc>& l) { SetVec2(l, "Radius", -8, NaN); FindPropDesc(l, "Uniform")->AsInt() = 0; },
         mVec4(1, 1, 1, 1), NODE_OUTPUT_TEX_FLAGS, X_Input},
        {"radius 0, black kernel", "STexNode_Blur", [](TArray<SPropDesc>& l) { SetVec2(l, "Radius", 0, 0); }, mVec4(0, 0, 0, 0),
         NODE_OUTPUT_TEX_FLAGS, X_Input},
        {"scatter radius 0, black kernel", "STexNode_Blur",
         [](TArray<SPropDesc>& l) { SetVec2(l, "Radius", 0, 0); FindPropDesc(l, "Separable")->AsInt() = 0; }, mVec4(0, 0, 0, 0),
         NODE_OUTPUT_TEX_FLAGS, X_Input},
        {"radius 1e9", "STexNode_Blur", [](TArray<SPropDesc>& l) { SetVec2(l, "Radius", 1e9f, 1e9f); }, mVec4(1, 1, 1, 1),
         NODE_OUTPUT_TEX_FLAGS, X_Finite},
        {"scatter radius 1e9", "STexNode_Blur",
         [](TArray<SPropDesc>& l) { SetVec2(l, "Radius", 1e9f, 1e9f); FindPropDesc(l, "Separable")->AsInt() = 0; },
         mVec4(1, 1, 1, 1), NODE_OUTPUT_TEX_FLAGS, X_Status},
        {"black kernel", "STexNode_Blur", nullptr, mVec4(0, 0, 0, 0), NODE_OUTPUT_TEX_FLAGS, X_Zero},
        {"scatter black kernel", "STexNode_Blur", [](TArray<SPropDesc>& l) { FindPropDesc(l, "Separable")->AsInt() = 0; },
         mVec4(0, 0, 0, 0), NODE_OUTPUT_TEX_FLAGS, X_Zero},
        {"kernel without read-back", "STexNode_Blur", nullptr, mVec4(1, 1, 1, 1), 0, X_Status},
        {"no samples", "STexNode_VFBlur", [](TArray<SPropDesc>& l) { FindPropDesc(l, "SampleCnt")->AsInt() = 0; FindPropDesc(l, "DoubleSided")->AsInt() = 0; },
         mVec4(3, 0, 0, 0), NODE_OUTPUT_TEX_FLAGS, X_Input},
        {"lens zoom 0", "STexNode_LensDistort", [](TArray<SPropDesc>& l) { SetVec2(l, "Zoom", 0, 0); FindPropDesc(l, "OORMode")->AsInt() = 0; },
         mVec4(), 0, X_Finite},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        SPix in = Pattern(SIZE, SIZE);
        STexProcNode* f = AddClassNode(p, c.Class, c.Set);
        std::vector<STexProcNode*> sources = {Source(p, in)};
        if (f->InParams.Count() > 1)
            sources.push_back(Source(p, Image(4, 4, [&](int, int) { return c.Kernel; }), c.KernelFlags));
        int ok = 0;
        SPix got = RunFilter(p, f, sources, &ok);
        if (c.Expect == X_Status)
        {
            EXPECT_EQ(ok, 0) << c.Name;
            EXPECT_FALSE(f->Status.IsEmpty()) << c.Name;
            continue;
        }
        ASSERT_EQ(ok, 1) << c.Name << ": " << f->Status.Str();
        SPix want = c.Expect == X_Zero ? Image(SIZE, SIZE, [](int, int) { return mVec4(0, 0, 0, 0); }) : in;
        if (c.Expect != X_Finite)
            ExpectNear(got, want, TOL_FP32, c.Name);
        for (const mVec4& v : got.Px)
            ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w)) << c.Name;
    }
}

TEST_F(FiltersTest, VectorFieldBlurAveragesItsEvenlySpreadShifts)
{
    const u32 W = 8, H = 6;
    const int DIST_REL_PIXELS = 2;
    struct SCase
    {
        int Samples, DoubleSided;
        std::vector<int> Shifts; // pixels along x
    } cases[] = {{3, 1, {-1, 0, 1}}, {1, 0, {0}}, {1, 1, {-1}}, {2, 0, {0, 1}}};
    for (const SCase& c : cases)
    {
        STexProcessor p;
        SPix in = Pattern(W, H);
        SPix field = Image(1, 1, [](int, int) { return mVec4(1, 0, 0, 0); });
        STexProcNode* f = AddClassNode(p, "STexNode_VFBlur", [&](TArray<SPropDesc>& l) {
            FindPropDesc(l, "DistMode")->AsInt() = DIST_REL_PIXELS;
            FindPropDesc(l, "SampleCnt")->AsInt() = c.Samples;
            FindPropDesc(l, "DoubleSided")->AsInt() = c.DoubleSided;
        });
        SPix got = RunFilter(p, f, {Source(p, in), Source(p, field)});
        SPix want = Image(W, H, [&](int x, int y) {
            mVec4 sum(0, 0, 0, 0);
            for (int s : c.Shifts)
                sum = sum + in.At(Wrapped(x + s, W), y);
            return sum * (1.0f / (float)c.Shifts.size());
        });
        ExpectNear(got, want, TOL_FP32, std::to_string(c.Samples) + " samples");
    }
}

TEST_F(FiltersTest, DistortSamplesWhereTheFieldPointsUnderEveryModeAndEdgeRule)
{
    const int W = 8, H = 8;
    struct SMode
    {
        int Mode;
        mVec4 Field;
        bool Absolute;
        int X, Y; // the offset, or the absolute pixel
    } modes[] = {
        {0, mVec4(0.25f, -0.125f, 0, 0), false, 2, -1}, // texture units
        {1, mVec4(-1.5f / W, 9.5f / H, 0, 0), true, -2, 9},
        {2, mVec4(-3, 2, 0, 0), false, -3, 2}, // pixels
        {3, mVec4(10, -1, 0, 0), true, 10, -1},
        {4, mVec4(0.25f, 0.5f, 0, 0), false, -2, 0}, // a quarter of the width, half a turn
        {5, mVec4(3, 0.25f, 0, 0), false, 0, 3},     // three pixels, a quarter turn
        {9, mVec4(5.5f / W, 0.5f / H, 0, 0), true, 5, 0}, // an unknown mode is the absolute one
    };
    struct SEdge
    {
        int OOR;
        EEdge Edge;
    } edges[] = {{0, EDGE_Wrap}, {1, EDGE_Clamp}, {2, EDGE_Clear}, {7, EDGE_Clear}};
    for (const SMode& m : modes)
        for (const SEdge& e : edges)
        {
            STexProcessor p;
            SPix in = Pattern(W, H);
            SPix field = Image(1, 1, [&](int, int) { return m.Field; });
            STexProcNode* f = AddClassNode(p, "STexNode_Distort", [&](TArray<SPropDesc>& l) {
                FindPropDesc(l, "DistMode")->AsInt() = m.Mode;
                FindPropDesc(l, "OORMode")->AsInt() = e.OOR;
            });
            SPix got = RunFilter(p, f, {Source(p, in), Source(p, field)});
            SPix want = Image(W, H, [&](int x, int y) {
                int sx = m.Absolute ? m.X : x + m.X, sy = m.Absolute ? m.Y : y + m.Y;
                return EdgePixel(e.Edge, sx, sy, W, H) ? in.At(sx, sy) : mVec4(0, 0, 0, 0);
            });
            ExpectNear(got, want, TOL_FP32, "mode " + std::to_string(m.Mode) + " oor " + std::to_string(e.OOR));
        }
}

TEST_F(FiltersTest, SinglePassFiltersFollowTheirFormulas)
{
    const u32 W = 8, H = 6;
    const float SLOPE = 0.05f;   // the ramp's rise per pixel
    const float SOBEL_SUM = 8.0f; // weights 1, 2, 1 over a two-pixel span
    const mVec4 FLAT(0.3f, 0.6f, 0.2f, 1.0f);
    const float EDGE = SOBEL_SUM * SLOPE;
    const float NZ = 1.0f / std::sqrt(1.0f + EDGE * EDGE);
    struct SCase
    {
        const char* Name;
        const char* Class;
        TSetter Set;
        std::function<mVec4(int, int)> In, Second; // Second: the optional second input
        std::function<mVec4(int, int)> Want;
        u32 Format;
        float Tol;
    } cases[] = {
        {"sobel flat", "STexNode_Sobel3x3", nullptr, [&](int, int) { return FLAT; }, nullptr,
         [](int, int) { return mVec4(0, 0, 0, 1); }, TEXFMT_RGBA16F, TOL_FP16},
        {"sobel ramp", "STexNode_Sobel3x3", nullptr, [&](int x, int) { float v = SLOPE * x; return mVec4(v, v, v, 1); }, nullptr,
         [&](int, int) { return mVec4(EDGE, EDGE, EDGE, 1); }, TEXFMT_RGBA16F, TOL_FP16},
        {"normals flat", "STexNode_NSobel3x3", nullptr, [&](int, int) { return FLAT; }, nullptr,
         [](int, int) { return mVec4(0.5f, 0.5f, 1, 1); }, TEXFMT_RGBA16F, TOL_FP16},
        {"normals ramp", "STexNode_NSobel3x3", nullptr, [&](int x, int) { float v = SLOPE * x; return mVec4(v, v, v, 1); }, nullptr,
         [&](int, int) { return mVec4(0.5f - 0.5f * EDGE * NZ, 0.5f, 0.5f + 0.5f * NZ, 1); }, TEXFMT_RGBA16F, TOL_FP16},
        {"lens identity", "STexNode_LensDistort", [](TArray<SPropDesc>& l) { SetVec2(l, "Amount", 0, 0); },
         [](int x, int y) { return mVec4(x * 0.1f, y * 0.1f, 0.5f, 1); }, nullptr,
         [](int x, int y) { return mVec4(x * 0.1f, y * 0.1f, 0.5f, 1); }, TEXFMT_RGBA32F, TOL_FP32},
        {"unsharp amount 0", "STexNode_UnsharpMask", [](TArray<SPropDesc>& l) { FindPropDesc(l, "Amount")->AsFloat() = 0; },
         [](int x, int y) { return mVec4(x * 0.1f, y * 0.1f, 0.5f, 1); }, [](int, int) { return mVec4(0.2f, 0.2f, 0.2f, 0.2f); },
         [](int x, int y) { return mVec4(x * 0.1f, y * 0.1f, 0.5f, 1); }, TEXFMT_RGBA32F, TOL_FP32},
        {"unsharp amount 2 threshold 0.25", "STexNode_UnsharpMask",
         [](TArray<SPropDesc>& l) { FindPropDesc(l, "Amount")->AsFloat() = 2; FindPropDesc(l, "Threshold")->AsFloat() = 0.25f; },
         [](int x, int) { return mVec4(x * 0.1f, 0.5f, 0.5f, 1); }, [](int, int) { return mVec4(0.4f, 0.4f, 0.4f, 0.4f); },
         [](int x, int) {
             float r = x * 0.1f, d = r - 0.4f;
             return mVec4(std::fabs(d) > 0.25f ? r + 2 * d : r, 0.5f, 0.5f, 1 + 2 * 0.6f);
         },
         TEXFMT_RGBA32F, TOL_FP32},
        {"anti-alias amount 1 on a step", "STexNode_AntiAlias", nullptr,
         [](int x, int) { return x == 3 ? mVec4(1, 1, 1, 1) : mVec4(0, 0, 0, 1); }, nullptr,
         [](int x, int) { // the eight neighbours' mean where a neighbour differs
             const float v = x == 3 ? 2.0f / 8.0f : (x == 2 || x == 4) ? 3.0f / 8.0f : 0.0f;
             return mVec4(v, v, v, 1);
         },
         TEXFMT_RGBA32F, TOL_FP32},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* f = AddClassNode(p, c.Class, c.Set);
        std::vector<STexProcNode*> sources = {Source(p, Image(W, H, c.In))};
        if (c.Second)
            sources.push_back(Source(p, Image(W, H, c.Second)));
        SPix got = RunFilter(p, f, sources);
        ASSERT_FALSE(got.Px.empty()) << c.Name << ": " << f->Status.Str();
        EXPECT_EQ(f->Output->Format, c.Format) << c.Name;
        SPix want = Image(W, H, c.Want);
        // The ramp wraps at the image's sides; only the inner columns see it as a ramp.
        const bool ramp = std::string(c.Name).find("ramp") != std::string::npos;
        for (int y = 0; y < (int)H; ++y)
            for (int x = ramp ? 1 : 0; x < (int)W - (ramp ? 1 : 0); ++x)
                for (int k = 0; k < 4; ++k)
                    ASSERT_NEAR((&got.At(x, y).x)[k], (&want.At(x, y).x)[k], c.Tol * (1 + std::fabs((&want.At(x, y).x)[k])))
                        << c.Name << " at " << x << "," << y << " channel " << k;
    }
}

TEST_F(FiltersTest, ChoiceRowsWithStoredValuesPastTheirListsStillOfferTheListAndStoreTheChoice)
{
    const float DT = 0.01f;
    const int FADE_FRAMES = 100;
    const s32 CHOSEN = 1;
    struct SCase
    {
        const char* Class;
        const char* Param;
        s32 Stored;
        u32 Row, Options;
    } cases[] = {
        {"STexNode_Distort", "DistMode", 9, 3, 6},
        {"STexNode_Distort", "OORMode", -3, 4, 3},
        {"STexNode_LensDistort", "OORMode", 7, 5, 3},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        p.AnchorRight = p.AnchorBottom = 1;
        p.UpdateRect();
        STexProcNode* node = AddClassNode(p, c.Class, [&](TArray<SPropDesc>& l) { FindPropDesc(l, c.Param)->AsInt() = c.Stored; });
        node->SetPosition(200, 100);
        for (int i = 0; i < FADE_FRAMES; ++i)
        {
            GUITest_Tick(0, 0, false);
            SGUILayer::DrawTree(&p, DT);
        }
        const mRect panel{node->Rect.x0 + NODE_PIN_MARGIN, node->Rect.y0 + NODE_CAPTION_HEIGHT,
                          node->Rect.x1 - NODE_PIN_MARGIN, node->Rect.y1};
        const mRect field = NodeRowField(panel, c.Row);
        for (bool down : {false, true, false})
        {
            GUITest_Tick((field.x0 + field.x1) * 0.5f, (field.y0 + field.y1) * 0.5f, down);
            SGUILayer::DrawTree(&p, DT);
        }
        ASSERT_NE(p.NodeMenuSlot, nullptr) << c.Class << " " << c.Param;
        EXPECT_EQ(p.NodeMenuSlot->Options.Count(), c.Options) << c.Class << " " << c.Param;
        p.NodeMenuSlot->OnSelect(CHOSEN);
        TArray<SPropDesc> stored;
        InstantiatePropTable(stored, node->ClassProps());
        node->StoreParams(stored);
        EXPECT_EQ(FindPropDesc(stored, c.Param)->AsInt(), CHOSEN) << c.Class << " " << c.Param;
        GUITest_ResetInput();
    }
}
