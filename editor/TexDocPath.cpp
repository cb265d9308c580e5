#include "TexDocPath.h"

#include <stdlib.h>
#include <unistd.h>

#include "GameFileIO.h"

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

TString AppWorkingFolder()
{
    TString out;
    char* cwd = getcwd(nullptr, 0);
    if (cwd)
    {
        out = cwd;
        free(cwd);
        out = AddTrailingSlash(out);
    }
    return out;
}

TString PathInFolder(const TString& folder, const TString& arg)
{
    if (arg.IsEmpty() || IsPathSeparator(arg.Str()[0]))
        return arg;
    TString out = folder;
    out += arg;
    return out;
}

TString AppDocumentPath(const TString& arg)
{
    return PathInFolder(AppWorkingFolder(), arg);
}
