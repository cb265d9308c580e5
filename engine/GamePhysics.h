// The rigid-body world (created at start-up, deleted at exit), the contact handlers it forwards
// contacts to, its debug drawer, and reducing a point set to its convex hull.
#pragma once

#include "GMath.h"
#include "GTemplate.h"

#include <LinearMath/btIDebugDraw.h>

class btBroadphaseInterface;
class btCollisionConfiguration;
class btCollisionDispatcher;
class btConstraintSolver;
class btDiscreteDynamicsWorld;
class btCollisionObject;
class btCollisionObjectWrapper;
class btManifoldPoint;

extern btBroadphaseInterface* GPhysBroadphase;
extern btCollisionConfiguration* GPhysCollisionConfig;
extern btCollisionDispatcher* GPhysDispatcher;
extern btConstraintSolver* GPhysSolver;
extern btDiscreteDynamicsWorld* GPhysWorld;

// Receives the contacts of one collision object (bodies flagged CF_CUSTOM_MATERIAL_CALLBACK).
class IContactHandler
{
public:
    virtual ~IContactHandler() {}
    // True when the contact was handled; the remaining handlers are then not asked.
    virtual bool OnContactAdded(btManifoldPoint& point, const btCollisionObject* object0, int part0, int index0,
                                const btCollisionObject* object1, int part1, int index1) = 0;
    // The object whose contacts this handler listens for.
    virtual const btCollisionObject* GetCollisionObject() const = 0;
};

// The handler list, newest first. Handlers stay owned by the caller.
void PhysicsAddContactHandler(IContactHandler* handler);
void PhysicsRemoveContactHandler(IContactHandler* handler);

void PhysicsInit();
// Deletes the world and its parts and empties the handler list.
void PhysicsShutdown();

// The physics library's contact-added callback: the first handler of either object that
// handles the contact ends the walk with true.
bool ContactAdded_Dispatch(btManifoldPoint& point, const btCollisionObjectWrapper* object0, int part0, int index0,
                           const btCollisionObjectWrapper* object1, int part1, int index1);

// Draws the world's debug lines through the engine's primitive drawing.
class SPhysicsDebugDrawer : public btIDebugDraw
{
public:
    int DebugMode = 0; // kept, not used

    void drawLine(const btVector3& from, const btVector3& to, const btVector3& color) override;
    void drawContactPoint(const btVector3& point, const btVector3& normal, btScalar distance, int lifeTime,
                          const btVector3& color) override;
    void reportErrorWarning(const char* warning) override;
    void draw3dText(const btVector3& location, const char* text) override;
    void setDebugMode(int mode) override { DebugMode = mode; }
    int getDebugMode() const override { return DebugMode; }
};

// Replaces the points by the vertices of their convex hull and returns 1. Returns 0 with the
// points unchanged when they span no volume (fewer than 4, all on one plane) or the hull
// cannot be built from them.
int ConvexHull_Reduce(TPodArray<mVec3>& points);
