#include "GMath.h"

#include <math.h>
#include <string.h>

// ---------------------------------------------------------------- vectors

float mVec2::Length() const
{
    return gSqrt(x * x + y * y);
}

void mVec2::Normalize()
{
    *this = NormalizedCopy();
}

mVec2 mVec2::NormalizedCopy() const
{
    // A zero vector stays zero instead of becoming NaN.
    float len = Length();
    if (len == 0.0f)
        return *this;
    float r = 1.0f / len;
    return mVec2(x * r, y * r);
}

float mVec3::Length() const
{
    return gSqrt(x * x + y * y + z * z);
}

void mVec3::Normalize()
{
    *this = NormalizedCopy();
}

mVec3 mVec3::NormalizedCopy() const
{
    float len = Length();
    if (len == 0.0f)
        return *this;
    return *this / len;
}

float mVec4::Length() const
{
    return gSqrt(x * x + y * y + z * z + w * w);
}

void mVec4::Normalize()
{
    *this = NormalizedCopy();
}

mVec4 mVec4::NormalizedCopy() const
{
    float len = Length();
    if (len == 0.0f)
        return *this;
    return *this / len;
}

// ---------------------------------------------------------------- matrices

mMat4::mMat4()
{
    SetIdentity();
}

mMat4::mMat4(const float* values)
{
    memcpy(m, values, sizeof(m));
}

void mMat4::SetIdentity()
{
    memset(m, 0, sizeof(m));
    m[0] = m[5] = m[10] = m[15] = 1.0f;
}

mMat4 M_MatMul(const mMat4& a, const mMat4& b)
{
    mMat4 out;
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
        {
            float s = 0;
            for (int j = 0; j < 4; ++j)
                s += a.m[4 * r + j] * b.m[4 * j + k];
            out.m[4 * r + k] = s;
        }
    return out;
}

mVec4 M_MatMulVec4(const mMat4& m, const mVec4& v)
{
    float o[4];
    for (int i = 0; i < 4; ++i)
        o[i] = m.m[i] * v.x + m.m[4 + i] * v.y + m.m[8 + i] * v.z + m.m[12 + i] * v.w;
    return mVec4(o[0], o[1], o[2], o[3]);
}

mMat4 M_TranslationMatrix(const mVec3& t)
{
    mMat4 out;
    out.m[12] = t.x;
    out.m[13] = t.y;
    out.m[14] = t.z;
    return out;
}

mMat4 M_ScaleMatrix(const mVec3& s)
{
    mMat4 out;
    out.m[0] = s.x;
    out.m[5] = s.y;
    out.m[10] = s.z;
    return out;
}

mMat4 M_ComposeMatrix(const mVec3& scale, const mMat4& rotation, const mVec3& translation)
{
    return M_MatMul(M_MatMul(M_ScaleMatrix(scale), rotation), M_TranslationMatrix(translation));
}

mMat4 M_ComposeMatrixQuat(const mVec3& scale, const mQuat& rotation, const mVec3& translation)
{
    return M_ComposeMatrix(scale, rotation.ToMatrix(), translation);
}

mMat4 M_PerspectiveMatrix(float fovY, float aspect, float zNear, float zFar)
{
    mMat4 out;
    memset(out.m, 0, sizeof(out.m));
    float f = 1.0f / gTan(fovY * 0.5f);
    out.m[0] = f / aspect;
    out.m[5] = f;
    out.m[10] = (zNear + zFar) / (zNear - zFar);
    out.m[11] = -1.0f;
    out.m[14] = 2.0f * zNear * zFar / (zNear - zFar);
    return out;
}

mMat4 M_OrthoMatrix(float left, float right, float top, float bottom, float zNear, float zFar)
{
    mMat4 out;
    memset(out.m, 0, sizeof(out.m));
    out.m[0] = 2.0f / (right - left);
    out.m[5] = 2.0f / (top - bottom);
    out.m[10] = 2.0f / (zNear - zFar);
    out.m[12] = (left + right) / (left - right);
    out.m[13] = (top + bottom) / (bottom - top);
    out.m[14] = (zNear + zFar) / (zNear - zFar);
    out.m[15] = 1.0f;
    return out;
}

mMat4 M_LookAtMatrix(const mVec3& eye, const mVec3& target, const mVec3& up)
{
    mVec3 f = (target - eye).NormalizedCopy();
    mVec3 s = f.Cross(up).NormalizedCopy();
    mVec3 u = s.Cross(f);
    mMat4 rot;
    rot.m[0] = s.x;
    rot.m[4] = s.y;
    rot.m[8] = s.z;
    rot.m[1] = u.x;
    rot.m[5] = u.y;
    rot.m[9] = u.z;
    rot.m[2] = -f.x;
    rot.m[6] = -f.y;
    rot.m[10] = -f.z;
    // Translate the eye to the origin first, then rotate.
    return M_MatMul(M_TranslationMatrix(-eye), rot);
}

// ---------------------------------------------------------------- quaternions

mQuat::mQuat(float a, float b, float c)
{
    mQuat qz(0, 0, gSin(b * 0.5f), gCos(b * 0.5f));
    mQuat qy(0, gSin(a * 0.5f), 0, gCos(a * 0.5f));
    mQuat qx(gSin(c * 0.5f), 0, 0, gCos(c * 0.5f));
    *this = qz * qy * qx;
}

mQuat::mQuat(float angle, const mVec3& axis)
{
    float s = gSin(angle * 0.5f);
    x = axis.x * s;
    y = axis.y * s;
    z = axis.z * s;
    w = gCos(angle * 0.5f);
}

mQuat mQuat::operator*(const mQuat& q) const
{
    // Hamilton product: w = wp wq - vp.vq, v = wp vq + wq vp + vp x vq.
    return mQuat(w * q.x + q.w * x + (y * q.z - z * q.y), w * q.y + q.w * y + (z * q.x - x * q.z),
                 w * q.z + q.w * z + (x * q.y - y * q.x), w * q.w - (x * q.x + y * q.y + z * q.z));
}

float mQuat::Length() const
{
    return gSqrt(x * x + y * y + z * z + w * w);
}

void mQuat::Normalize()
{
    *this = NormalizedCopy();
}

mQuat mQuat::NormalizedCopy() const
{
    float len = Length();
    if (len == 0.0f)
        return *this;
    float r = 1.0f / len;
    return mQuat(x * r, y * r, z * r, w * r);
}

mMat4 mQuat::ToMatrix() const
{
    mMat4 out;
    out.m[0] = 1 - 2 * y * y - 2 * z * z;
    out.m[1] = 2 * x * y - 2 * z * w;
    out.m[2] = 2 * x * z + 2 * y * w;
    out.m[4] = 2 * x * y + 2 * z * w;
    out.m[5] = 1 - 2 * x * x - 2 * z * z;
    out.m[6] = 2 * y * z - 2 * x * w;
    out.m[8] = 2 * x * z - 2 * y * w;
    out.m[9] = 2 * y * z + 2 * x * w;
    out.m[10] = 1 - 2 * x * x - 2 * y * y;
    return out;
}

mQuat mQuat::Slerp(const mQuat& toIn, float t) const
{
    mQuat to = toIn;
    float d = x * to.x + y * to.y + z * to.z + w * to.w;
    if (d < 0)
    {
        d = -d;
        to = mQuat(-to.x, -to.y, -to.z, -to.w);
    }
    // Rounding can push the cosine of (nearly) equal rotations past 1; acos would give NaN.
    if (d > 1.0f)
        d = 1.0f;
    float a = gAcos(d);
    float sa = gSin(a);
    float k0, k1;
    if (sa <= 0.001f)
    {
        k0 = 1.0f - t;
        k1 = t;
    }
    else
    {
        k0 = gSin((1.0f - t) * a) / sa;
        k1 = gSin(t * a) / sa;
    }
    return mQuat(x * k0 + to.x * k1, y * k0 + to.y * k1, z * k0 + to.z * k1, w * k0 + to.w * k1);
}

mVec3 M_RotateVec(const mVec3& v, const mQuat& q)
{
    return M_MatMulVec4(q.ToMatrix(), mVec4(v, 1.0f)).XYZ();
}

// ---------------------------------------------------------------- planes and polygons

bool M_PlaneEquals(const mPlane& p, const mPlane& q)
{
    const float eps = 0.0001f;
    return gAbs(p.normal.x - q.normal.x) < eps && gAbs(p.normal.y - q.normal.y) < eps &&
           gAbs(p.normal.z - q.normal.z) < eps && gAbs(p.distance - q.distance) < eps;
}

int M_PolygonPlane(const TArray<mVec3>& points, mPlane& out)
{
    if (points.Count() < 3)
        return 0;
    mVec3 e1 = points[1] - points[0];
    mVec3 e2 = points[2] - points[0];
    mVec3 n = e1.Cross(e2);
    // Collinear (or coincident) points span no plane: their cross product is zero
    // up to rounding, and normalising it would give a meaningless direction.
    float len = n.Length();
    if (!(len > 1e-6f * e1.Length() * e2.Length()) || len == 0.0f)
        return 0;
    n = n / len;
    out.normal = n;
    out.distance = n.Dot(points[0]);
    for (uint32_t i = 3; i < points.Count(); ++i)
        if (gAbs(n.Dot(points[i]) - out.distance) > 0.005f)
            return 0;
    return 1;
}

static bool RemoveOnePoint(TArray<mVec3>& p)
{
    const uint32_t n = p.Count();
    // Points (nearly) on top of another point.
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = i + 1; j < n; ++j)
            if ((p[j] - p[i]).Length() < 0.0001f)
            {
                p.RemoveRange(j, j);
                return true;
            }
    // The middle point of two edges running along one line (straight on or back).
    // The polygon is closed; the first point is looked at last.
    for (uint32_t k = 1; k <= n; ++k)
    {
        uint32_t i = k % n;
        const mVec3 d1 = (p[i] - p[(i + n - 1) % n]).NormalizedCopy();
        const mVec3 d2 = (p[(i + 1) % n] - p[i]).NormalizedCopy();
        if (gAbs(d1.Dot(d2)) >= 0.9999f)
        {
            p.RemoveRange(i, i);
            return true;
        }
    }
    // Spikes: going out to a point and straight back.
    for (uint32_t i = 0; i + 2 < n; ++i)
        if (p[i].x == p[i + 2].x && p[i].y == p[i + 2].y && p[i].z == p[i + 2].z)
        {
            p.RemoveRange(i + 1, i + 2);
            return true;
        }
    return false;
}

int M_CleanPolygon(TArray<mVec3>& points)
{
    for (;;)
    {
        if (points.Count() < 3)
            return 0;
        if (!RemoveOnePoint(points))
            return 1;
    }
}

// ---------------------------------------------------------------- curves and angles

template <class T>
static T BezierAt(const T& p0, const T& p1, const T& p2, const T& p3, float x0, float x1, float x)
{
    if (x1 == x0)
        return p0;
    float u = (x - x0) / (x1 - x0);
    // de Casteljau: three rounds of linear interpolation.
    T a = p0 + (p1 - p0) * u;
    T b = p1 + (p2 - p1) * u;
    T c = p2 + (p3 - p2) * u;
    T d = a + (b - a) * u;
    T e = b + (c - b) * u;
    return d + (e - d) * u;
}

float M_BezierInterp(float p0, float p1, float p2, float p3, float x0, float x1, float x)
{
    return BezierAt(p0, p1, p2, p3, x0, x1, x);
}

mVec2 M_BezierInterp(const mVec2& p0, const mVec2& p1, const mVec2& p2, const mVec2& p3, float x0, float x1,
                     float x)
{
    return BezierAt(p0, p1, p2, p3, x0, x1, x);
}

mVec3 M_BezierInterp(const mVec3& p0, const mVec3& p1, const mVec3& p2, const mVec3& p3, float x0, float x1,
                     float x)
{
    return BezierAt(p0, p1, p2, p3, x0, x1, x);
}

mVec3 SphericalToDirection(float a, float b)
{
    return mVec3(gCos(a) * gSin(b), gSin(a) * gSin(b), gCos(b));
}

mVec3 DirectionToSpherical(const mVec3& v)
{
    return mVec3(gAtan2(v.y, v.x), gAtan2(gSqrt(v.x * v.x + v.y * v.y), v.z), v.Length());
}

// ---------------------------------------------------------------- numbers

static uint32_t UnitToByte(float v)
{
    // NaN fails both comparisons and ends up as 0.
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return (uint32_t)(v * 255.0f);
}

uint32_t PackColor(float r, float g, float b, float a)
{
    return UnitToByte(r) | (UnitToByte(g) << 8) | (UnitToByte(b) << 16) | (UnitToByte(a) << 24);
}

float RandUnit()
{
    return (float)gRand() / 32767.0f;
}

uint32_t M_Log2(uint32_t x)
{
    if (BREAK_IF(x == 0))
        return 0;
    uint32_t r = 0;
    while (x >>= 1)
        ++r;
    return r;
}

int32_t M_FloatToInt(float f)
{
    if (f != f)
        return 0;
    if (f >= 2147483648.0f)
        return INT32_MAX;
    if (f <= -2147483648.0f)
        return INT32_MIN;
    return (int32_t)f;
}

// ---------------------------------------------------------------- float images

mVec4& FloatImage::At(uint32_t x, uint32_t y)
{
    TEMPLATE_FATAL_INDEX(x >= Width || y >= Height);
    return Data[(size_t)y * Width + x];
}

const mVec4& FloatImage::At(uint32_t x, uint32_t y) const
{
    TEMPLATE_FATAL_INDEX(x >= Width || y >= Height);
    return Data[(size_t)y * Width + x];
}

bool FloatImage::Resize(uint32_t w, uint32_t h, bool zeroFill)
{
    if (w == Width && h == Height)
        return true;
    const uint64_t total = (uint64_t)w * h;
    // The texel count must fit the array's 32-bit count and the byte size must fit memory.
    if (total > 0xFFFFFFFFull || total > SIZE_MAX / sizeof(mVec4))
        return false;

    const uint32_t oldW = Width, oldH = Height;
    const uint32_t keepW = oldW < w ? oldW : w;
    const uint32_t keepH = oldH < h ? oldH : h;

    // Growing: make room first, then spread rows from the last to the first.
    // Shrinking: pack rows from the first to the last, then cut.
    if (total > (uint64_t)Data.Count())
        if (!Data.Resize((uint32_t)total))
            return false;
    mVec4* t = Data.data;
    if (w > oldW)
    {
        for (uint32_t y = keepH; y-- > 0;)
        {
            gMemMove((void*)(t + (size_t)y * w), (const void*)(t + (size_t)y * oldW), keepW * sizeof(mVec4));
            if (zeroFill)
                gMemSet((void*)(t + (size_t)y * w + keepW), 0, (size_t)(w - keepW) * sizeof(mVec4));
        }
    }
    else if (w < oldW)
    {
        for (uint32_t y = 0; y < keepH; ++y)
            gMemMove((void*)(t + (size_t)y * w), (const void*)(t + (size_t)y * oldW), keepW * sizeof(mVec4));
    }
    if (zeroFill && h > oldH)
        gMemSet((void*)(t + (size_t)keepH * w), 0, (size_t)(h - keepH) * w * sizeof(mVec4));
    if (total < (uint64_t)Data.Count())
        Data.Resize((uint32_t)total);
    Width = w;
    Height = h;
    return true;
}
