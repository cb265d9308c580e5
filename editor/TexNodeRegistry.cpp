// Registration of the node classes from the ordered list, at start-up rather than from a static
// initialiser: a class table may take its defaults from constants of another source, which are
// only certain to exist once the program's main function runs.
#include "TexNodeRegistry.h"

#include "TexNodeList.h"

#define TEX_DECLARE_RECORD(T) SClassInfo* TexNodeRecord_##T();
TEX_NODE_CLASSES(TEX_DECLARE_RECORD)
#undef TEX_DECLARE_RECORD

#define TEX_DECLARE_MENU(Menu, Label) SPopupMenu* TexNodeMenu_##Menu(STexProcessor* owner);
TEX_NODE_FAMILY_MENUS(TEX_DECLARE_MENU)
#undef TEX_DECLARE_MENU

namespace
{
typedef SClassInfo* (*TRecordFunc)();

#define TEX_RECORD_ENTRY(T) &TexNodeRecord_##T,
const TRecordFunc RECORDS[] = {TEX_NODE_CLASSES(TEX_RECORD_ENTRY)};
#undef TEX_RECORD_ENTRY

#define TEX_MENU_ENTRY(Menu, Label) {Label, &TexNodeMenu_##Menu},
const STexFamilyMenu MENUS[] = {TEX_NODE_FAMILY_MENUS(TEX_MENU_ENTRY)};
#undef TEX_MENU_ENTRY

const u32 RECORD_COUNT = (u32)(sizeof(RECORDS) / sizeof(RECORDS[0]));
const u32 MENU_COUNT = (u32)(sizeof(MENUS) / sizeof(MENUS[0]));

bool GNodeClassesRegistered = false;
} // namespace

void TexRegisterNodeClasses()
{
    // A record registered twice would link to itself.
    if (GNodeClassesRegistered)
        return;
    GNodeClassesRegistered = true;
    for (u32 i = 0; i < RECORD_COUNT; ++i)
        RegisterClassInfo(RECORDS[i]());
}

u32 TexNodeClassCount()
{
    return RECORD_COUNT;
}

SClassInfo* TexNodeClassRecord(u32 index)
{
    return index < RECORD_COUNT ? RECORDS[index]() : nullptr;
}

u32 TexFamilyMenuCount()
{
    return MENU_COUNT;
}

const STexFamilyMenu* TexFamilyMenu(u32 index)
{
    return index < MENU_COUNT ? &MENUS[index] : nullptr;
}
