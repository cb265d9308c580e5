// Linked from the portable platform functions, the string and the containers alone, without
// SDL or any window system: the program existing proves that they need nothing more. Run by
// the tests, it prints what the pieces make so that their output can be compared.
#include "GString.h"
#include "GTemplate.h"

#include <stdio.h>

namespace
{
// A platform back-end as the Linux half installs one, answering Yes to every question.
int ShowByPrinting(ESysBoxKind kind, const char* text, const char* caption)
{
    printf("shown %d: [%s] %s\n", (int)kind, caption, text);
    return kind == SYSBOX_Question ? SYS_IDYES : SYS_IDOK;
}

bool PersonPresent()
{
    return true;
}

const SSysBoxBackend GPrintingBackend = {ShowByPrinting, PersonPresent};
} // namespace

int main()
{
    // Without the platform half no real box can be shown: a message prints and is answered.
    const int answer = gSysMessage("no window system here", "portable");
    fflush(stderr);

    TArray<TString> words;
    const char* const input[] = {"pear", "apple", "fig"};
    for (const char* w : input)
        words.Add(TString(w));
    TMap<TString, int> lengths;
    TString joined;
    for (u32 i = 0; i < words.Count(); ++i)
    {
        lengths.Insert(words[i], (int)words[i].Length());
        joined += words[i];
        joined += i + 1 < words.Count() ? "," : "";
    }
    const int* fig = lengths.FindValue(TString("fig"));
    TString line;
    line.Format(128, "%s|%d|%d|%d", joined.Str(), fig ? *fig : -1, answer, StrToInt("-42"));
    printf("%s\n", line.Str());

    // A back-end installed later is used (the mode is detected again with it) until the mode is
    // forced.
    gSysSetBoxBackend(&GPrintingBackend);
    printf("yes=%d\n", gSysQuestion("go on?", "portable") ? 1 : 0);
    fflush(stdout);
    gSysSetInteractive(false);
    const bool forced = gSysQuestion("go on?", "forced");
    fflush(stderr);
    printf("yes=%d\n", forced ? 1 : 0);
    return 0;
}
