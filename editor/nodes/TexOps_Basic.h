// The Basic family: nodes that bring images into the graph and out of it, and the plain image
// operations. Its menu class is STNBasicMenu.
#pragma once

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

    explicit STexNode_File(TArray<SPropDesc>& list);
    ~STexNode_File() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;

    // Loads the image from the name: beside the current document first when relative names are
    // on and a document path exists, then the name itself. Non-zero when an image loaded.
    int LoadImage();
    // The name that is written: relative to the document's folder when relative names are on.
    TString StoredName() const;

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};
