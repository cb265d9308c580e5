// The rigid-body world, contact dispatch, the debug drawer and convex-hull reduction.
#include "GamePhysics.h"

#include <GL/glew.h>
#include <btBulletDynamicsCommon.h>
#include <BulletCollision/CollisionShapes/btShapeHull.h>

#include "GameVertex.h"

btBroadphaseInterface* GPhysBroadphase = nullptr;
btCollisionConfiguration* GPhysCollisionConfig = nullptr;
btCollisionDispatcher* GPhysDispatcher = nullptr;
btConstraintSolver* GPhysSolver = nullptr;
btDiscreteDynamicsWorld* GPhysWorld = nullptr;

namespace
{
const int PHYS_POOL_SIZE = 4096;

struct SContactHandlerLink
{
    IContactHandler* Handler;
    SContactHandlerLink* Next;
};
SContactHandlerLink* GContactHandlers = nullptr;

template <class T>
void DeleteAndClear(T*& p)
{
    delete p;
    p = nullptr;
}
} // namespace

void PhysicsAddContactHandler(IContactHandler* handler)
{
    if (BREAK_IF(!handler))
        return;
    GContactHandlers = new SContactHandlerLink{handler, GContactHandlers};
}

void PhysicsRemoveContactHandler(IContactHandler* handler)
{
    for (SContactHandlerLink** at = &GContactHandlers; *at; at = &(*at)->Next)
        if ((*at)->Handler == handler)
        {
            SContactHandlerLink* gone = *at;
            *at = gone->Next;
            delete gone;
            return;
        }
}

void PhysicsInit()
{
    GPhysBroadphase = new btDbvtBroadphase(nullptr);
    btDefaultCollisionConstructionInfo info;
    info.m_defaultMaxPersistentManifoldPoolSize = PHYS_POOL_SIZE;
    info.m_defaultMaxCollisionAlgorithmPoolSize = PHYS_POOL_SIZE;
    info.m_customCollisionAlgorithmMaxElementSize = 0;
    info.m_useEpaPenetrationAlgorithm = true;
    GPhysCollisionConfig = new btDefaultCollisionConfiguration(info);
    GPhysDispatcher = new btCollisionDispatcher(GPhysCollisionConfig);
    GPhysSolver = new btSequentialImpulseConstraintSolver();
    GPhysWorld = new btDiscreteDynamicsWorld(GPhysDispatcher, GPhysBroadphase, GPhysSolver, GPhysCollisionConfig);
    // Nothing here moves static objects or needs swept tests: resting bounds are not refreshed
    // every step and continuous collision is off.
    GPhysWorld->setForceUpdateAllAabbs(false);
    GPhysWorld->getDispatchInfo().m_useContinuous = false;
    gContactAddedCallback = ContactAdded_Dispatch;
}

void PhysicsShutdown()
{
    DeleteAndClear(GPhysWorld);
    DeleteAndClear(GPhysSolver);
    DeleteAndClear(GPhysDispatcher);
    DeleteAndClear(GPhysCollisionConfig);
    DeleteAndClear(GPhysBroadphase);
    if (gContactAddedCallback == ContactAdded_Dispatch)
        gContactAddedCallback = nullptr;
    while (GContactHandlers)
    {
        SContactHandlerLink* gone = GContactHandlers;
        GContactHandlers = gone->Next;
        delete gone;
    }
}

bool ContactAdded_Dispatch(btManifoldPoint& point, const btCollisionObjectWrapper* object0, int part0, int index0,
                           const btCollisionObjectWrapper* object1, int part1, int index1)
{
    const btCollisionObject* a = object0 ? object0->getCollisionObject() : nullptr;
    const btCollisionObject* b = object1 ? object1->getCollisionObject() : nullptr;
    for (SContactHandlerLink* link = GContactHandlers; link; link = link->Next)
    {
        const btCollisionObject* listened = link->Handler->GetCollisionObject();
        if ((listened == a || listened == b) && link->Handler->OnContactAdded(point, a, part0, index0, b, part1, index1))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
namespace
{
// World units to the debug view's units, and the radius around the origin it shows.
const float PHYS_DEBUG_SCALE = 50.0f;
const float PHYS_DEBUG_RADIUS_SQ = 250000.0f;
} // namespace

void SPhysicsDebugDrawer::drawLine(const btVector3& from, const btVector3& to, const btVector3& color)
{
    const btVector3 a = from * PHYS_DEBUG_SCALE;
    const btVector3 b = to * PHYS_DEBUG_SCALE;
    if (!(a.length2() < PHYS_DEBUG_RADIUS_SQ))
        return;
    const u32 c = PackColor(color.x(), color.y(), color.z(), 1.0f);
    const SColVtx line[2] = {{a.x(), a.y(), a.z(), c}, {b.x(), b.y(), b.z(), c}};
    DrawColoredPrimitives(line, 2, GL_LINES);
}

void SPhysicsDebugDrawer::drawContactPoint(const btVector3& point, const btVector3& normal, btScalar distance,
                                           int lifeTime, const btVector3& color)
{
    (void)lifeTime;
    drawLine(point, point + normal * distance, color);
}

void SPhysicsDebugDrawer::reportErrorWarning(const char* warning)
{
    LogPrintf("Physics: %s\n", warning);
}

void SPhysicsDebugDrawer::draw3dText(const btVector3& location, const char* text)
{
    (void)location;
    (void)text;
}

// ---------------------------------------------------------------------------------------------
namespace
{
// Below this fraction of its bounding box's volume a hull counts as flat.
const float HULL_MIN_VOLUME_FRACTION = 1e-6f;
const u32 HULL_MIN_POINTS = 4;
// How far, as a fraction of the bounding box's size, a hull vertex may lie from its input point.
const float HULL_POINT_MATCH = 1e-5f;

// The input point nearest to v, when it lies within reach (squared distance).
const mVec3* NearestInputPoint(const btVector3& v, const TPodArray<mVec3>& points, float reachSq)
{
    const mVec3* best = nullptr;
    float bestSq = reachSq;
    for (const mVec3& p : points)
    {
        const mVec3 d(p.x - v.x(), p.y - v.y(), p.z - v.z());
        if (d.LengthSq() <= bestSq)
        {
            bestSq = d.LengthSq();
            best = &p;
        }
    }
    return best;
}

// Six times the signed volume enclosed by the triangles.
float HullVolume6(const btShapeHull& hull)
{
    const btVector3* v = hull.getVertexPointer();
    const unsigned int* idx = hull.getIndexPointer();
    btScalar sum = 0;
    for (int t = 0; t < hull.numTriangles(); ++t)
    {
        const btVector3& a = v[idx[3 * t]];
        const btVector3& b = v[idx[3 * t + 1]];
        const btVector3& c = v[idx[3 * t + 2]];
        sum += a.dot(b.cross(c));
    }
    return btFabs(sum);
}
} // namespace

int ConvexHull_Reduce(TPodArray<mVec3>& points)
{
    if (points.Count() < HULL_MIN_POINTS)
        return 0;
    mVec3 lo = points[0], hi = points[0];
    for (const mVec3& p : points)
    {
        lo.Set(p.x < lo.x ? p.x : lo.x, p.y < lo.y ? p.y : lo.y, p.z < lo.z ? p.z : lo.z);
        hi.Set(p.x > hi.x ? p.x : hi.x, p.y > hi.y ? p.y : hi.y, p.z > hi.z ? p.z : hi.z);
    }
    const mVec3 size = hi - lo;
    const float boxVolume = size.x * size.y * size.z;
    if (!(boxVolume > 0.0f))
        return 0;

    btConvexHullShape shape((const btScalar*)points.data, (int)points.Count(), sizeof(mVec3));
    // The hull builder ignores its own margin argument and uses the shape's.
    shape.setMargin(0);
    btShapeHull hull(&shape);
    if (!hull.buildHull(0))
        return 0;
    // The builder reports flat or degenerate input as success with a made-up box: accept only
    // a hull with volume whose every vertex is one of the points.
    if (hull.numVertices() < (int)HULL_MIN_POINTS || !(HullVolume6(hull) > 6.0f * HULL_MIN_VOLUME_FRACTION * boxVolume))
        return 0;
    // The builder recentres the points and gives them back a rounding error away: each vertex
    // is taken as the input point it stands for, or the hull is refused.
    const float reach = HULL_POINT_MATCH * (size.x + size.y + size.z);
    TPodArray<mVec3> result;
    if (!result.Reserve((u32)hull.numVertices(), true))
        return 0;
    for (int i = 0; i < hull.numVertices(); ++i)
    {
        const mVec3* p = NearestInputPoint(hull.getVertexPointer()[i], points, reach * reach);
        if (!p)
            return 0;
        result.Add(*p);
    }
    points = result;
    return 1;
}
