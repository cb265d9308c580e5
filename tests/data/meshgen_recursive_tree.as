// Depth 3, three children per branch, each child starting where its parent ended.
int branches = 0;
void Grow(int depth)
{
    TMG_PushBranch(0, 0);
    branches++;
    if (depth > 1)
    {
        for (int i = 0; i < 3; i++)
        {
            TMG_InitData();
            float a = i * 2.0944;
            TMG_Rot1 = TMG_ParentRot1 * mQuat(0.5, mVec3(cos(a), sin(a), 0));
            TMG_Pos1 = TMG_ParentPos1 + rotateVec(mVec3(0, 0, 1), TMG_Rot1) * 2;
            TMG_Size1 = TMG_ParentSize1 * 0.6;
            Grow(depth - 1);
        }
    }
    else
        TMG_CapBranch(0);
    TMG_PopBranch();
}
void Tree()
{
    TMG_Pos0 = mVec3(0, 0, 0);
    TMG_Pos1 = mVec3(0, 0, 3);
    TMG_Size0 = 0.4;
    TMG_Size1 = 0.3;
    TMG_Sides = 5;
    TMG_Subdiv = 3;
    Grow(3);
}
