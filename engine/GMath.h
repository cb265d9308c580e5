// Vector, quaternion and matrix types, geometry helpers and float images.
// Angles are radians; mMat4 keeps the OpenGL layout (element 4c + r is column c, row r).
#pragma once

#include "GTemplate.h"
#include "GameSys.h"

#include <stdint.h>

struct mVec2
{
    float x, y;

    mVec2() : x(0), y(0) {}
    mVec2(float ax, float ay) : x(ax), y(ay) {}
    explicit mVec2(float v) : x(v), y(v) {}

    void Set(float ax, float ay)
    {
        x = ax;
        y = ay;
    }

    mVec2 operator+(const mVec2& o) const { return mVec2(x + o.x, y + o.y); }
    mVec2 operator-(const mVec2& o) const { return mVec2(x - o.x, y - o.y); }
    mVec2 operator-() const { return mVec2(-x, -y); }
    mVec2& operator+=(const mVec2& o)
    {
        x += o.x;
        y += o.y;
        return *this;
    }
    mVec2& operator-=(const mVec2& o)
    {
        x -= o.x;
        y -= o.y;
        return *this;
    }
    mVec2 operator*(float s) const { return mVec2(x * s, y * s); }
    mVec2& operator*=(float s)
    {
        x *= s;
        y *= s;
        return *this;
    }
    // Division multiplies by the reciprocal, as everywhere in the engine.
    mVec2 operator/(float s) const
    {
        float r = 1.0f / s;
        return mVec2(x * r, y * r);
    }
    mVec2& operator/=(float s)
    {
        float r = 1.0f / s;
        x *= r;
        y *= r;
        return *this;
    }
    // Dot product.
    float operator*(const mVec2& o) const { return x * o.x + y * o.y; }

    float Dot(const mVec2& o) const { return x * o.x + y * o.y; }
    float Length() const;
    void Normalize();
    mVec2 NormalizedCopy() const;
};

struct mVec3
{
    float x, y, z;

    mVec3() : x(0), y(0), z(0) {}
    mVec3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}
    explicit mVec3(float v) : x(v), y(v), z(v) {}

    void Set(float ax, float ay, float az)
    {
        x = ax;
        y = ay;
        z = az;
    }

    mVec3 operator+(const mVec3& o) const { return mVec3(x + o.x, y + o.y, z + o.z); }
    mVec3 operator-(const mVec3& o) const { return mVec3(x - o.x, y - o.y, z - o.z); }
    mVec3 operator-() const { return mVec3(-x, -y, -z); }
    mVec3& operator+=(const mVec3& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    mVec3& operator-=(const mVec3& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    mVec3 operator*(float s) const { return mVec3(x * s, y * s, z * s); }
    mVec3& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    mVec3 operator/(float s) const
    {
        float r = 1.0f / s;
        return mVec3(x * r, y * r, z * r);
    }
    mVec3& operator/=(float s)
    {
        float r = 1.0f / s;
        x *= r;
        y *= r;
        z *= r;
        return *this;
    }
    // Dot product.
    float operator*(const mVec3& o) const { return x * o.x + y * o.y + z * o.z; }
    // Cross product.
    mVec3 operator^(const mVec3& o) const { return Cross(o); }

    float Dot(const mVec3& o) const { return x * o.x + y * o.y + z * o.z; }
    mVec3 Cross(const mVec3& o) const
    {
        return mVec3(y * o.z - o.y * z, z * o.x - x * o.z, x * o.y - y * o.x);
    }
    float Length() const;
    float LengthSq() const { return x * x + y * y + z * z; }
    void Normalize();
    mVec3 NormalizedCopy() const;
};

struct mVec4
{
    float x, y, z, w;

    mVec4() : x(0), y(0), z(0), w(0) {}
    mVec4(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    mVec4(const mVec3& v, float aw) : x(v.x), y(v.y), z(v.z), w(aw) {}
    explicit mVec4(float v) : x(v), y(v), z(v), w(v) {}

    void Set(float ax, float ay, float az, float aw)
    {
        x = ax;
        y = ay;
        z = az;
        w = aw;
    }
    mVec3 XYZ() const { return mVec3(x, y, z); }

    mVec4 operator+(const mVec4& o) const { return mVec4(x + o.x, y + o.y, z + o.z, w + o.w); }
    mVec4 operator-(const mVec4& o) const { return mVec4(x - o.x, y - o.y, z - o.z, w - o.w); }
    mVec4 operator-() const { return mVec4(-x, -y, -z, -w); }
    mVec4& operator+=(const mVec4& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        w += o.w;
        return *this;
    }
    mVec4& operator-=(const mVec4& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        w -= o.w;
        return *this;
    }
    mVec4 operator*(float s) const { return mVec4(x * s, y * s, z * s, w * s); }
    mVec4& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        w *= s;
        return *this;
    }
    mVec4 operator/(float s) const
    {
        float r = 1.0f / s;
        return mVec4(x * r, y * r, z * r, w * r);
    }
    mVec4& operator/=(float s)
    {
        float r = 1.0f / s;
        x *= r;
        y *= r;
        z *= r;
        w *= r;
        return *this;
    }
    float operator*(const mVec4& o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }

    float Dot(const mVec4& o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }
    float Length() const;
    void Normalize();
    mVec4 NormalizedCopy() const;
};

inline mVec2 operator*(float s, const mVec2& v)
{
    return v * s;
}
inline mVec3 operator*(float s, const mVec3& v)
{
    return v * s;
}
inline mVec4 operator*(float s, const mVec4& v)
{
    return v * s;
}

struct mMat4
{
    // Element 4c + r holds column c, row r.
    float m[16];

    // A new matrix is the identity.
    mMat4();
    explicit mMat4(const float* values);

    float& operator[](int i) { return m[i]; }
    float operator[](int i) const { return m[i]; }

    void SetIdentity();
    static mMat4 Identity() { return mMat4(); }
};

struct mQuat
{
    float x, y, z, w;

    // The identity rotation.
    mQuat() : x(0), y(0), z(0), w(1) {}
    mQuat(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    // Rotation qZ(b) * qY(a) * qX(c): b about Z, a about Y, c about X.
    mQuat(float a, float b, float c);
    // Rotation by angle about axis; the axis is used as given.
    mQuat(float angle, const mVec3& axis);

    mQuat operator*(const mQuat& o) const;
    mQuat& operator*=(const mQuat& o)
    {
        *this = *this * o;
        return *this;
    }

    float Length() const;
    void Normalize();
    mQuat NormalizedCopy() const;

    // Column-major storage of the rows of the standard rotation matrix: read in the
    // OpenGL layout it is the transposed rotation, which M_RotateVec relies on.
    mMat4 ToMatrix() const;

    // Spherical interpolation towards `to`; the result is not normalised.
    mQuat Slerp(const mQuat& to, float t) const;
    static mQuat Slerp(const mQuat& from, const mQuat& to, float t) { return from.Slerp(to, t); }
};

struct mPlane
{
    mVec3 normal;
    float distance;

    mPlane() : distance(0) {}
    mPlane(const mVec3& n, float d) : normal(n), distance(d) {}

    mPlane operator-() const { return mPlane(-normal, -distance); }
    // Signed distance of a point (positive on the side the normal faces).
    float Distance(const mVec3& p) const { return normal.Dot(p) - distance; }
};

// Matrices
mMat4 M_MatMul(const mMat4& a, const mMat4& b);
mVec4 M_MatMulVec4(const mMat4& m, const mVec4& v);
mMat4 M_TranslationMatrix(const mVec3& t);
mMat4 M_ScaleMatrix(const mVec3& s);
mMat4 M_ComposeMatrix(const mVec3& scale, const mMat4& rotation, const mVec3& translation);
mMat4 M_ComposeMatrixQuat(const mVec3& scale, const mQuat& rotation, const mVec3& translation);
mMat4 M_PerspectiveMatrix(float fovY, float aspect, float zNear, float zFar);
mMat4 M_OrthoMatrix(float left, float right, float top, float bottom, float zNear, float zFar);
mMat4 M_LookAtMatrix(const mVec3& eye, const mVec3& target, const mVec3& up);

// Applies the transposed rotation of q (the inverse rotation for a unit quaternion).
mVec3 M_RotateVec(const mVec3& v, const mQuat& q);

// Planes and polygons
bool M_PlaneEquals(const mPlane& p, const mPlane& q);
int M_PolygonPlane(const TArray<mVec3>& points, mPlane& out);
int M_CleanPolygon(TArray<mVec3>& points);

// Curves and angles
float M_BezierInterp(float p0, float p1, float p2, float p3, float x0, float x1, float x);
mVec2 M_BezierInterp(const mVec2& p0, const mVec2& p1, const mVec2& p2, const mVec2& p3, float x0, float x1,
                     float x);
mVec3 M_BezierInterp(const mVec3& p0, const mVec3& p1, const mVec3& p2, const mVec3& p3, float x0, float x1,
                     float x);
mVec3 SphericalToDirection(float a, float b);
mVec3 DirectionToSpherical(const mVec3& v);

// Numbers
uint32_t PackColor(float r, float g, float b, float a);
float RandUnit();
uint32_t M_Log2(uint32_t x);
// Float to integer with NaN mapped to 0 and out-of-range values clamped.
int32_t M_FloatToInt(float f);

// True when the handle is null or the object it points at starts with a null word.
inline bool IsNullRef(const void* handle)
{
    return !handle || *(void* const*)handle == nullptr;
}

// A CPU image of four floats (r, g, b, a) per texel, row by row.
class FloatImage
{
  public:
    uint32_t Width;
    uint32_t Height;
    TPodArray<mVec4> Data; // texel (x, y) at y * Width + x

    FloatImage() : Width(0), Height(0) {}

    // Texel (x, y); outside the image this is a fatal assertion.
    mVec4& At(uint32_t x, uint32_t y);
    const mVec4& At(uint32_t x, uint32_t y) const;

    // Changes the size keeping the overlapping texels in place; with zeroFill the new
    // texels are zero. Returns false (image unchanged) when w * h texels cannot be held.
    bool Resize(uint32_t w, uint32_t h, bool zeroFill);

    // Bilinear sample at normalised (u, v) in 0..1, (1, 1) being the last texel of the last
    // row; outside that range (or NaN, or an empty image) out is zero.
    void SampleBilinear(mVec4& out, float u, float v) const;
};
