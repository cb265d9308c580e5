// Writing and reading the node-graph document. A load reads into a processor of its own and takes
// its nodes over only when the whole text was read, so a broken file never costs the graph being
// edited; a save goes through a temporary file renamed over the old one.
#include "TexDocument.h"

#include <errno.h>

#include "GameFileAccess.h"
#include "GameFileIO.h"
#include "GameTexture.h"
#include "TexDocPath.h"
#include "TexProcessor.h"

const char* const DOC_VERSION_2 = "GKV_File_Version_2";
const char* const DOC_VERSION_1 = "GKV_File_Version_1";
const char* const DOC_BOX_VERSION = "[Load] Version mismatch/invalid file";
const char* const DOC_BOX_NODE_NAME = "[Load] Invalid node name";
const char* const DOC_BOX_PARAMETER = "[Load] Invalid node parameter";
const char* const DOC_BOX_LINK = "[Load] Invalid link found";
const char* const DOC_BOX_TOO_MANY_DOCUMENTS = "[Load] Too many inner documents";
const char* const DOC_BOX_TOO_LARGE = "[Load] Documents too large";
const char* const DOC_BOX_TOO_MANY_NODES = "[Load] Too many nodes";
const char* const DOC_BOX_REFUSED = "[Load] Document refused";

namespace
{
// Box texts are formatted into a buffer of this size.
const u32 DOC_BOX_TEXT_SIZE = 512;
const u32 DOC_LINK_LINE_SIZE = 64;
const u32 DOC_LINK_NUMBERS = 4;
const u32 BYTES_PER_MIB = 1u << 20;

// Loads running inside one another (a sub-graph node's document loads while its own is read), and
// what the outermost one may still bring in.
u32 GLoadDepth = 0;
u32 GInnerLoadsLeft = 0;
u64 GLoadBytesLeft = 0;
u32 GLoadNodesLeft = 0;
EDocBudget GBudgetSpent = DOC_WithinBudget;
TString GRefusal; // the last refusal, in words
bool GOwnerRule = false;
bool GInnerRule = false;

struct SLoadDepthScope
{
    SLoadDepthScope() { ++GLoadDepth; }
    ~SLoadDepthScope() { --GLoadDepth; }
};

// Counts a node against the budget of the load under way, if any; false once that is spent (by
// this document or by one loaded beneath it), when reading has nothing more to gain.
bool NodeWithinBudget()
{
    if (GLoadDepth == 0)
        return true;
    if (GBudgetSpent == DOC_WithinBudget && GLoadNodesLeft == 0)
        GBudgetSpent = DOC_TooManyNodes;
    if (GBudgetSpent != DOC_WithinBudget)
        return false;
    --GLoadNodesLeft;
    return true;
}

bool IsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsSpace(char c)
{
    return IsBlank(c) || IsLineEnd(c);
}

bool IsKeyChar(char c)
{
    return gIsAlnum((u8)c) || c == '_';
}

bool IsStructural(u32 type)
{
    return type == EVT_Null || type == EVT_Inherit || type == EVT_InheritInst;
}

// A class whose table inherits, directly or through other node classes, the node base's.
bool IsNodeClass(const SClassInfo* info)
{
    const SPropDesc* base = STexProcNode::PropTable();
    for (const SPropDesc* p = info->Props; p && p->Type == EVT_Inherit; p = p->Default.inhptr)
        if (p->Default.inhptr == base)
            return true;
    return false;
}

// A read position in the text; nothing reads at or past its length, whatever bytes it holds.
class SDocCursor
{
public:
    explicit SDocCursor(const TString& text) : Text(text.Str()), Length(text.Length()), At(0) {}

    bool AtEnd() const { return At >= Length; }
    bool AtLineEnd() const { return At >= Length || IsLineEnd(Text[At]); }
    bool Is(char c) const { return At < Length && Text[At] == c; }
    void Skip() { At += At < Length ? 1 : 0; }
    void SkipSpace()
    {
        while (At < Length && IsSpace(Text[At]))
            ++At;
    }
    void SkipBlanks()
    {
        while (At < Length && IsBlank(Text[At]))
            ++At;
    }
    // Letters, digits and '_'.
    TString Keyword()
    {
        const u32 from = At;
        while (At < Length && IsKeyChar(Text[At]))
            ++At;
        return TString(Text + from, At - from);
    }
    // Everything up to the next blank, tab or line end.
    TString Word()
    {
        const u32 from = At;
        while (At < Length && !IsSpace(Text[At]))
            ++At;
        return TString(Text + from, At - from);
    }
    // The text between this quote and the next one that no odd run of backslashes escapes, still
    // escaped. Written values never hold a line break, so an unclosed value ends with its line.
    TString Quoted()
    {
        Skip();
        const u32 from = At;
        while (At < Length && !IsLineEnd(Text[At]) && Text[At] != '"')
            At += Text[At] == '\\' && At + 1 < Length && !IsLineEnd(Text[At + 1]) ? 2 : 1;
        const TString value(Text + from, At - from);
        if (Is('"'))
            Skip();
        return value;
    }
    // A decimal integer on this line; false when there is none. Values beyond the int range
    // saturate (they are refused as indices anyway).
    bool Integer(s32& out)
    {
        SkipBlanks();
        u32 at = At;
        const bool negative = at < Length && Text[at] == '-';
        if (at < Length && (Text[at] == '-' || Text[at] == '+'))
            ++at;
        const u32 digits = at;
        const s64 LIMIT = 0x80000000LL; // the magnitude of the smallest int
        s64 v = 0;
        for (; at < Length && gIsDigit((u8)Text[at]); ++at)
            v = v < LIMIT ? v * 10 + (Text[at] - '0') : LIMIT;
        if (at == digits)
            return false;
        At = at;
        v = v > LIMIT ? LIMIT : v;
        out = (s32)(negative ? -v : (v == LIMIT ? LIMIT - 1 : v));
        return true;
    }

private:
    const char* Text;
    u32 Length;
    u32 At;
};

class SDocReader
{
public:
    SDocReader(STexProcessor& into, const TString& text, const char* path, int quiet)
        : Into(into), Cursor(text), Path(path ? path : ""), Quiet(quiet), Version1(false)
    {
    }

    bool Read()
    {
        Cursor.SkipSpace();
        const TString version = Cursor.Word();
        Version1 = version == DOC_VERSION_1;
        if (!Version1 && version != DOC_VERSION_2)
        {
            Box(DOC_BOX_VERSION, "File: %s\nVersion supported by executable: %s\nVersion found in file: %s", Path,
                DOC_VERSION_2, version.Str());
            return false;
        }
        for (;;)
        {
            Cursor.SkipSpace();
            if (Cursor.AtEnd())
            {
                Into.LinkRead(Links);
                return true;
            }
            const TString keyword = Cursor.Keyword();
            if (keyword.IsEmpty())
                Cursor.Skip(); // no keyword begins here
            else if (keyword == "NODE")
            {
                if (!ReadNode())
                    return false;
            }
            else if (keyword == "LINK")
            {
                if (!ReadLink())
                    return false;
            }
        }
    }

private:
    STexProcessor& Into;
    SDocCursor Cursor;
    const char* Path;
    int Quiet;
    bool Version1;
    TPodArray<SCapturedLink> Links;

    void Box(const char* title, const char* format, ...) PW_PRINTF(3, 4)
    {
        if (Quiet)
            return;
        va_list args;
        va_start(args, format);
        TString text;
        text.FormatV(DOC_BOX_TEXT_SIZE, format, args);
        va_end(args);
        gSysMessage(text.Str(), title);
    }

    bool ReadNode()
    {
        if (!NodeWithinBudget())
            return false;
        Cursor.SkipBlanks();
        const TString name = Cursor.Word();
        SClassInfo* info = FindClassInfo(name.Str());
        // A name with a NUL in it is not the class its first part names.
        if (!info || !info->Create || gStrLen(info->Name) != name.Length() || !IsNodeClass(info))
        {
            Box(DOC_BOX_NODE_NAME, "File: %s\nName: %s", Path, name.Str());
            return false;
        }
        TArray<SPropDesc> list;
        InstantiatePropTable(list, info->Props);
        while (ReadParameter(list))
        {
        }
        CEntity* entity = info->Create(list);
        STexProcNode* node = dynamic_cast<STexProcNode*>(entity);
        if (!node)
        {
            delete entity;
            Box(DOC_BOX_NODE_NAME, "File: %s\nName: %s", Path, name.Str());
            return false;
        }
        Into.AddReadNode(node);
        return true;
    }

    // One name="value" of the node's line; false at the line's end.
    bool ReadParameter(TArray<SPropDesc>& list)
    {
        Cursor.SkipBlanks();
        if (Cursor.AtLineEnd())
            return false;
        const TString name = Cursor.Keyword();
        if (name.IsEmpty())
        {
            Cursor.Skip();
            return true;
        }
        if (!Cursor.Is('='))
            return true;
        Cursor.Skip();
        Cursor.SkipBlanks();
        // Values go to the value texts still escaped: they unescape strings once themselves.
        const TString value = !Version1 && Cursor.Is('"') ? Cursor.Quoted() : Cursor.Word();
        SPropDesc* entry = FindPropDesc(list, name.Str());
        // Base-class entries carry names too, but no value.
        if (!entry || IsStructural(entry->Type))
        {
            Box(DOC_BOX_PARAMETER, "File: %s\nParameter: %s", Path, name.Str());
            return true;
        }
        ParamFromText(*entry, value.Str(), Version1);
        return true;
    }

    bool ReadLink()
    {
        s32 v[DOC_LINK_NUMBERS] = {-1, -1, -1, -1};
        bool complete = true;
        for (u32 i = 0; i < DOC_LINK_NUMBERS && complete; ++i)
            complete = Cursor.Integer(v[i]);
        const s32 count = (s32)Into.Nodes.Count();
        const bool nodes = complete && v[0] >= 0 && v[0] < count && v[2] >= 0 && v[2] < count;
        STexProcNode* src = nodes ? Into.Nodes[(u32)v[0]] : nullptr;
        STexProcNode* dst = nodes ? Into.Nodes[(u32)v[2]] : nullptr;
        if (!nodes || v[1] < 0 || (u32)v[1] >= src->OutParams.Count() || v[3] < 0 ||
            (u32)v[3] >= dst->InParams.Count())
        {
            Box(DOC_BOX_LINK, "File: %s\nNode 1: %d\nNode 2: %d\nNode count: %d", Path, (int)v[0], (int)v[2],
                (int)count);
            return false;
        }
        // Made once all are read: one at a time, each would walk and reorder the graph.
        Links.Add(SCapturedLink{(u32)v[0], (u32)v[1], (u32)v[2], (u32)v[3]});
        return true;
    }
};
} // namespace

bool DocumentText(STexProcessor& processor, TString& out)
{
    out = DOC_VERSION_2;
    out += '\n';
    for (STexProcNode* node : processor.Nodes)
    {
        if (BREAK_IF(!node->ClassInfo || !node->ClassInfo->Props))
            return false;
        TArray<SPropDesc> list;
        InstantiatePropTable(list, node->ClassInfo->Props);
        node->StoreParams(list);
        TString params;
        PropTableToText(list, params);
        out += "NODE ";
        out += node->ClassInfo->Name;
        out += ' ';
        out += params;
        out += '\n';
    }
    TString line;
    for (u32 n = 0; n < processor.Nodes.Count(); ++n)
    {
        const STexProcNode* node = processor.Nodes[n];
        for (u32 o = 0; o < node->OutParams.Count(); ++o)
            for (const NodePin* in : node->OutParams[o]->Links)
            {
                const int target = processor.IndexOfNode(in->Owner);
                const int pin = target >= 0 ? in->Owner->InParams.Find(const_cast<NodePin*>(in)) : -1;
                if (target < 0 || pin < 0)
                    continue;
                line.Format(DOC_LINK_LINE_SIZE, "LINK %d %d %d %d\n", (int)n, (int)o, target, pin);
                out += line;
            }
    }
    return true;
}

bool ReadDocumentText(STexProcessor& into, const TString& text, const char* path, int quiet)
{
    SDocReader reader(into, text, path, quiet);
    return reader.Read();
}

int STexProcessor::SaveDocument(const char* path)
{
    if (!path || !*path)
        return 0;
    // The path may be the file name or the document path themselves.
    const TString target(path);
    const TString previous = CurrentDocumentPath();
    // Nodes store their file names relative to the document they are saved in.
    SetCurrentDocumentPath(target);
    TString text;
    if (!DocumentText(*this, text) || !WriteTextFile(target.Str(), text))
    {
        SetCurrentDocumentPath(previous);
        return 0;
    }
    FileName = target;
    Edited = 0;
    return 1;
}


EDocBudget DocumentBudgetSpent()
{
    return GBudgetSpent;
}

TString DocumentBudgetText(EDocBudget spent)
{
    TString text;
    if (spent == DOC_TooManyDocuments)
        text.Format(DOC_BOX_TEXT_SIZE, "Too many inner documents: one load brings in at most %u",
                    (unsigned)DOC_MAX_INNER_DOCUMENTS);
    else if (spent == DOC_TooManyBytes)
        text.Format(DOC_BOX_TEXT_SIZE, "Documents too large: one load reads at most %u MiB",
                    (unsigned)(DOC_MAX_LOAD_BYTES / BYTES_PER_MIB));
    else if (spent == DOC_TooManyNodes)
        text.Format(DOC_BOX_TEXT_SIZE, "Too many nodes: one load makes at most %u, its inner documents' included",
                    (unsigned)DOC_MAX_LOAD_NODES);
    else if (spent == DOC_Refused)
        text = GRefusal;
    return text;
}

TString DocumentRefusal(const char* path, TString& readName, int& fd)
{
    readName = path ? path : "";
    fd = -1;
    const TString full = MakeFullPath(readName);
    TString reason;
    if (const char* system = KernelFileSystemAt(full.Str()))
        reason.Format(DOC_BOX_TEXT_SIZE, "it lies on the kernel's %s file system, which holds no documents", system);
    else if (GOwnerRule || GInnerRule)
    {
        TString walked;
        bool refused = false;
        fd = OpenFileToRead(full, GOwnerRule ? READ_OwnerOnly : READ_NotPlanted, walked, reason, refused);
        if (fd >= 0)
            readName = walked;
        // A document that is not there, or that the system will not give, is one that cannot be
        // read, not one that is refused; but a job takes nothing it cannot vouch for.
        else if (!refused && (!GOwnerRule || errno == ENOENT || errno == ENOTDIR))
        {
            reason = "";
            readName = "";
        }
    }
    return reason;
}

TDocOwnerRule::TDocOwnerRule() : Was(GOwnerRule)
{
    GOwnerRule = true;
}

TDocOwnerRule::~TDocOwnerRule()
{
    GOwnerRule = Was;
}

TDocInnerRule::TDocInnerRule() : Was(GInnerRule)
{
    GInnerRule = true;
}

TDocInnerRule::~TDocInnerRule()
{
    GInnerRule = Was;
}

namespace
{
const char* BudgetBoxTitle(EDocBudget spent)
{
    switch (spent)
    {
    case DOC_TooManyBytes: return DOC_BOX_TOO_LARGE;
    case DOC_TooManyNodes: return DOC_BOX_TOO_MANY_NODES;
    case DOC_Refused: return DOC_BOX_REFUSED;
    default: return DOC_BOX_TOO_MANY_DOCUMENTS;
    }
}
} // namespace

int STexProcessor::LoadDocument(const char* path, int quiet, int process)
{
    if (!path)
        return 0;
    const u64 refusals = TEX_BudgetRefusals();
    if (GLoadDepth == 0)
    {
        GInnerLoadsLeft = DOC_MAX_INNER_DOCUMENTS;
        GLoadBytesLeft = DOC_MAX_LOAD_BYTES;
        GLoadNodesLeft = DOC_MAX_LOAD_NODES;
        GBudgetSpent = DOC_WithinBudget;
    }
    else if (GBudgetSpent != DOC_WithinBudget)
        // The whole load fails already: nothing more is read for it.
        return 0;
    else if (GInnerLoadsLeft == 0)
    {
        GBudgetSpent = DOC_TooManyDocuments;
        return 0;
    }
    else
        --GInnerLoadsLeft;
    TString source(path);
    TString readName;
    int fd;
    const TString refusal = DocumentRefusal(source.Str(), readName, fd);
    if (!refusal.IsEmpty())
    {
        GBudgetSpent = DOC_Refused;
        GRefusal.Format(DOC_BOX_TEXT_SIZE, "the document \"%s\" is not read: %s", source.Str(), refusal.Str());
    }
    // Under the owner rule the name without links is the document's own, for what it names too.
    else if (GOwnerRule)
        source = readName;
    TString text;
    u64 size = 0;
    // What the rules were asked about is what is read: the file they opened.
    bool read = refusal.IsEmpty() && !readName.IsEmpty() &&
                (fd >= 0 ? ReadTextFileFrom(fd, text, GLoadBytesLeft, size)
                         : ReadTextFile(readName.Str(), text, GLoadBytesLeft, size));
    if (!read && size > GLoadBytesLeft)
        GBudgetSpent = DOC_TooManyBytes;
    const TString previous = CurrentDocumentPath();
    STexProcessor loaded;
    if (read)
    {
        GLoadBytesLeft -= size;
        // Nodes resolve their file names against the document being read.
        SetCurrentDocumentPath(source);
        SLoadDepthScope inner;
        read = ReadDocumentText(loaded, text, source.Str(), quiet);
    }
    if (GLoadDepth == 0 && GBudgetSpent != DOC_WithinBudget)
    {
        read = false;
        if (!quiet)
        {
            TString message;
            message.Format(DOC_BOX_TEXT_SIZE, "File: %s\n%s", source.Str(), DocumentBudgetText(GBudgetSpent).Str());
            gSysMessage(message.Str(), BudgetBoxTitle(GBudgetSpent));
        }
    }
    if (!read)
    {
        SetCurrentDocumentPath(previous);
        return 0;
    }
    ClearNodes();
    // The nodes were its only children; the update list is queued and ordered already.
    loaded.Children.Clear();
    loaded.DrawOrder.Clear();
    for (STexProcNode* node : loaded.Nodes)
    {
        AddChild(node);
        Nodes.Add(node);
        node->Owner = this;
        // Marks of the other processor's graph walks mean nothing to this one's.
        node->VisitMark = 0;
        node->RunMark = 0;
    }
    UpdateList = loaded.UpdateList;
    loaded.Nodes.Clear();
    loaded.UpdateList.Clear();
    Edited = 1;
    LayoutsDue = 1;
    if (process)
        ProcessAll();
    if (GLoadDepth == 0)
        TexturesRefused = TEX_BudgetRefusals() != refusals;
    FileName = source;
    Edited = 0;
    return 1;
}
