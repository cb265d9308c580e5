// Two blobs: the noise reaches the first one too, but starts at the second one's first vertex.
void Blobs()
{
    RMG2_Clear();
    RMG2_CSMesh(0.8, mVec3(0, 0, 0), mVec3(1, 1, 1), mVec3(4, 4, 4));
    RMG2_CSMesh(0.6, mVec3(3, 0, 0), mVec3(1.5, 1, 1), mVec3(4, 4, 4));
    RMG2_Noise(mVec3(2, 0.1, 0), mVec3(6, 6, 6), mVec2(0, 0.5), mVec3(0, 0, 0), 0.7, RMG2_LastFV());
}
// A plain box mapped from the corner (-2, -2, -2) over 4 x 8 x 16 units.
void MappedBox()
{
    RMG2_Clear();
    RMG2_CSMesh(0, mVec3(0, 0, 0), mVec3(1, 1, 1), mVec3(2, 3, 4));
    RMG2_BoxMapping(mVec3(-2, -2, -2), mVec3(4, 8, 16), 0);
}
void Rock()
{
    Blobs();
    RMG2_BoxMapping(mVec3(-2, -2, -2), mVec3(4, 4, 4), 0);
    RMG2_AddPart("ColorOnly", "", 0, "", 0);
}
