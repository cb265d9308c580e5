#include "TestSupport.h"

#include "GMath.h"

#include <math.h>
#include <unistd.h>

static const float PI = 3.14159265358979f;

static void ExpectVec(const mVec3& v, float x, float y, float z, float eps = 1e-5f)
{
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

// Standard 3x3 rotation matrices in double precision, as an independent reference.
struct Rot
{
    double m[3][3];
};
static Rot Mul(const Rot& a, const Rot& b)
{
    Rot r = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}
static Rot RotX(double t)
{
    return {{{1, 0, 0}, {0, cos(t), -sin(t)}, {0, sin(t), cos(t)}}};
}
static Rot RotY(double t)
{
    return {{{cos(t), 0, sin(t)}, {0, 1, 0}, {-sin(t), 0, cos(t)}}};
}
static Rot RotZ(double t)
{
    return {{{cos(t), -sin(t), 0}, {sin(t), cos(t), 0}, {0, 0, 1}}};
}
// ToMatrix stores row r, column c of the rotation at element 4r + c.
static void ExpectRotation(const mMat4& m, const Rot& r)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(m.m[4 * i + j], r.m[i][j], 1e-5) << "row " << i << " column " << j;
    EXPECT_EQ(m.m[3], 0.0f);
    EXPECT_EQ(m.m[7], 0.0f);
    EXPECT_EQ(m.m[11], 0.0f);
    EXPECT_EQ(m.m[12], 0.0f);
    EXPECT_EQ(m.m[13], 0.0f);
    EXPECT_EQ(m.m[14], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
}

static bool IsFinite(const mQuat& q)
{
    return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

// ---------------------------------------------------------------------------------------------
// Vectors

TEST(GMath, VectorArithmeticAndProducts)
{
    mVec3 a(1, 2, 3), b(4, -5, 6);
    ExpectVec(a + b, 5, -3, 9);
    ExpectVec(a - b, -3, 7, -3);
    ExpectVec(a * 2.0f, 2, 4, 6);
    ExpectVec(a / 4.0f, 0.25f, 0.5f, 0.75f);
    EXPECT_FLOAT_EQ(a * b, 4 - 10 + 18);
    // (ay bz - by az, az bx - ax bz, ax by - ay bx)
    ExpectVec(a ^ b, 2 * 6 - (-5) * 3, 3 * 4 - 1 * 6, 1 * (-5) - 2 * 4);
    ExpectVec(mVec3(1, 0, 0) ^ mVec3(0, 1, 0), 0, 0, 1);
    a += b;
    a -= mVec3(1, 1, 1);
    ExpectVec(a, 4, -4, 8);
    EXPECT_FLOAT_EQ(mVec3(2, 3, 6).Length(), 7.0f);

    mVec2 v(3, 4);
    EXPECT_FLOAT_EQ(v.Length(), 5.0f);
    EXPECT_FLOAT_EQ(v.NormalizedCopy().x, 0.6f);
    EXPECT_FLOAT_EQ(v * mVec2(1, 1), 7.0f);
    mVec4 w(1, 2, 2, 4);
    EXPECT_FLOAT_EQ(w.Length(), 5.0f);
    EXPECT_FLOAT_EQ((w / 5.0f).w, 0.8f);
}

TEST(GMath, NormalisingZeroGivesZeroNotNaN)
{
    mVec2 v2;
    mVec2 n2 = v2.NormalizedCopy();
    EXPECT_EQ(n2.x, 0.0f);
    EXPECT_EQ(n2.y, 0.0f);
    v2.Normalize();
    EXPECT_EQ(v2.x, 0.0f);

    mVec3 v3;
    v3.Normalize();
    ExpectVec(v3, 0, 0, 0, 0);
    ExpectVec(mVec3().NormalizedCopy(), 0, 0, 0, 0);

    mVec4 v4 = mVec4().NormalizedCopy();
    EXPECT_EQ(v4.w, 0.0f);
    EXPECT_FALSE(std::isnan(v4.x));

    mQuat q(0, 0, 0, 0);
    q.Normalize();
    EXPECT_EQ(q.w, 0.0f);
    EXPECT_TRUE(IsFinite(q));

    mVec3 n = mVec3(0, 3, 4).NormalizedCopy();
    ExpectVec(n, 0, 0.6f, 0.8f);
}

// ---------------------------------------------------------------------------------------------
// Quaternions

TEST(GMath, EulerQuaternionIsZThenYThenXProduct)
{
    EXPECT_FLOAT_EQ(mQuat(0.0f, 0.0f, 0.0f).w, 1.0f);
    ExpectRotation(mQuat(0.0f, 0.0f, 0.0f).ToMatrix(), RotX(0));

    mQuat z(0.0f, PI / 2, 0.0f);
    EXPECT_NEAR(z.z, sqrt(0.5), 1e-6);
    EXPECT_NEAR(z.w, sqrt(0.5), 1e-6);
    EXPECT_NEAR(z.x, 0, 1e-7);
    EXPECT_NEAR(z.y, 0, 1e-7);

    const float a = 0.7f, b = -1.1f, c = 2.3f;
    ExpectRotation(mQuat(a, b, c).ToMatrix(), Mul(Mul(RotZ(b), RotY(a)), RotX(c)));
    ExpectRotation(mQuat(0.4f, mVec3(0, 1, 0)).ToMatrix(), RotY(0.4));
}

TEST(GMath, QuaternionProductComposesRotations)
{
    mQuat p(0.3f, mVec3(1, 0, 0)), q(-0.9f, mVec3(0, 0, 1));
    ExpectRotation((p * q).ToMatrix(), Mul(RotX(0.3), RotZ(-0.9)));
    mQuat r = p;
    r *= q;
    EXPECT_FLOAT_EQ(r.w, (p * q).w);
    // Hamilton product of basis units: i * j = k.
    mQuat k = mQuat(1, 0, 0, 0) * mQuat(0, 1, 0, 0);
    EXPECT_FLOAT_EQ(k.z, 1.0f);
    EXPECT_FLOAT_EQ(k.w, 0.0f);
    mQuat big(0, 0, 3, 4);
    mQuat n = big.NormalizedCopy();
    EXPECT_FLOAT_EQ(n.z, 0.6f);
    EXPECT_FLOAT_EQ(n.w, 0.8f);
}

TEST(GMath, RotateVecAppliesTheTransposedRotation)
{
    mQuat z90(PI / 2, mVec3(0, 0, 1));
    ExpectVec(M_RotateVec(mVec3(1, 0, 0), z90), 0, -1, 0);
    ExpectVec(M_RotateVec(mVec3(0, 1, 0), z90), 1, 0, 0);
    // Rotating back with the conjugate undoes it.
    mQuat any(0.4f, 1.2f, -0.3f);
    mQuat conj(-any.x, -any.y, -any.z, any.w);
    mVec3 v(0.3f, -2, 5);
    mVec3 back = M_RotateVec(M_RotateVec(v, any), conj);
    ExpectVec(back, v.x, v.y, v.z, 1e-4f);
}

TEST(GMath, SlerpInterpolatesAndNeverGivesNaN)
{
    mQuat id;
    mQuat z90(PI / 2, mVec3(0, 0, 1));
    mQuat half = id.Slerp(z90, 0.5f);
    mQuat z45(PI / 4, mVec3(0, 0, 1));
    EXPECT_NEAR(half.z, z45.z, 1e-5);
    EXPECT_NEAR(half.w, z45.w, 1e-5);
    EXPECT_NEAR(mQuat::Slerp(id, z90, 1.0f).z, z90.z, 1e-5);

    // Equal rotations whose dot product rounds above 1.
    mQuat q(0.1f, 0.7f, -0.4f);
    q.Normalize();
    for (float t : {0.0f, 0.3f, 1.0f})
    {
        mQuat s = q.Slerp(q, t);
        ASSERT_TRUE(IsFinite(s)) << t;
        EXPECT_NEAR(s.x, q.x, 1e-5);
        EXPECT_NEAR(s.w, q.w, 1e-5);
    }
    mQuat scaled(q.x * 1.0001f, q.y * 1.0001f, q.z * 1.0001f, q.w * 1.0001f);
    EXPECT_TRUE(IsFinite(q.Slerp(scaled, 0.5f)));

    // The negated quaternion is the same rotation: the shorter way is taken.
    mQuat neg(-z90.x, -z90.y, -z90.z, -z90.w);
    mQuat viaNeg = id.Slerp(neg, 0.5f);
    EXPECT_NEAR(viaNeg.z, z45.z, 1e-5);
    EXPECT_NEAR(viaNeg.w, z45.w, 1e-5);
}

// ---------------------------------------------------------------------------------------------
// Matrices

TEST(GMath, MatMulAppliesTheFirstMatrixFirst)
{
    mMat4 t = M_TranslationMatrix(mVec3(1, 2, 3));
    EXPECT_EQ(t.m[12], 1.0f);
    EXPECT_EQ(t.m[13], 2.0f);
    EXPECT_EQ(t.m[14], 3.0f);
    mMat4 r = mQuat(0.0f, PI / 2, 0.0f).ToMatrix();
    mVec4 p(1, 0, 0, 1);
    mVec4 viaProduct = M_MatMulVec4(M_MatMul(t, r), p);
    mVec4 stepByStep = M_MatMulVec4(r, M_MatMulVec4(t, p));
    EXPECT_NEAR(viaProduct.x, stepByStep.x, 1e-5);
    EXPECT_NEAR(viaProduct.y, stepByStep.y, 1e-5);
    EXPECT_NEAR(viaProduct.z, stepByStep.z, 1e-5);
    // Translate (1,0,0) to (2,2,3), then the transposed 90 degree turn about Z: (2,-2,3).
    EXPECT_NEAR(viaProduct.x, 2, 1e-5);
    EXPECT_NEAR(viaProduct.y, -2, 1e-5);
    EXPECT_NEAR(viaProduct.z, 3, 1e-5);
    EXPECT_NEAR(viaProduct.w, 1, 1e-6);
}

TEST(GMath, ComposeScalesThenRotatesThenTranslates)
{
    mQuat q(0.5f, -0.2f, 1.0f);
    mVec3 s(2, 3, 0.5f), t(10, -4, 7), p(1, -1, 2);
    mMat4 m = M_ComposeMatrixQuat(s, q, t);
    mVec3 got = M_MatMulVec4(m, mVec4(p, 1)).XYZ();
    mVec3 want = M_RotateVec(mVec3(p.x * s.x, p.y * s.y, p.z * s.z), q) + t;
    ExpectVec(got, want.x, want.y, want.z, 1e-4f);
    mMat4 m2 = M_ComposeMatrix(s, q.ToMatrix(), t);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m.m[i], m2.m[i]);
}

TEST(GMath, PerspectiveAndOrthoMatrices)
{
    mMat4 p = M_PerspectiveMatrix(PI / 2, 1, 1, 1000);
    EXPECT_NEAR(p.m[0], 1, 1e-6);
    EXPECT_NEAR(p.m[5], 1, 1e-6);
    EXPECT_EQ(p.m[11], -1.0f);
    EXPECT_EQ(p.m[15], 0.0f);
    EXPECT_NEAR(p.m[10], -1001.0 / 999.0, 1e-6);
    EXPECT_NEAR(p.m[14], -2000.0 / 999.0, 1e-5);
    // The near plane maps to depth -1, the far plane to +1.
    mVec4 n = M_MatMulVec4(p, mVec4(0, 0, -1, 1));
    mVec4 f = M_MatMulVec4(p, mVec4(0, 0, -1000, 1));
    EXPECT_NEAR(n.z / n.w, -1, 1e-5);
    EXPECT_NEAR(f.z / f.w, 1, 1e-4);

    // Screen-style ortho: top row 0 maps to +1, bottom row 600 to -1.
    mMat4 o = M_OrthoMatrix(0, 800, 0, 600, -1, 1);
    mVec4 tl = M_MatMulVec4(o, mVec4(0, 0, 0, 1));
    mVec4 br = M_MatMulVec4(o, mVec4(800, 600, 0, 1));
    EXPECT_NEAR(tl.x, -1, 1e-6);
    EXPECT_NEAR(tl.y, 1, 1e-6);
    EXPECT_NEAR(br.x, 1, 1e-6);
    EXPECT_NEAR(br.y, -1, 1e-6);
    EXPECT_EQ(o.m[15], 1.0f);
}

TEST(GMath, LookAtMovesTheEyeToTheOriginLookingDownMinusZ)
{
    mVec3 eye(3, 4, 5), target(3, 4, -5), up(0, 1, 0);
    mMat4 v = M_LookAtMatrix(eye, target, up);
    ExpectVec(M_MatMulVec4(v, mVec4(eye, 1)).XYZ(), 0, 0, 0);
    ExpectVec(M_MatMulVec4(v, mVec4(target, 1)).XYZ(), 0, 0, -10);
    ExpectVec(M_MatMulVec4(v, mVec4(eye + up, 1)).XYZ(), 0, 1, 0);
    ExpectVec(M_MatMulVec4(v, mVec4(eye + mVec3(1, 0, 0), 1)).XYZ(), 1, 0, 0);

    // Orbit camera as the mesh preview uses it: up along Z.
    mVec3 e2 = SphericalToDirection(0.3f, 1.0f) * 50.0f;
    mMat4 v2 = M_LookAtMatrix(e2, mVec3(0, 0, 0), mVec3(0, 0, 1));
    ExpectVec(M_MatMulVec4(v2, mVec4(0, 0, 0, 1)).XYZ(), 0, 0, -50, 1e-4f);
    // A zero-length view direction gives finite numbers.
    mMat4 same = M_LookAtMatrix(eye, eye, up);
    for (float x : same.m)
        EXPECT_TRUE(std::isfinite(x));
}

// ---------------------------------------------------------------------------------------------
// Planes and polygons

static TArray<mVec3> Poly(std::initializer_list<mVec3> pts)
{
    TArray<mVec3> a;
    for (const mVec3& p : pts)
        a.Add(p);
    return a;
}

TEST(GMath, PolygonPlane)
{
    mPlane pl;
    ASSERT_EQ(M_PolygonPlane(Poly({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}), pl), 1);
    ExpectVec(pl.normal, 0, 0, 1);
    EXPECT_FLOAT_EQ(pl.distance, 5);

    EXPECT_EQ(M_PolygonPlane(Poly({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {1, 1, 5.004f}}), pl), 1);
    EXPECT_EQ(M_PolygonPlane(Poly({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {1, 1, 5.01f}}), pl), 0);
    EXPECT_EQ(M_PolygonPlane(Poly({{0, 0, 0}, {1, 0, 0}}), pl), 0);

    // Collinear and coincident points span no plane.
    mPlane untouched(mVec3(1, 2, 3), 4);
    pl = untouched;
    EXPECT_EQ(M_PolygonPlane(Poly({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}), pl), 0);
    EXPECT_EQ(M_PolygonPlane(Poly({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}), pl), 0);
    EXPECT_TRUE(std::isfinite(pl.normal.x));

    mPlane a(mVec3(0, 0, 1), 5), b(mVec3(0, 0.00005f, 1), 5.00005f), c(mVec3(0, 0, 1), 5.001f);
    EXPECT_TRUE(M_PlaneEquals(a, b));
    EXPECT_FALSE(M_PlaneEquals(a, c));
    EXPECT_TRUE(M_PlaneEquals(-a, mPlane(mVec3(0, 0, -1), -5)));
}

TEST(GMath, CleanPolygon)
{
    TArray<mVec3> sq = Poly({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    EXPECT_EQ(M_CleanPolygon(sq), 1);
    ASSERT_EQ(sq.count, 4u);
    ExpectVec(sq[1], 1, 0, 0);
    ExpectVec(sq[2], 1, 1, 0);

    TArray<mVec3> line = Poly({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    EXPECT_EQ(M_CleanPolygon(line), 0);
    ASSERT_EQ(line.count, 2u);
    ExpectVec(line[0], 0, 0, 0);
    ExpectVec(line[1], 2, 0, 0);

    // A point in the middle of an edge, and a spike out and back.
    TArray<mVec3> mid = Poly({{0, 0, 0}, {0.5f, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    EXPECT_EQ(M_CleanPolygon(mid), 1);
    EXPECT_EQ(mid.count, 4u);
    TArray<mVec3> spike = Poly({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {3, 1, 0}, {1, 1, 0}, {0, 1, 0}});
    EXPECT_EQ(M_CleanPolygon(spike), 1);
    ASSERT_EQ(spike.count, 4u);
    ExpectVec(spike[3], 0, 1, 0);

    TArray<mVec3> tri = Poly({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    EXPECT_EQ(M_CleanPolygon(tri), 1);
    EXPECT_EQ(tri.count, 3u);
}

// ---------------------------------------------------------------------------------------------
// Curves, angles and numbers

TEST(GMath, BezierMatchesTheBernsteinForm)
{
    const float p[4] = {0.5f, 3.0f, -2.0f, 1.0f};
    for (float x = 2.0f; x <= 6.0f; x += 0.5f)
    {
        double u = (x - 2.0) / 4.0;
        double want = p[0] * pow(1 - u, 3) + 3 * p[1] * u * pow(1 - u, 2) + 3 * p[2] * u * u * (1 - u) +
                      p[3] * pow(u, 3);
        EXPECT_NEAR(M_BezierInterp(p[0], p[1], p[2], p[3], 2.0f, 6.0f, x), want, 1e-5) << x;
    }
    EXPECT_EQ(M_BezierInterp(7.0f, 1.0f, 2.0f, 3.0f, 4.0f, 4.0f, 9.0f), 7.0f);
    mVec2 v = M_BezierInterp(mVec2(0, 0), mVec2(1, 2), mVec2(2, 2), mVec2(3, 0), 0, 1, 0.5f);
    EXPECT_FLOAT_EQ(v.x, 1.5f);
    EXPECT_FLOAT_EQ(v.y, 1.5f);
}

TEST(GMath, SphericalRoundTrip)
{
    ExpectVec(SphericalToDirection(0, PI / 2), 1, 0, 0);
    ExpectVec(SphericalToDirection(PI / 2, PI / 2), 0, 1, 0);
    ExpectVec(SphericalToDirection(1.0f, 0), 0, 0, 1);
    mVec3 s = DirectionToSpherical(SphericalToDirection(0.8f, 1.3f) * 4.0f);
    ExpectVec(s, 0.8f, 1.3f, 4.0f);
}

TEST(GMath, PackColorClampsAndGuardsNaN)
{
    EXPECT_EQ(PackColor(1, 0, 0, 0.5f), 0x7F0000FFu);
    EXPECT_EQ(PackColor(2, -1, 0.5f, 1), 0xFF7F00FFu);
    EXPECT_EQ(PackColor(NAN, 1, NAN, INFINITY), 0xFF00FF00u);
    EXPECT_EQ(PackColor(-INFINITY, 0, 0, 0), 0u);
}

TEST(GMath, FloatToIntGuardsNaNAndRange)
{
    EXPECT_EQ(M_FloatToInt(NAN), 0);
    EXPECT_EQ(M_FloatToInt(3e9f), INT32_MAX);
    EXPECT_EQ(M_FloatToInt(-3e9f), INT32_MIN);
    EXPECT_EQ(M_FloatToInt(INFINITY), INT32_MAX);
    EXPECT_EQ(M_FloatToInt(-2.7f), -2);
    EXPECT_EQ(M_FloatToInt(2.7f), 2);
}

TEST(GMath, RandUnitFollowsTheEngineSequence)
{
    gSRand(77);
    u32 state = 77;
    for (int i = 0; i < 20; ++i)
    {
        state = state * 214013u + 2531011u;
        float want = (float)((state >> 16) & 0x7FFF) / 32767.0f;
        EXPECT_EQ(RandUnit(), want);
    }
}

TEST(GMath, Log2)
{
    EXPECT_EQ(M_Log2(1), 0u);
    EXPECT_EQ(M_Log2(6), 2u);
    EXPECT_EQ(M_Log2(1024), 10u);
    EXPECT_EQ(M_Log2(0x80000000u), 31u);
    EXPECT_EQ(M_Log2(0xFFFFFFFFu), 31u);
    TExpectBreak expect("x == 0");
    EXPECT_EQ(M_Log2(0), 0u);
}

TEST(GMath, IsNullRef)
{
    void* nothing = nullptr;
    int value = 1;
    void* something = &value;
    EXPECT_TRUE(IsNullRef(nullptr));
    EXPECT_TRUE(IsNullRef(&nothing));
    EXPECT_FALSE(IsNullRef(&something));
}

// ---------------------------------------------------------------------------------------------
// Float images

static void Fill(FloatImage& img)
{
    for (u32 y = 0; y < img.Height; ++y)
        for (u32 x = 0; x < img.Width; ++x)
            img.At(x, y) = mVec4((float)x, (float)y, 10.0f * y + x, 1.0f);
}

static void ExpectTexel(const FloatImage& img, u32 x, u32 y, float r, float g, float b, float a)
{
    const mVec4& t = img.At(x, y);
    EXPECT_EQ(t.x, r) << x << "," << y;
    EXPECT_EQ(t.y, g) << x << "," << y;
    EXPECT_EQ(t.z, b) << x << "," << y;
    EXPECT_EQ(t.w, a) << x << "," << y;
}

TEST(FloatImage, ResizeKeepsOverlapAndZeroFillsTheRest)
{
    FloatImage img;
    ASSERT_TRUE(img.Resize(4, 2, true));
    Fill(img);

    FloatImage narrow = img;
    ASSERT_TRUE(narrow.Resize(2, 2, false));
    EXPECT_EQ(narrow.Data.count, 4u);
    for (u32 y = 0; y < 2; ++y)
        for (u32 x = 0; x < 2; ++x)
            ExpectTexel(narrow, x, y, (float)x, (float)y, 10.0f * y + x, 1);

    FloatImage wide = img;
    ASSERT_TRUE(wide.Resize(6, 3, true));
    EXPECT_EQ(wide.Data.count, 18u);
    for (u32 y = 0; y < 3; ++y)
        for (u32 x = 0; x < 6; ++x)
            if (x < 4 && y < 2)
                ExpectTexel(wide, x, y, (float)x, (float)y, 10.0f * y + x, 1);
            else
                ExpectTexel(wide, x, y, 0, 0, 0, 0);

    // Wider but shorter, and narrower but taller.
    FloatImage a = wide;
    Fill(a);
    ASSERT_TRUE(a.Resize(9, 2, true));
    for (u32 x = 0; x < 9; ++x)
        ExpectTexel(a, x, 1, x < 6 ? (float)x : 0, x < 6 ? 1.0f : 0, x < 6 ? 10.0f + x : 0, x < 6 ? 1 : 0);
    FloatImage b = wide;
    Fill(b);
    ASSERT_TRUE(b.Resize(3, 5, true));
    for (u32 y = 0; y < 5; ++y)
        for (u32 x = 0; x < 3; ++x)
            if (y < 3)
                ExpectTexel(b, x, y, (float)x, (float)y, 10.0f * y + x, 1);
            else
                ExpectTexel(b, x, y, 0, 0, 0, 0);

    // Unchanged size is a no-op.
    const mVec4* before = b.Data.data;
    ASSERT_TRUE(b.Resize(3, 5, true));
    EXPECT_EQ(b.Data.data, before);
    ExpectTexel(b, 2, 2, 2, 2, 22, 1);
}

TEST(FloatImage, EmptySizesOnTheWayInAndOut)
{
    // Sizes with no texels (an empty image, zero width or zero height) touch no storage.
    FloatImage img;
    ASSERT_TRUE(img.Resize(0, 5, true));
    EXPECT_EQ(img.Height, 5u);
    EXPECT_EQ(img.Data.count, 0u);
    ASSERT_TRUE(img.Resize(5, 0, true));
    EXPECT_EQ(img.Data.count, 0u);
    ASSERT_TRUE(img.Resize(2, 3, true));
    for (u32 y = 0; y < 3; ++y)
        for (u32 x = 0; x < 2; ++x)
            ExpectTexel(img, x, y, 0, 0, 0, 0);
    img.At(1, 2) = mVec4(1, 2, 3, 4);
    ASSERT_TRUE(img.Resize(0, 3, true));
    EXPECT_EQ(img.Data.count, 0u);
    ASSERT_TRUE(img.Resize(3, 3, true));
    for (u32 y = 0; y < 3; ++y)
        for (u32 x = 0; x < 3; ++x)
            ExpectTexel(img, x, y, 0, 0, 0, 0);
}

TEST(FloatImage, OversizedImagesAndOutOfRangeTexelsAreRefused)
{
    FloatImage img;
    ASSERT_TRUE(img.Resize(3, 3, true));
    EXPECT_FALSE(img.Resize(0x10000, 0x10001, true));
    EXPECT_FALSE(img.Resize(0xFFFFFFFFu, 0xFFFFFFFFu, false));
    EXPECT_EQ(img.Width, 3u);
    EXPECT_EQ(img.Height, 3u);
    EXPECT_EQ(img.Data.count, 9u);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TTempDir dir;
    EXPECT_EXIT(
        {
            if (chdir(dir.Path().c_str()) != 0)
                _exit(1);
            TExpectBreak expect("x >= Width || y >= Height");
            img.At(3, 0).x = 1;
        },
        ::testing::ExitedWithCode(222), "ASSERT");
    EXPECT_EXIT(
        {
            if (chdir(dir.Path().c_str()) != 0)
                _exit(1);
            TExpectBreak expect("x >= Width || y >= Height");
            img.At(0, 3).x = 1;
        },
        ::testing::ExitedWithCode(222), "ASSERT");
}
