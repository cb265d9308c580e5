// What the texture module's sources share among themselves; not for other modules.
#pragma once

#include "GameTexture.h"

// Unbinds the texture from the active unit when that unit still caches it.
void TEX_UnbindActive(STexture* tex);
// Uploads one GL level of the texture's target; cube faces follow each other in data.
void TEX_UploadLevel(const STexture* tex, u32 glLevel, u32 w, u32 h, u32 d, u32 type, const u8* data);
// GL's size limit for a target.
u32 TEX_MaxSize(u32 target);
// Adds a live texture to the manager's array and, with a key, to its map, and counts its bytes
// against the budget.
void TEX_Register(STexture* tex, const TString& key);
// The bytes of texture memory the texture takes at its current level.
u64 TEX_Bytes(const STexture* tex);
// Whether that many bytes more stay within the budget; a refusal is counted.
bool TEX_FitsBudget(u64 bytes);
// Sampling of the bound texture: linear, from the mip chain when mipmapped; clamped to the
// edge when the texture's flags ask for it.
void TEX_SetFilters(const STexture* tex, bool mipmapped);
// Key of a file texture in the manager's map: the name, ":" and the flags with TEXF_File.
TString TEX_FileKey(const char* name, u32 flags);
// Body of the loader thread.
u32 TEX_LoaderThreadMain(void* context);
