#include "TexDocPath.h"

namespace
{
TString& Storage()
{
    static TString path;
    return path;
}
} // namespace

const TString& CurrentDocumentPath()
{
    return Storage();
}

void SetCurrentDocumentPath(const TString& path)
{
    Storage() = path;
}
