// Each function breaks one rule of the generator; every one ends the program.
void LastWithoutBuilder() { RMG2_LastFV(); }
void PartEight() { TMG_CapBranch(8); }
void EmptySlot() { TMG_AddLeaf(5, mVec3(0, 0, 0), mVec2(1, 1), mQuat(), 0); }
void TextureSlot() { TMG_SetTexture(0, 16, "x.png", 0); }
void PopEmpty() { TMG_PopBranch(); }
void CapEmpty() { TMG_CapBranch(0); }
void SmallNoise() { RMG2_Noise(mVec3(0, 0, 0), mVec3(0.5, 0.5, 0.5), mVec2(0, 1), mVec3(0, 0, 0), 1, 0); }
void ZeroScale() { RMG2_Noise(mVec3(0, 0, 0), mVec3(2, 2, 2), mVec2(0, 1), mVec3(0, 0, 0), 0, 0); }
void NaNSubdivisions() { RMG2_CSMesh(0, mVec3(0, 0, 0), mVec3(1, 1, 1), mVec3(1, acos(2), 1)); }
void HugeBox() { RMG2_CSMesh(0, mVec3(0, 0, 0), mVec3(1, 1, 1), mVec3(5000, 5000, 1)); }
void FlatMapping() { RMG2_BoxMapping(mVec3(0, 0, 0), mVec3(1, 0, 1), 0); }
void OneSide() { TMG_Sides = 1; TMG_Subdiv = 2; TMG_PushBranch(0, 0); }
void CapOneSide() { TMG_Sides = 1; TMG_PushBranch(0, 1); TMG_CapBranch(0); }
void HugeTube() { TMG_Sides = 100000; TMG_Subdiv = 100; TMG_PushBranch(0, 0); }
void NoTarget() { RMG2_CSMesh(0, mVec3(0, 0, 0), mVec3(1, 1, 1), mVec3(1, 1, 1)); RMG2_AddPart("ColorOnly", "", 0, "", 0); }
void EmptyPart() { RMG2_AddPart("ColorOnly", "", 0, "", 0); }
