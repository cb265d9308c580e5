// The Basic family: the file node, the image autosave node and the family menu.
#include "TexOps_Basic.h"

#include <GL/glew.h>
#include <errno.h>
#include <string.h>

#include "GameFileAccess.h"
#include "GameFileIO.h"
#include "GameImageFile.h"
#include "GameMaterial.h"
#include "GameShader.h"
#include "GameVertex.h"
#include "TexDocPath.h"
#include "TexProcessor.h"

const char* const FILE_NODE_FILTER = "Image file (*.bmp;*.tga;*.png;*.jpg;*.jpeg;*.dds)\0*.bmp;*.tga;*.png;*.jpg;*.jpeg;*.dds\0";
const char* const FILE_NODE_DIALOG_FOLDER = "/";
TNodeFileDialog GNodeFileDialog = &FileOpenDialog;

namespace
{
const char* const FILE_NODE_TITLE = "External image";
const char* const FILE_NODE_OUTPUT = "Texture";
const char* const FILE_NODE_LOAD_BUTTON = "Load texture";
const char* const FILE_NODE_RELATIVE_LABEL = "Relative";
const u32 FILE_NODE_FAILURE_SIZE = 512;
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

// Loads path into the node's output; false with the cause in failure.
static bool LoadInto(TextureRef& output, const TString& path, TString& failure)
{
    if (!LoadImageFile(output, path.Str(), &failure))
        return false;
    if (NodeTextureUsable(output))
        return true;
    failure.Format(FILE_NODE_FAILURE_SIZE, "cannot load \"%s\": no usable texture came of it", path.Str());
    return false;
}

int STexNode_File::LoadImage()
{
    Output.Release();
    LoadedPath = TString();
    LoadFailure = TString();
    const TString& doc = CurrentDocumentPath();
    bool besideExists = false;
    if (RelKVF && !doc.IsEmpty() && !IsAbsolute(TexName))
    {
        TString beside = ExtractFilePath(doc);
        beside += TexName;
        besideExists = PathExists(MakeFullPath(beside).Str());
        if (LoadInto(Output, beside, LoadFailure))
            LoadedPath = beside;
    }
    if (LoadedPath.IsEmpty())
    {
        Output.Release();
        // What is told is why the file that is there did not load; when neither place holds
        // one, the place beside the document is the one the name meant.
        TString failure;
        if (LoadInto(Output, TexName, failure))
            LoadedPath = TexName;
        else if (LoadFailure.IsEmpty() || (!besideExists && PathExists(MakeFullPath(TexName).Str())))
            LoadFailure = failure;
    }
    // A record that came back without a picture is no image.
    if (LoadedPath.IsEmpty())
        Output.Release();
    else
        LoadFailure = TString();
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
// Image autosave node

const char* const EXTRACT_INVALID_NAME = "Invalid file name";
const char* const EXTRACT_INVALID_EXTENSION = "Invalid extension (not one of JPG/PNG/DDS";
const char* const EXTRACT_EXISTS = "Overwrite is disabled, texture already exists";
const char* const EXTRACT_SAVE_FAILED = "Failed to save texture";

namespace
{
const char* const EXTRACT_TITLE = "Image AutoSave";
const char* const EXTRACT_INPUTS[] = {"Texture", "[opt] Name"};
const char* const EXTRACT_DEFAULT_TEMPLATE = "$(Path)$(Name).$(Ext)";
const char* const EXTRACT_TEXTURE_LABEL = "Texture";
const char* const EXTRACT_CHANGE_BUTTON = "..change";
const char* const EXTRACT_TEMPLATE_PROMPT = "Full name";
const char* const EXTRACT_RELATIVE_LABEL = "Relative";
const char* const EXTRACT_OVERWRITE_LABEL = "Overwrite";
const char* const EXTRACT_EXTENSIONS[] = {"PNG", "JPG", "DDS"};
const u32 EXTRACT_EXT_LENGTH = 3;
const u32 EXTRACT_SUFFIX_LENGTH = 4; // the dot and the extension
const u32 EXTRACT_STATUS_SIZE = 256;
const float EXTRACT_TEMPLATE_FONT_SCALE = 0.8f; // long templates fit the button
enum
{
    ROW_Target = 0,
    ROW_Template,
    ROW_TemplateEnd = ROW_Template + 2, // the template button spans three rows
    ROW_ExtractRelative,
    ROW_ExtractOverwrite,
    ROW_ExtractCount,
};

// length characters of s from off, which the caller keeps inside the text.
TString Slice(const TString& s, u32 off, u32 length)
{
    TString out;
    out.Assign(s.Str() + off, length);
    return out;
}

u32 FilePartStart(const TString& file)
{
    u32 start = 0;
    for (u32 i = 0; i < file.Length(); ++i)
        if (IsPathSeparator(file.Str()[i]))
            start = i + 1;
    return start;
}

// The parts of the file name of the texture on a linked optional input: the texture's own name,
// or the path a file node read it from (pictures decoded by the image library carry no name).
SExtractNameParts SecondNameParts(STexProcNode& node)
{
    if (node.InParams.Count() <= STexNode_Extract::IN_Name)
        return SExtractNameParts();
    const NodePin* pin = node.InParams[STexNode_Extract::IN_Name];
    if (pin->Links.Count() == 0)
        return SExtractNameParts();
    const NodePin* source = pin->Links[0];
    TextureRef tex = source->Owner->GetOutput(source->Index);
    if (tex.IsNull())
        return SExtractNameParts();
    if (!tex->Name.IsEmpty())
        return ExtractNameParts(tex->Name);
    if (const STexNode_File* file = dynamic_cast<const STexNode_File*>(source->Owner))
        return ExtractNameParts(file->LoadedPath);
    return SExtractNameParts();
}
} // namespace

SExtractNameParts ExtractNameParts(const TString& file)
{
    SExtractNameParts out;
    const u32 start = FilePartStart(file);
    const u32 length = file.Length() - start;
    out.Path = Slice(file, 0, start);
    if (length > EXTRACT_SUFFIX_LENGTH)
        out.Name = Slice(file, start, length - EXTRACT_SUFFIX_LENGTH);
    const u32 ext = length < EXTRACT_EXT_LENGTH ? length : EXTRACT_EXT_LENGTH;
    out.Ext = Slice(file, file.Length() - ext, ext);
    return out;
}

TString ExpandExtractTemplate(const TString& tmpl, const SExtractNameParts& target, const SExtractNameParts& second)
{
    const struct
    {
        const char* Form;
        const TString* Value;
    } vars[] = {
        {"$(Path)", &target.Path}, {"$(Path2)", &second.Path}, {"$(Name)", &target.Name},
        {"$(Name2)", &second.Name}, {"$(Ext)", &target.Ext},   {"$(Ext2)", &second.Ext},
    };
    TString out;
    const char* s = tmpl.Str();
    const u32 n = tmpl.Length();
    for (u32 i = 0; i < n;)
    {
        bool replaced = false;
        for (const auto& v : vars)
        {
            const u32 len = (u32)strlen(v.Form);
            if (n - i >= len && memcmp(s + i, v.Form, len) == 0)
            {
                out += *v.Value;
                i += len;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += s[i++];
    }
    return out;
}

const SPropDesc* STexNode_Extract::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropString(EVT_String, "TexName", ""),
        PropString(EVT_String, "ProcStr", EXTRACT_DEFAULT_TEMPLATE),
        PropInt("RelKVF", 1, 0, 1),
        PropInt("Overwrite", 1, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Extract)

STexNode_Extract::STexNode_Extract(TArray<SPropDesc>& list) : STexProcNode(list), RelKVF(1), Overwrite(1)
{
    Title = EXTRACT_TITLE;
    for (u32 i = 0; i < sizeof(EXTRACT_INPUTS) / sizeof(EXTRACT_INPUTS[0]); ++i)
        InParams.Add(new NodePin(EXTRACT_INPUTS[i], this, i));
    FNodeParams params(list);
    ProcStr = params.String(P_ProcStr);
    RelKVF = params.IntClamped(P_RelKVF, 1);
    Overwrite = params.IntClamped(P_Overwrite, 1);
    const TString name = params.String(P_TexName);
    const TString& doc = CurrentDocumentPath();
    if (!name.IsEmpty() && RelKVF && !doc.IsEmpty() && !IsAbsolute(name))
    {
        TexName = ExtractFilePath(doc);
        TexName += name;
    }
    else
        TexName = name;
}

STexNode_Extract::~STexNode_Extract() {}

void STexNode_Extract::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    if (TArray<SPropDesc>* base = params.Base())
        STexProcNode::StoreParams(*base);
    TString stored = TexName;
    const TString& doc = CurrentDocumentPath();
    if (RelKVF && !doc.IsEmpty() && IsAbsolute(TexName))
    {
        const TString rel = MakeRelativePath(TexName, ExtractFilePath(doc));
        if (!rel.IsEmpty())
            stored = rel;
    }
    params.SetString(P_TexName, stored);
    params.SetString(P_ProcStr, ProcStr);
    params.SetInt(P_RelKVF, RelKVF);
    params.SetInt(P_Overwrite, Overwrite);
}

TString STexNode_Extract::OutputName()
{
    return ExpandExtractTemplate(ProcStr, ExtractNameParts(TexName), SecondNameParts(*this));
}

int STexNode_Extract::Process()
{
    Written = TString();
    if (InParams.Count() == 0 || InParams[IN_Texture]->Links.Count() == 0)
    {
        SetStatus(NS_NoInput);
        return 0;
    }
    const NodePin* source = InParams[IN_Texture]->Links[0];
    Output = source->Owner->GetOutput(source->Index);
    if (!NodeTextureUsable(Output))
    {
        SetStatus(NS_NullTexture);
        return 0;
    }
    const TString name = OutputName();
    const u32 filePart = name.Length() - FilePartStart(name);
    // A file part must hold at least a dot and an extension.
    if (name.Length() < EXTRACT_SUFFIX_LENGTH || filePart < EXTRACT_SUFFIX_LENGTH)
    {
        SetStatus(EXTRACT_INVALID_NAME);
        return 0;
    }
    TString ext = Slice(name, name.Length() - EXTRACT_EXT_LENGTH, EXTRACT_EXT_LENGTH);
    for (u32 i = 0; i < ext.Length(); ++i)
    {
        char& c = *ext.At(i);
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    bool known = false;
    for (const char* e : EXTRACT_EXTENSIONS)
        known = known || ext == e;
    if (!known)
    {
        SetStatus(EXTRACT_INVALID_EXTENSION);
        return 0;
    }
    // A file that cannot be read (mode 000) exists all the same. This only saves the work: the
    // written file takes a free name only, so that of writers racing for one name, one wins.
    if (!Overwrite && PathExists(MakeFullPath(name).Str()))
    {
        SetStatus(EXTRACT_EXISTS);
        return 0;
    }

    TextureRef copy;
    // A spare target of the run saves making one.
    if (Owner)
        Owner->TakeSpareTarget(copy, Output->Width, Output->Height, TEXFMT_RGBA8, NODE_OUTPUT_TEX_FLAGS);
    TString failure;
    if (!NodeUprightCopy(Output, copy, failure))
    {
        Status.Format(EXTRACT_STATUS_SIZE, "%s: %s", EXTRACT_SAVE_FAILED, failure.Str());
        return 0;
    }
    const int saved = SaveImageFile(copy.Get(), name.Str(), SaveOptions, false, &failure,
                                    Overwrite ? WRITE_Replace : WRITE_NewOnly);
    const int cause = errno;
    if (Owner)
        Owner->OfferSpareTarget(copy);
    else
        copy.Release();
    if (saved)
    {
        Written = MakeFullPath(name);
        return 1;
    }
    if (!Overwrite && cause == EEXIST)
    {
        SetStatus(EXTRACT_EXISTS);
        return 0;
    }
    // Which file and why, for the editor and for whoever reports a run alike.
    Status = EXTRACT_SAVE_FAILED;
    Status += ": \"";
    Status += name;
    Status += "\" not written: ";
    Status += failure;
    return 0;
}

float STexNode_Extract::PropertyPanel(const mRect& r)
{
    GuiLabel(EXTRACT_TEXTURE_LABEL, NODE_LABEL_COLOR, 0, NodeRowLabel(r, ROW_Target));
    const mRect change = NodeRowField(r, ROW_Target);
    if (Button(NodeRowId(r, change), change, EXTRACT_CHANGE_BUTTON))
    {
        TString chosen;
        const TString folder = ExtractFilePath(TexName);
        if (GNodeFileDialog && GNodeFileDialog(folder.Str(), FILE_NODE_FILTER, chosen, 1))
        {
            TexName = chosen;
            if (Owner)
                Owner->AddToUpdateList(this);
        }
    }
    mRect tmpl = NodeRow(r, ROW_Template);
    tmpl.y1 = NodeRow(r, ROW_TemplateEnd).y1;
    const float fontSize = FontSize;
    FontSize = fontSize * EXTRACT_TEMPLATE_FONT_SCALE;
    const int editTemplate = Button(NodeRowId(r, tmpl), tmpl, ProcStr.Str());
    FontSize = fontSize;
    if (editTemplate && Owner)
        Owner->OpenPopupWindow(EXTRACT_TEMPLATE_PROMPT, &ProcStr, this);
    const struct
    {
        u32 Row;
        const char* Label;
        s32* Value;
    } toggles[] = {
        {ROW_ExtractRelative, EXTRACT_RELATIVE_LABEL, &RelKVF},
        {ROW_ExtractOverwrite, EXTRACT_OVERWRITE_LABEL, &Overwrite},
    };
    for (const auto& t : toggles)
    {
        GuiLabel(t.Label, NODE_LABEL_COLOR, 0, NodeRowLabel(r, t.Row));
        const mRect box = NodeRowField(r, t.Row);
        int value = *t.Value;
        if (CheckBox(NodeRowId(r, box), box, &value))
        {
            *t.Value = value ? 1 : 0;
            if (Owner)
                Owner->AddToUpdateList(this);
        }
    }
    const float own = NODE_PANEL_ROW_HEIGHT * ROW_ExtractCount;
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
    {"$STexNode_Extract$", "STexNode_Extract"},
    {"$STexNode_SpriteSheet$", "STexNode_SpriteSheet"},
    {"--$TNBasic_Blending$", nullptr},
    {"$STexNode_Blend$", "STexNode_Blend"},
    {"--$TNBasic_Transform$", nullptr},
    {"$STexNode_Transform$", "STexNode_Transform"},
    {"$STexNode_Resize$", "STexNode_Resize"},
    {"$STexNode_Reshape$", "STexNode_Reshape"},
    {"[Disabled] $STexNode_PerspCor$", nullptr},
};
} // namespace

TEX_NODE_MENU(STNBasicMenu, BASIC_MENU)
