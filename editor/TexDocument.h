// The node-graph document (".kvf"): a version line, one NODE line per node with its class name and
// its parameters as quoted value texts (base entries first), then one LINK line per link as four
// indices. STexProcessor::SaveDocument and LoadDocument write and read it, and set the current
// document path (TexDocPath.h) while they run; it keeps its old value when they fail.
#pragma once

#include "GString.h"

class STexProcessor;

// The first word of a document; version 1 documents hold bare words instead of quoted values.
extern const char* const DOC_VERSION_2;
extern const char* const DOC_VERSION_1;

// Titles of the boxes a failed load shows (unless quiet).
extern const char* const DOC_BOX_VERSION;
extern const char* const DOC_BOX_NODE_NAME;
extern const char* const DOC_BOX_PARAMETER;
extern const char* const DOC_BOX_LINK;
extern const char* const DOC_BOX_TOO_MANY_DOCUMENTS;
extern const char* const DOC_BOX_TOO_LARGE;
extern const char* const DOC_BOX_TOO_MANY_NODES;
extern const char* const DOC_BOX_REFUSED;

// What one load may bring in beneath it (through sub-graph nodes, at any depth): documents, the
// bytes of all documents it reads, its own included, and the nodes of them all. Beyond any of
// them the inner loads fail and so does the whole load, so that a document cannot make its loads
// multiply without end, have a huge file read or fill the memory with nodes.
static const u32 DOC_MAX_INNER_DOCUMENTS = 4096;
static const u64 DOC_MAX_LOAD_BYTES = 64u << 20;
static const u32 DOC_MAX_LOAD_NODES = 65536;
enum EDocBudget
{
    DOC_WithinBudget = 0,
    DOC_TooManyDocuments,
    DOC_TooManyBytes,
    DOC_TooManyNodes,
    // A document it reads is not read at all (DocumentRefusal): the whole load fails with it.
    DOC_Refused,
};
// What the last load run at the top (not from inside another load) ran out of; set also while
// the load that ran out is still going on.
EDocBudget DocumentBudgetSpent();
// The reason in words ("Too many inner documents: ..."); empty within the budget. For
// DOC_Refused, the refusal of the last load that had one.
TString DocumentBudgetText(EDocBudget spent);

// Why no load reads the document at path (as the file layer takes it), in words, empty when
// loads may: a file of the kernel's own file systems; while a TDocOwnerRule lives, one that is
// not READ_OwnerOnly's (GameFileAccess.h), and while only a TDocInnerRule lives, one that is not
// READ_NotPlanted's. Under either rule fd receives the document opened where it was checked
// (else -1) and readName the name as walked, without links; otherwise readName is path. readName
// is empty when nothing is there to read.
TString DocumentRefusal(const char* path, TString& readName, int& fd);
// While one lives, every document a load reads, the inner ones too, must be its user's own as
// READ_OwnerOnly says: a job's documents, which any local user may send.
class TDocOwnerRule
{
public:
    TDocOwnerRule();
    ~TDocOwnerRule();

private:
    bool Was;
};
// While one lives, the documents loads read are sub-graphs that a document, not the user, named:
// none that another user could have planted for this one (READ_NotPlanted), at any depth.
class TDocInnerRule
{
public:
    TDocInnerRule();
    ~TDocInnerRule();

private:
    bool Was;
};

// The whole document text of a graph: nodes in list order, links node by node, output pin by
// output pin. false (with an assertion) for a node that no class record made.
bool DocumentText(STexProcessor& processor, TString& out);

// Reads a document text into an empty processor: nodes created through the class registry, links
// made; nothing is laid out or processed. false on a wrong version word, an unknown class or an
// invalid link, each with its box unless quiet; the processor then holds what was read so far.
bool ReadDocumentText(STexProcessor& into, const TString& text, const char* path, int quiet);
