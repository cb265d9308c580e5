// Windows with a menu bar: each bar entry opens its popup menu directly under it; hovering the
// bar while a menu is open switches menus, and a click elsewhere closes them.
#include "TexGUI.h"

#include "GameInput.h"

SMenuWindow::SMenuWindow() : CurMenu(nullptr) {}

void SMenuWindow::AddMenu(const mRect& r, const char* label, SPopupMenu* popup)
{
    if (BREAK_IF(!popup))
        return;
    SMenuEntry entry;
    entry.Label = label;
    entry.Rect = r;
    entry.Popup = popup;
    Entries.Add(entry);
    popup->OffsetLeft = r.x0;
    popup->OffsetTop = r.y1;
    AddChild(popup);
    popup->UpdateLayout();
    CloseMenus();
    popup->FadeInTime = MENU_FADE_TIME;
    popup->FadeOutTime = MENU_FADE_TIME;
}

void SMenuWindow::CloseMenus()
{
    for (u32 i = 0; i < Entries.Count(); ++i)
        Entries[i].Popup->Open = 0;
    CurMenu = nullptr;
}

void SMenuWindow::DrawMenuBar()
{
    if (CurMenu && !CurMenu->Open)
        CurMenu = nullptr;
    for (u32 i = 0; i < Entries.Count(); ++i)
    {
        const mRect r = Entries[i].Rect;
        SPopupMenu* popup = Entries[i].Popup;
        const TString label = Entries[i].Label;
        if (Button(MENU_BAR_ID_BASE + i, r, label.Str(), nullptr, FIT_Contain))
        {
            if (CurMenu)
                CloseMenus();
            else
            {
                CurMenu = popup;
                popup->OpenMenu();
            }
        }
        else if (CurMenu && CurMenu != popup && MouseInRect(r))
        {
            CloseMenus();
            CurMenu = popup;
            popup->OpenMenu();
        }
    }
    if (CurMenu && GetKeyStatus(KEY_MouseLeft) == KS_Released && !ChildUnderMouse() && !IsMouseOverWidget())
        CloseMenus();
}
