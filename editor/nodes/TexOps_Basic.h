// The Basic family: nodes that bring images into the graph and out of it, and the plain image
// operations. Its menu class is STNBasicMenu.
#pragma once

#include "GameImageFile.h"
#include "TexNodeClass.h"

// Chooses a file to read: non-zero with the path in out, 0 when cancelled. The file node's
// "Load texture" button asks it (tests put a scripted one in its place).
typedef int (*TNodeFileDialog)(const char* initialFolder, const char* filter, TString& out, int save);
extern TNodeFileDialog GNodeFileDialog;

extern const char* const FILE_NODE_FILTER; // with its zero separators
extern const char* const FILE_NODE_DIALOG_FOLDER;

// An image file on the single output "Texture"; no input and no pass.
class STexNode_File : public STexProcNode
{
public:
    enum
    {
        P_TexName = 1,
        P_RelKVF,
    };
    s32 RelKVF;
    TString TexName;
    TString LoadedPath; // the path the image actually came from; empty when none loaded
    TString LoadFailure; // which file did not load and why; empty when one loaded

    explicit STexNode_File(TArray<SPropDesc>& list);
    ~STexNode_File() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    const TString& SourceFailure() const override { return LoadFailure; }

    // Loads the image from the name: beside the current document first when relative names are
    // on and a document path exists, then the name itself. Non-zero when an image loaded.
    int LoadImage();
    // The name that is written: relative to the document's folder when relative names are on.
    TString StoredName() const;

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// The variables a file name gives an output template: its folder with the separator, its file
// part without the last four characters and the last three characters. Parts too short for
// either give what they hold, never more.
struct SExtractNameParts
{
    TString Path, Name, Ext;
};
SExtractNameParts ExtractNameParts(const TString& file);
// Replaces $(Path), $(Path2), $(Name), $(Name2), $(Ext) and $(Ext2) in one pass over the
// template: values are copied as they are, other "$(" forms stay.
TString ExpandExtractTemplate(const TString& tmpl, const SExtractNameParts& target, const SExtractNameParts& second);

// The image autosave node: writes the texture on input "Texture" to a file on every processing,
// the name made from the template with the target file's parts and those of the optional
// "[opt] Name" input's texture.
class STexNode_Extract : public STexProcNode
{
public:
    enum
    {
        P_TexName = 1,
        P_ProcStr,
        P_RelKVF,
        P_Overwrite,
    };
    enum
    {
        IN_Texture = 0,
        IN_Name,
    };
    TString TexName;
    TString ProcStr;
    s32 RelKVF;
    s32 Overwrite;
    SImageSaveOptions SaveOptions;
    TString Written; // the full path its last processing wrote; empty when it wrote nothing

    explicit STexNode_Extract(TArray<SPropDesc>& list);
    ~STexNode_Extract() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;

    // The output file name for the current inputs.
    TString OutputName();

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// The status texts of the image autosave node, in the order its checks run (the first two are
// the shared input texts).
extern const char* const EXTRACT_INVALID_NAME;
extern const char* const EXTRACT_INVALID_EXTENSION;
extern const char* const EXTRACT_EXISTS;
extern const char* const EXTRACT_SAVE_FAILED;
