// Boxes and ellipsoids centred away from the origin.
void Box() { RMG2_Clear(); RMG2_CSMesh(0, mVec3(1, 2, 3), mVec3(0.5, 1, 1.5), mVec3(1, 1, 1)); }
void Ellipsoid() { RMG2_Clear(); RMG2_CSMesh(1, mVec3(1, 2, 3), mVec3(0.5, 1, 1.5), mVec3(8, 8, 8)); }
// Subdivisions that round to 0 or below are taken as 1.
void RoundedDown() { RMG2_Clear(); RMG2_CSMesh(0, mVec3(1, 2, 3), mVec3(0.5, 1, 1.5), mVec3(0.4, -3, 0.2)); }
void Flat() { RMG2_Clear(); RMG2_CSMesh(0.5, mVec3(0, 0, 0), mVec3(1, 1, 0), mVec3(2, 2, 2)); }
