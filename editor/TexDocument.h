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

// The documents that one load may bring in beneath it (through sub-graph nodes, at any depth).
// Beyond it the inner loads fail and so does the whole load, so that a document cannot make
// its loads multiply without end.
static const u32 DOC_MAX_INNER_DOCUMENTS = 4096;
// Whether the last load run at the top (not from inside another load) ran out of inner
// documents; true also while the load that ran out is still going on.
bool DocumentBudgetSpent();

// The whole document text of a graph: nodes in list order, links node by node, output pin by
// output pin. false (with an assertion) for a node that no class record made.
bool DocumentText(STexProcessor& processor, TString& out);

// Reads a document text into an empty processor: nodes created through the class registry, links
// made; nothing is laid out or processed. false on a wrong version word, an unknown class or an
// invalid link, each with its box unless quiet; the processor then holds what was read so far.
bool ReadDocumentText(STexProcessor& into, const TString& text, const char* path, int quiet);
