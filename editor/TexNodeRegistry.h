// The node classes in registration order and the family menus in menu-bar order.
#pragma once

#include "TexProcessor.h"

// Registers every node class in the order of the list, once; later calls do nothing. Called at
// start-up and by every processor, never from a static initialiser.
void TexRegisterNodeClasses();

u32 TexNodeClassCount();
// The record of the index-th class of the ordered list; null past the end.
SClassInfo* TexNodeClassRecord(u32 index);

struct STexFamilyMenu
{
    const char* Label; // the menu-bar text (a dictionary key between '$')
    SPopupMenu* (*Create)(STexProcessor* owner);
};

u32 TexFamilyMenuCount();
const STexFamilyMenu* TexFamilyMenu(u32 index);
