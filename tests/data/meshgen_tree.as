// One bent branch in part 0, capped, and two leaves in part 1.
void Branch()
{
    TMG_Pos0 = mVec3(0, 0, 0);
    TMG_Pos1 = mVec3(0, 1, 4);
    TMG_Rot0 = mQuat();
    TMG_Rot1 = mQuat(0.3, mVec3(1, 0, 0));
    TMG_Size0 = 0.5;
    TMG_Size1 = 0.25;
    TMG_Sides = 6;
    TMG_Subdiv = 5;
    TMG_PushBranch(0, 0);
    TMG_CapBranch(0);
    TMG_InitData();
}
void Hidden() { TMG_PushBranch(0, 1); }
void Leaves()
{
    TMG_AddLeaf(1, mVec3(0, 0, 5), mVec2(0.5, 1), mQuat(0.2, 0.4, 0.1), 1);
    TMG_AddLeaf(1, mVec3(2, 0, 5), mVec2(0.5, 1), mQuat(), 0);
}
void Finish()
{
    TMG_Finalize(0, 1);
    TMG_Finalize(1, 2);
}
