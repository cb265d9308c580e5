// Popup menus: a column of option rows under section titles; a chosen option is reported to the
// derived menu and the menu closes.
#include "TexGUI.h"

#include "GameCore.h"
#include "GameFont.h"
#include "GameText.h"

namespace
{
const mVec4 ROW_COLOR(0.12f, 0.12f, 0.12f, 0.95f);
const mVec4 ROW_HOVER_COLOR(0.25f, 0.35f, 0.55f, 1.0f);
const mVec4 ROW_HELD_COLOR(0.18f, 0.25f, 0.4f, 1.0f);
const u32 ROW_TEXT_COLOR = 0xFFEBEBEBu;
const u32 ROW_DISABLED_TEXT_COLOR = 0xFF808080u;
const float ROW_TEXT_INDENT = 8.0f;
const u32 ROW_TEXT_FLAGS = TEXT_SingleLine | TEXT_CenterV;
const u32 TITLE_TEXT_FLAGS = TEXT_CenterH | TEXT_CenterV;
const u32 MIN_OPTION_LENGTH = 2;
} // namespace

void GUI_KeepInWindow(mRect& box, float windowWidth, float windowHeight)
{
    const float w = box.x1 - box.x0;
    const float h = box.y1 - box.y0;
    if (box.x0 < 0)
        box.x0 = 0;
    if (box.y0 < 0)
        box.y0 = 0;
    if (box.x0 + w > windowWidth)
        box.x0 = windowWidth - w;
    if (box.y0 + h > windowHeight)
        box.y0 = windowHeight - h;
    box.x1 = box.x0 + w;
    box.y1 = box.y0 + h;
}

SPopupMenu::SPopupMenu() : FirstFrameDone(0), RawIndex(0)
{
    AnchorLeft = AnchorTop = AnchorRight = AnchorBottom = 0;
    UpdateRect();
}

bool SPopupMenu::IsSectionTitle(const TString& option)
{
    return option.Length() >= 2 && option.Str()[0] == '-' && option.Str()[1] == '-';
}

bool SPopupMenu::IsDisabled(const TString& option)
{
    return option.Length() >= 1 && option.Str()[0] == '-' && !IsSectionTitle(option);
}

void SPopupMenu::UpdateLayout()
{
    OffsetRight = OffsetLeft + MENU_WIDTH;
    OffsetBottom = OffsetTop + MENU_ROW_HEIGHT * (float)Options.Count();
    // The offsets count from the parent's top-left corner; the window's edges are in window pixels.
    const float ox = Parent ? Parent->Rect.x0 : 0.0f;
    const float oy = Parent ? Parent->Rect.y0 : 0.0f;
    mRect box{ox + OffsetLeft, oy + OffsetTop, ox + OffsetRight, oy + OffsetBottom};
    GUI_KeepInWindow(box, (float)GScreenWidth, (float)GScreenHeight);
    OffsetLeft = box.x0 - ox;
    OffsetTop = box.y0 - oy;
    OffsetRight = box.x1 - ox;
    OffsetBottom = box.y1 - oy;
    UpdateRect();
}

void SPopupMenu::OpenMenu()
{
    FirstFrameDone = 0;
    Open = 1;
}

void SPopupMenu::DrawButton(const mRect& r, const char* text, u32 hovered, u32 held, TextureRef*, u32)
{
    UseColorOnly();
    DrawRect(r, hovered ? (held ? ROW_HELD_COLOR : ROW_HOVER_COLOR) : ROW_COLOR, true);
    TString label(text ? text : "");
    GTextDict.Expand(label);
    UseGUI();
    DrawText(label.Str(), 0, ROW_TEXT_COLOR, ROW_TEXT_FLAGS, mRect{r.x0 + ROW_TEXT_INDENT, r.y0, r.x1, r.y1},
             TransformScale(FontSize));
}

void SPopupMenu::Frame()
{
    FontSize = MENU_FONT_SIZE;
    if (GGUIFont)
        Font = GGUIFont;
    int counted = 0;
    for (u32 i = 0; i < Options.Count(); ++i)
    {
        const TString& option = Options[i];
        const mRect row{Rect.x0, Rect.y0 + MENU_ROW_HEIGHT * (float)i, Rect.x1, Rect.y0 + MENU_ROW_HEIGHT * (float)(i + 1)};
        if (option.Length() < MIN_OPTION_LENGTH)
        {
            // The menus' documented assertion text and source.
            AssertBreak("Options[ i ].Size() < 2", "TexGUI", __LINE__);
            continue;
        }
        if (IsSectionTitle(option))
        {
            TString title;
            title.Format(option.Length() + 8, "-- %s --", option.Str() + 2);
            GuiLabel(title.Str(), MENU_TITLE_COLOR, TITLE_TEXT_FLAGS, row);
            continue;
        }
        if (IsDisabled(option))
        {
            UseColorOnly();
            DrawRect(row, ROW_COLOR, true);
            TString label(option);
            GTextDict.Expand(label);
            UseGUI();
            DrawText(label.Str(), 0, ROW_DISABLED_TEXT_COLOR, ROW_TEXT_FLAGS,
                     mRect{row.x0 + ROW_TEXT_INDENT, row.y0, row.x1, row.y1}, TransformScale(FontSize));
            ++counted;
            continue;
        }
        if (Button(i, row, option.Str()))
        {
            // Closed first: the choice may open this menu again, or another one.
            Open = 0;
            OnSelect(RawIndex ? (int)i : counted);
            return;
        }
        ++counted;
    }

    if (!FirstFrameDone)
    {
        FirstFrameDone = 1;
        return;
    }
    if (GUI_LeftReleased() && (IsMouseOverWidget() || !MouseInRect(Rect)))
        Open = 0;
    if (GUI_RightReleased() && !MouseInRect(Rect))
        Open = 0;
}
