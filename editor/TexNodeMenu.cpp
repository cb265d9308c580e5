// The node menu: rename, delete, duplicate, update, animate, unlink, save the output as an image
// file and the output format override, with the items that apply to the node and the pin under
// the mouse; and the saving of a node's output.
#include "TexProcessor.h"

#include <GL/glew.h>

#include "GameImageFile.h"
#include "GameInput.h"
#include "GameShader.h"
#include "GameText.h"
#include "GameVertex.h"

namespace
{
// A classic filter list: description, patterns, and an empty entry to end it.
const char IMAGE_FILTER[] = "Image file (*.bmp;*.tga;*.png;*.jpg;*.jpeg;*.dds)\0*.bmp;*.tga;*.png;*.jpg;*.jpeg;*.dds\0";
const u32 FILE_NAME_SIZE = 4096;
// Room for an error text with its numbers.
const u32 ERROR_TEXT_SIZE = 256;

struct SFormatItem
{
    s32 Code;
    const char* Override; // item that sets it
    const char* Disable;  // the fourth item's label while it is set
};
const SFormatItem FORMAT_ITEMS[] = {
    {TEXFMT_RGBA8, "Override to UB8", "Disable (UB8)"},
    {TEXFMT_RGBA16F, "Override to FP16", "Disable (FP16)"},
    {TEXFMT_RGBA32F, "Override to FP32", "Disable (FP32)"},
};
const char* const OVERRIDE_OFF_LABEL = "-Override disabled-";
const char* const OVERRIDE_UNKNOWN_LABEL = "Disable (unknown)";
const char* const ANIMATE_LABEL = "Animate...";
const char* const ANIMATE_DISABLED_LABEL = "-Animate...";

TString Quoted(const char* prefix, const TString& text)
{
    TString s(prefix);
    s += "\"";
    s += text;
    s += "\"";
    return s;
}
} // namespace

STexProcessor::NodeMenu::NodeMenu(STexProcNode* node, STexProcessor* processor)
    : SNodeBoundMenu(node), Processor(processor), HasOutput(0), HoveredPin(0), InputPin(0), OutputPin(0)
{
    HasOutput = !node->Output.IsNull() && node->Output->GLName ? 1 : 0;
    NodePin* hit = processor->PinUnderMouse(node);
    for (u32 i = 0; hit && i < node->InParams.Count(); ++i)
        if (hit == node->InParams[i])
        {
            HoveredPin = i;
            InputPin = 1;
        }
    for (u32 i = 0; hit && i < node->OutParams.Count(); ++i)
        if (hit == node->OutParams[i])
        {
            HoveredPin = i;
            OutputPin = 1;
        }
    const bool onPin = InputPin || OutputPin;

    Options.Add(Quoted("--", node->Title));
    AddAction(Quoted("Name: ", node->NName).Str(), NMA_Rename);
    if (!onPin)
    {
        Options.Add(TString("--Node tools"));
        AddAction("Delete", NMA_Delete);
        AddAction("Duplicate", NMA_Duplicate);
        AddAction("Update", NMA_Update);
        // Greyed when there is nothing to animate: an empty channel menu could not be shown.
        AddAction(AnimMenu::HasChannels(node) ? ANIMATE_LABEL : ANIMATE_DISABLED_LABEL, NMA_Animate);
    }
    Options.Add(TString("--Pin tools"));
    AddAction("Unlink all", NMA_UnlinkAll);
    if (onPin)
        AddAction("Unlink this pin", NMA_UnlinkPin);
    if (HasOutput)
    {
        Options.Add(TString("--Texture tools"));
        AddAction("Save texture as...", NMA_SaveTexture);
    }
    Options.Add(TString("--Texture format"));
    AddAction(FORMAT_ITEMS[0].Override, NMA_OverrideUB8);
    AddAction(FORMAT_ITEMS[1].Override, NMA_OverrideFP16);
    AddAction(FORMAT_ITEMS[2].Override, NMA_OverrideFP32);
    const char* fourth = node->FmtOverride == 0 ? OVERRIDE_OFF_LABEL : OVERRIDE_UNKNOWN_LABEL;
    for (const SFormatItem& f : FORMAT_ITEMS)
        if (node->FmtOverride == f.Code)
            fourth = f.Disable;
    AddAction(fourth, NMA_DisableOverride);

    OffsetLeft = GMousePos.x - processor->Rect.x0;
    OffsetTop = GMousePos.y - processor->Rect.y0;
}

void STexProcessor::NodeMenu::AddAction(const char* text, u32 action)
{
    Options.Add(TString(text));
    Actions.Add(action);
}

NodePin* STexProcessor::NodeMenu::Hovered() const
{
    if (!Node)
        return nullptr;
    if (InputPin && HoveredPin < Node->InParams.Count())
        return Node->InParams[HoveredPin];
    if (OutputPin && HoveredPin < Node->OutParams.Count())
        return Node->OutParams[HoveredPin];
    return nullptr;
}

void STexProcessor::NodeMenu::OnSelect(int index)
{
    if (!Node || index < 0 || (u32)index >= Actions.Count())
        return;
    STexProcNode* node = Node;
    STexProcessor* p = Processor;
    switch (Actions[(u32)index])
    {
    case NMA_Rename: p->OpenPopupWindow("Enter the new name", &node->NName, node); break;
    case NMA_Delete: p->RemoveNode(node); break;
    case NMA_Duplicate:
    {
        if (!node->ClassInfo || !node->ClassInfo->Create)
            break;
        TArray<SPropDesc> list;
        InstantiatePropTable(list, node->ClassInfo->Props);
        node->StoreParams(list);
        CEntity* entity = node->ClassInfo->Create(list);
        STexProcNode* copy = dynamic_cast<STexProcNode*>(entity);
        if (BREAK_IF(!copy))
        {
            delete entity;
            break;
        }
        p->AddNode(copy, 1);
        break;
    }
    case NMA_Update: p->AddToUpdateList(node); break;
    case NMA_Animate: p->OpenNodeSlotMenu(new AnimMenu(node, p)); break;
    case NMA_UnlinkAll: p->UnlinkAll(node); break;
    case NMA_UnlinkPin:
    {
        NodePin* pin = Hovered();
        if (!pin)
            break;
        while (!pin->Links.IsEmpty())
        {
            if (InputPin)
                p->Unlink(pin->Links[0], pin);
            else
                p->Unlink(pin, pin->Links[0]);
        }
        break;
    }
    case NMA_SaveTexture: SaveTextureAs(); break;
    case NMA_OverrideUB8:
    case NMA_OverrideFP16:
    case NMA_OverrideFP32:
        node->FmtOverride = FORMAT_ITEMS[Actions[(u32)index] - NMA_OverrideUB8].Code;
        p->AddToUpdateList(node);
        break;
    case NMA_DisableOverride:
        if (node->FmtOverride != 0)
        {
            node->FmtOverride = 0;
            p->AddToUpdateList(node);
        }
        break;
    default: break;
    }
}

void STexProcessor::NodeMenu::SaveTextureAs()
{
    char name[FILE_NAME_SIZE];
    name[0] = 0;
    if (!gSysFileOpen("", IMAGE_FILTER, name, sizeof(name), 1) || !name[0])
        return;
    NodeSaveTextureReported(Node, name);
}

int NodeSaveTextureReported(STexProcNode* node, const char* path)
{
    TString error;
    if (NodeSaveTexture(node, path, error))
        return 1;
    TString title;
    if (!GTextDict.Find("ERR_TITLE", title))
        title = "Error";
    gSysMessage(error.Str(), title.Str());
    return 0;
}

int NodeSaveTexture(STexProcNode* node, const char* path, TString& error)
{
    TextureRef copy;
    TString cause;
    if (!NodeUprightCopy(node ? node->Output : TextureRef(), copy, cause))
    {
        error.Format(ERROR_TEXT_SIZE, "Save texture: %s", cause.Str());
        return 0;
    }
    // JPEG quality 90, progressive, DXT5, no run-length coding.
    SImageSaveOptions options;
    if (!SaveImageFile(copy.Get(), path, options, false, &cause))
    {
        error.Format(FILE_NAME_SIZE + ERROR_TEXT_SIZE, "Save texture: cannot write \"%s\": %s", path, cause.Str());
        return 0;
    }
    return 1;
}
