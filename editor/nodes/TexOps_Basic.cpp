// The Basic family: the file node and the family menu.
#include "TexOps_Basic.h"

#include "GameFileIO.h"
#include "GameImageFile.h"
#include "TexDocPath.h"

const char* const FILE_NODE_FILTER = "Image file (*.bmp;*.tga;*.png;*.jpg;*.jpeg;*.dds)\0*.bmp;*.tga;*.png;*.jpg;*.jpeg;*.dds\0";
const char* const FILE_NODE_DIALOG_FOLDER = "/";
TNodeFileDialog GNodeFileDialog = &FileOpenDialog;

namespace
{
const char* const FILE_NODE_TITLE = "External image";
const char* const FILE_NODE_OUTPUT = "Texture";
const char* const FILE_NODE_LOAD_BUTTON = "Load texture";
const char* const FILE_NODE_RELATIVE_LABEL = "Relative";
enum
{
    ROW_Load = 0,
    ROW_Relative,
    ROW_Count,
};

bool IsAbsolute(const TString& path)
{
    return !path.IsEmpty() && IsPathSeparator(path.Str()[0]);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// File node

const SPropDesc* STexNode_File::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropString(EVT_String, "TexName", ""),
        PropInt("RelKVF", 1, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_File)

STexNode_File::STexNode_File(TArray<SPropDesc>& list) : STexProcNode(list), RelKVF(1)
{
    Title = FILE_NODE_TITLE;
    OutParams.Add(new NodePin(FILE_NODE_OUTPUT, this, 0));
    FNodeParams params(list);
    TexName = params.String(P_TexName);
    RelKVF = params.IntClamped(P_RelKVF, 1);
    if (!TexName.IsEmpty())
        LoadImage();
}

STexNode_File::~STexNode_File() {}

int STexNode_File::LoadImage()
{
    Output.Release();
    LoadedPath = TString();
    const TString& doc = CurrentDocumentPath();
    if (RelKVF && !doc.IsEmpty() && !IsAbsolute(TexName))
    {
        TString beside = ExtractFilePath(doc);
        beside += TexName;
        if (LoadImageFile(Output, beside.Str()) && NodeTextureUsable(Output))
            LoadedPath = beside;
    }
    if (LoadedPath.IsEmpty())
    {
        Output.Release();
        if (LoadImageFile(Output, TexName.Str()) && NodeTextureUsable(Output))
            LoadedPath = TexName;
    }
    // A record that came back without a picture is no image.
    if (LoadedPath.IsEmpty())
        Output.Release();
    return LoadedPath.IsEmpty() ? 0 : 1;
}

int STexNode_File::Process()
{
    if (!NodeTextureUsable(Output))
    {
        SetStatus(NS_ImageNotLoaded);
        return 0;
    }
    return 1;
}

TString STexNode_File::StoredName() const
{
    if (!RelKVF)
        return TexName;
    const TString& doc = CurrentDocumentPath();
    // The path that loaded is where the picture is; a relative name that never loaded is kept as
    // it is, since it says nothing about where it points from the document's folder.
    const TString& source = !LoadedPath.IsEmpty() ? LoadedPath : TexName;
    if (doc.IsEmpty() || (LoadedPath.IsEmpty() && !IsAbsolute(TexName)))
        return TexName;
    TString rel = MakeRelativePath(source, ExtractFilePath(doc));
    return rel.IsEmpty() ? TexName : rel;
}

void STexNode_File::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    if (TArray<SPropDesc>* base = params.Base())
        STexProcNode::StoreParams(*base);
    params.SetInt(P_RelKVF, RelKVF);
    params.SetString(P_TexName, StoredName());
}

float STexNode_File::PropertyPanel(const mRect& r)
{
    const mRect load = NodeRow(r, ROW_Load);
    if (Button(NodeRowId(r, load), load, FILE_NODE_LOAD_BUTTON))
    {
        TString chosen;
        if (GNodeFileDialog && GNodeFileDialog(FILE_NODE_DIALOG_FOLDER, FILE_NODE_FILTER, chosen, 0))
        {
            TexName = chosen;
            LoadImage();
            if (Owner)
                Owner->AddToUpdateList(this);
        }
    }
    GuiLabel(FILE_NODE_RELATIVE_LABEL, NODE_LABEL_COLOR, 0, NodeRowLabel(r, ROW_Relative));
    const mRect toggle = NodeRowField(r, ROW_Relative);
    int relative = RelKVF;
    if (CheckBox(NodeRowId(r, toggle), toggle, &relative))
    {
        RelKVF = relative ? 1 : 0;
        if (Owner)
            Owner->AddToUpdateList(this);
    }
    const float own = NODE_PANEL_ROW_HEIGHT * ROW_Count;
    mRect rest = r;
    rest.y0 += own;
    return own + STexProcNode::PropertyPanel(rest);
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem BASIC_MENU[] = {
    {"--$TNBasic_Files$", nullptr},
    {"$STexNode_File$", "STexNode_File"},
};
} // namespace

TEX_NODE_MENU(STNBasicMenu, BASIC_MENU)
