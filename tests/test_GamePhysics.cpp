// The physics world, contact dispatch, the debug drawer's lines and convex-hull reduction,
// checked against hand-made point sets, real bodies in a stepped world and drawn pixels.
#include "TestSupport.h"

#include <GL/glew.h>
#include <btBulletDynamicsCommon.h>
#include <math.h>

#include <algorithm>
#include <vector>

#include "GLTestContext.h"
#include "GameMaterial.h"
#include "GamePhysics.h"
#include "GameShader.h"

namespace
{
bool Contains(const std::vector<mVec3>& set, const mVec3& p)
{
    for (const mVec3& q : set)
        if (q.x == p.x && q.y == p.y && q.z == p.z)
            return true;
    return false;
}

std::vector<mVec3> ToVector(const TPodArray<mVec3>& a)
{
    return std::vector<mVec3>(a.begin(), a.end());
}

// The eight corners of the cube [-1, 1]^3.
std::vector<mVec3> CubeCorners()
{
    std::vector<mVec3> v;
    for (int i = 0; i < 8; ++i)
        v.push_back(mVec3(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f));
    return v;
}

// Points evenly spread over a sphere (golden-angle spiral).
std::vector<mVec3> SpherePoints(int n, float radius)
{
    std::vector<mVec3> v;
    const float golden = 2.39996323f;
    for (int i = 0; i < n; ++i)
    {
        const float y = 1.0f - 2.0f * (i + 0.5f) / n;
        const float r = sqrtf(1.0f - y * y);
        v.push_back(mVec3(cosf(golden * i) * r * radius, y * radius, sinf(golden * i) * r * radius));
    }
    return v;
}
} // namespace

TEST(GamePhysics, HullReductionKeepsTheHullVerticesOfTheInputOrRefusesFlatInput)
{
    std::vector<mVec3> cubeAndInside = CubeCorners(), line, flat, tilted;
    for (float t : {-0.5f, 0.0f, 0.25f, 0.75f})
        cubeAndInside.push_back(mVec3(t, t * 0.5f, -t));
    const std::vector<mVec3> tetra = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    std::vector<mVec3> tetraAndCentre = tetra;
    tetraAndCentre.push_back(mVec3(0.5f, 0.5f, 0.5f));
    for (int i = 0; i < 12; ++i)
    {
        line.push_back(mVec3(i * 0.5f, i * 0.25f, -i * 1.0f));
        flat.push_back(mVec3((float)(i % 4), (float)(i / 4), 0));
        tilted.push_back(mVec3((float)(i % 4), (float)(i / 4), 1.0f - (i % 4) - (i / 4))); // x + y + z = 1
    }
    struct SCase
    {
        const char* name;
        std::vector<mVec3> input;
        int result;
        std::vector<mVec3> expected; // empty: only "a subset of the input" is checked
    };
    const SCase cases[] = {
        {"cube corners and inner points", cubeAndInside, 1, CubeCorners()},
        {"tetrahedron", tetra, 1, tetra},
        {"tetrahedron and its centre", tetraAndCentre, 1, tetra},
        {"760 points on a sphere", SpherePoints(760, 3.0f), 1, {}},
        {"empty", {}, 0, {}},
        {"one point", {{1, 2, 3}}, 0, {}},
        {"triangle", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, 0, {}},
        {"one point repeated", {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, 0, {}},
        {"collinear", line, 0, {}},
        {"on the z = 0 plane", flat, 0, {}},
        {"on a tilted plane", tilted, 0, {}},
    };
    for (const SCase& c : cases)
    {
        TPodArray<mVec3> points;
        for (const mVec3& p : c.input)
            points.Add(p);
        ASSERT_EQ(ConvexHull_Reduce(points), c.result) << c.name;
        const std::vector<mVec3> out = ToVector(points);
        if (c.result == 0)
        {
            // Refused: the array is exactly what it was.
            EXPECT_TRUE(out.size() == c.input.size() &&
                        std::equal(out.begin(), out.end(), c.input.begin(), [](const mVec3& a, const mVec3& b) {
                            return a.x == b.x && a.y == b.y && a.z == b.z;
                        }))
                << c.name;
            continue;
        }
        EXPECT_GE(out.size(), 4u) << c.name;
        EXPECT_LE(out.size(), c.input.size()) << c.name;
        for (const mVec3& p : out)
            EXPECT_TRUE(Contains(c.input, p)) << c.name << ": " << p.x << " " << p.y << " " << p.z;
        if (!c.expected.empty())
        {
            EXPECT_EQ(out.size(), c.expected.size()) << c.name;
            for (const mVec3& p : c.expected)
                EXPECT_TRUE(Contains(out, p)) << c.name;
        }
    }
}

namespace
{
struct SRecordingHandler : IContactHandler
{
    const btCollisionObject* object;
    bool result;
    int calls = 0;
    const btCollisionObject* seen0 = nullptr;
    const btCollisionObject* seen1 = nullptr;

    SRecordingHandler(const btCollisionObject* o, bool r) : object(o), result(r) {}
    bool OnContactAdded(btManifoldPoint&, const btCollisionObject* o0, int, int, const btCollisionObject* o1, int,
                        int) override
    {
        ++calls;
        seen0 = o0;
        seen1 = o1;
        return result;
    }
    const btCollisionObject* GetCollisionObject() const override { return object; }
};

class GamePhysicsWorld : public testing::Test
{
protected:
    void SetUp() override { PhysicsInit(); }
    void TearDown() override { PhysicsShutdown(); }
};
} // namespace

TEST_F(GamePhysicsWorld, ContactsReachTheFirstHandlerOfEitherObjectThatTakesThem)
{
    btCollisionObject a, b, other;
    btBoxShape shape(btVector3(1, 1, 1));
    const btTransform identity = btTransform::getIdentity();
    const btCollisionObjectWrapper wa(nullptr, &shape, &a, identity, 0, 0);
    const btCollisionObjectWrapper wb(nullptr, &shape, &b, identity, 0, 0);

    struct SHandlerSpec
    {
        int object; // 0 a, 1 b, 2 other
        bool result;
        bool called;
    };
    struct SCase
    {
        const char* name;
        std::vector<SHandlerSpec> handlers; // added in this order: the last one is asked first
        bool expected;
    };
    const SCase cases[] = {
        {"no handlers", {}, false},
        {"a handler of another object", {{2, true, false}}, false},
        {"the second object's handler", {{1, true, true}}, true},
        {"a declines, b takes it", {{1, true, true}, {0, false, true}}, true},
        {"the newest of two on a ends the walk", {{0, true, false}, {0, true, true}}, true},
        {"everybody declines", {{0, false, true}, {2, true, false}, {1, false, true}}, false},
    };
    const btCollisionObject* objects[] = {&a, &b, &other};
    for (const SCase& c : cases)
    {
        std::vector<SRecordingHandler*> handlers;
        for (const SHandlerSpec& h : c.handlers)
        {
            handlers.push_back(new SRecordingHandler(objects[h.object], h.result));
            PhysicsAddContactHandler(handlers.back());
        }
        btManifoldPoint point;
        EXPECT_EQ(ContactAdded_Dispatch(point, &wa, 0, 0, &wb, 0, 0), c.expected) << c.name;
        for (size_t i = 0; i < handlers.size(); ++i)
        {
            EXPECT_EQ(handlers[i]->calls, c.handlers[i].called ? 1 : 0) << c.name << " handler " << i;
            if (handlers[i]->calls)
            {
                EXPECT_EQ(handlers[i]->seen0, &a) << c.name;
                EXPECT_EQ(handlers[i]->seen1, &b) << c.name;
            }
            PhysicsRemoveContactHandler(handlers[i]);
            delete handlers[i];
        }
    }
}

TEST_F(GamePhysicsWorld, OneStepOfTwoOverlappingBodiesReachesTheirHandler)
{
    ASSERT_NE(GPhysWorld, nullptr);
    btBoxShape shape(btVector3(1, 1, 1));
    btVector3 inertia(0, 0, 0);
    shape.calculateLocalInertia(1, inertia);
    btTransform at0 = btTransform::getIdentity(), at1 = btTransform::getIdentity();
    at1.setOrigin(btVector3(1.5f, 0, 0));
    btDefaultMotionState motion0(at0), motion1(at1);
    btRigidBody body0(btRigidBody::btRigidBodyConstructionInfo(1, &motion0, &shape, inertia));
    btRigidBody body1(btRigidBody::btRigidBodyConstructionInfo(1, &motion1, &shape, inertia));
    btCollisionObject bystander;
    body1.setCollisionFlags(body1.getCollisionFlags() | btCollisionObject::CF_CUSTOM_MATERIAL_CALLBACK);
    GPhysWorld->addRigidBody(&body0);
    GPhysWorld->addRigidBody(&body1);

    SRecordingHandler unrelated(&bystander, true);
    SRecordingHandler handler(&body1, true);
    PhysicsAddContactHandler(&handler);
    PhysicsAddContactHandler(&unrelated);
    const float step = 1.0f / 60.0f;
    GPhysWorld->stepSimulation(step, 0);
    EXPECT_GE(handler.calls, 1);
    EXPECT_TRUE(handler.seen0 == &body1 || handler.seen1 == &body1);
    EXPECT_EQ(unrelated.calls, 0);

    GPhysWorld->removeRigidBody(&body1);
    GPhysWorld->removeRigidBody(&body0);

    // Stopping deletes every part and lets the handlers go; a second world starts clean.
    PhysicsShutdown();
    EXPECT_TRUE(!GPhysWorld && !GPhysSolver && !GPhysDispatcher && !GPhysCollisionConfig && !GPhysBroadphase);
    PhysicsInit();
    btManifoldPoint point;
    const btTransform identity = btTransform::getIdentity();
    const btCollisionObjectWrapper w1(nullptr, &shape, &body1, identity, 0, 0);
    EXPECT_FALSE(ContactAdded_Dispatch(point, &w1, 0, 0, &w1, 0, 0));
    EXPECT_EQ(GPhysWorld->getNumCollisionObjects(), 0);
}

TEST(GamePhysics, DebugLinesAreScaledAndOnlyThoseNearTheOriginAreDrawn)
{
    ASSERT_TRUE(GLTest_Init());
    TShippedShaders shaders;
    shaders.Begin();
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    const int size = 8;
    GLuint tex = 0, fbo = GLTest_MakeTarget(size, size, GL_RGBA8, GL_UNSIGNED_BYTE, tex);
    // One unit of the drawer's output is one pixel; y = 0 is the top row.
    GViewMatrix = mMat4();
    GProjectionMatrix = M_OrthoMatrix(0.0f, (float)size, 0.0f, (float)size, -1.0f, 1.0f);
    SShader* sp = GetShader("ColorOnly");
    UseShader(0, sp);
    R_UploadViewMatrix(sp);
    R_UploadProjectionMatrix(sp);

    SPhysicsDebugDrawer drawer;
    // Scaled by 50: row 1 from x 0 to 8 in red.
    drawer.drawLine(btVector3(0, 0.03f, 0), btVector3(0.16f, 0.03f, 0), btVector3(1, 0, 0));
    // Starts 505 units from the origin once scaled: nothing, although it would cross row 5.
    drawer.drawLine(btVector3(10.1f, 0.11f, 0), btVector3(0, 0.11f, 0), btVector3(0, 0, 1));
    // Contact point on row 3, along the normal for its distance, in green.
    drawer.drawContactPoint(btVector3(0, 0.07f, 0), btVector3(1, 0, 0), 0.16f, 0, btVector3(0, 1, 0));
    const struct
    {
        int x, y;
        u32 rgb;
    } expected[] = {{3, 1, 0xFF0000}, {6, 1, 0xFF0000}, {3, 5, 0}, {3, 3, 0x00FF00}, {3, 0, 0}};
    for (const auto& p : expected)
    {
        unsigned char rgba[4] = {};
        GLTest_ReadPixel(p.x, size - 1 - p.y, rgba);
        EXPECT_EQ((u32)(rgba[0] << 16 | rgba[1] << 8 | rgba[2]), p.rgb) << p.x << "," << p.y;
    }
    GLTest_FreeTarget(fbo, tex);
    shaders.End();
}
