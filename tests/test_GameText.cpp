#include "TestSupport.h"

#include <stdio.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "GameText.h"

static std::string S(const TString& t)
{
    return std::string(t.text, t.count);
}

static void WriteFile(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

static std::string Value(const TMap<TString, TString>& m, const char* key)
{
    const TMap<TString, TString>::Node* n = m.Find(TString(key));
    return n ? S(n->value) : std::string("<missing>");
}

static u32 Parse(const std::string& text, TMap<TString, TString>& out)
{
    return TEXT_ParseEntries(TString(text.data(), (u32)text.size()), out);
}

TEST(TextDictionaryParse, EntriesCommentsAndEscapes)
{
    TMap<TString, TString> m;
    const std::string text = "// texts for the main window\n"
                             "# another comment = \"not a value\"\n"
                             "OK = \"Ok\"\n"
                             "\tCANCEL=\"Cancel\"   \r\n"
                             "MF_New  =  \"New \\\"graph\\\"\\tnow\\n\"\n"
                             "NoEquals \"tolerated\"\n"
                             "Bell=\"\\a\\b\\\\\"\n"
                             "OK=\"Okay\"\n"
                             "Multi=\"one\ntwo\nthree\"\n"
                             "Empty=\"\"";
    EXPECT_EQ(Parse(text, m), 8u);
    EXPECT_EQ(m.count, 7u);
    EXPECT_EQ(Value(m, "OK"), "Okay"); // a later entry replaces an earlier one
    EXPECT_EQ(Value(m, "CANCEL"), "Cancel");
    EXPECT_EQ(Value(m, "MF_New"), "New \"graph\"\tnow\n");
    EXPECT_EQ(Value(m, "NoEquals"), "tolerated");
    EXPECT_EQ(Value(m, "Bell"), "ab\\");
    EXPECT_EQ(Value(m, "Multi"), "one\ntwo\nthree");
    EXPECT_EQ(Value(m, "Empty"), "");
    EXPECT_EQ(Value(m, "another"), "<missing>");
}

TEST(TextDictionaryParse, MalformedTextsEndAndKeepWhatIsWhole)
{
    {
        TMap<TString, TString> m;
        // Values span lines, so B runs to C's opening quote; what follows has no value.
        EXPECT_EQ(Parse("A=\"1\"\nB=\"spans\nC=\"3", m), 2u);
        EXPECT_EQ(Value(m, "A"), "1");
        EXPECT_EQ(Value(m, "B"), "spans\nC=");
    }
    {
        TMap<TString, TString> m;
        EXPECT_EQ(Parse("A=\"1\"\nB=\"never closed\nC=3", m), 1u);
        EXPECT_EQ(Value(m, "A"), "1");
        EXPECT_EQ(Value(m, "B"), "<missing>");
    }
    {
        // A key without a value on its line does not take the next line's value.
        TMap<TString, TString> m;
        EXPECT_EQ(Parse("Lonely\nNext=\"n\"\nX = y\nLast=\"l\"", m), 2u);
        EXPECT_EQ(Value(m, "Next"), "n");
        EXPECT_EQ(Value(m, "Last"), "l");
        EXPECT_EQ(Value(m, "Lonely"), "<missing>");
    }
    {
        TMap<TString, TString> m;
        EXPECT_EQ(Parse("", m), 0u);
        EXPECT_EQ(Parse("   \n\t\r\n", m), 0u);
        EXPECT_EQ(Parse("====\"\"\"\"", m), 0u);
        EXPECT_EQ(Parse("KEY", m), 0u);
        EXPECT_EQ(Parse("KEY=", m), 0u);
        EXPECT_EQ(Parse("KEY=\"\\", m), 0u);
        EXPECT_EQ(Parse(std::string("\0\0A=\"1\"", 8), m), 0u); // a zero byte ends nothing early
    }
    // Random bytes: parsing always ends.
    std::mt19937 rng(7);
    const char alphabet[] = "AZ_09=\" \t\r\n\\#$\x80\xff";
    for (int k = 0; k < 3000; ++k)
    {
        std::string t;
        int n = (int)(rng() % 40);
        for (int i = 0; i < n; ++i)
            t += alphabet[rng() % (sizeof(alphabet) - 1)];
        TMap<TString, TString> m;
        u32 read = Parse(t, m);
        EXPECT_GE(read, m.count);
    }
}

class TextDictionary : public testing::Test
{
protected:
    TTempDir dir;
    std::string Folder(const char* lang)
    {
        std::string f = dir.File(lang);
        mkdir(f.c_str(), 0755);
        mkdir((f + "/nodes").c_str(), 0755);
        return f + "/";
    }
};

TEST_F(TextDictionary, LaterFilesOverrideEarlierOnes)
{
    std::string en = Folder("en-US");
    WriteFile(en + "default.txt", "OK=\"Ok\"\nCANCEL=\"Cancel\"\nTITLE=\"Plumweave\"\n");
    WriteFile(en + "nodes/basic.txt", "OK=\"Fine\"\nSTexNode_File=\"File\"\n");

    STextDictionary d;
    d.SetLanguage(en.c_str());
    EXPECT_TRUE(d.Load("default.txt"));
    EXPECT_TRUE(d.Load("nodes/basic.txt"));
    ASSERT_EQ(d.Files.Count(), 2u);
    EXPECT_EQ(S(d.Files[1].FileName), "nodes/basic.txt");
    EXPECT_EQ(S(d.Get("OK")), "Fine");
    EXPECT_EQ(S(d.Get("CANCEL")), "Cancel");
    EXPECT_EQ(S(d.Get("STexNode_File")), "File");
    EXPECT_EQ(S(d.Get("Nope")), "");
    d.Default = "?";
    EXPECT_EQ(S(d.Get("Nope")), "?");

    TString out("untouched");
    EXPECT_FALSE(d.Find("ok", out));
    EXPECT_EQ(S(out), "untouched");
    EXPECT_TRUE(d.Find("TITLE", out));
    EXPECT_EQ(S(out), "Plumweave");

    EXPECT_EQ(d.IsLoaded("default.txt"), &d.Files[0]);
    EXPECT_EQ(d.IsLoaded("Default.txt"), nullptr);

    // Loading a loaded name again reads nothing, even after the file changed.
    WriteFile(en + "default.txt", "OK=\"Changed\"\nCANCEL=\"Changed\"\n");
    EXPECT_TRUE(d.Load("default.txt"));
    EXPECT_EQ(d.Files.Count(), 2u);
    EXPECT_EQ(S(d.Get("CANCEL")), "Cancel");
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(TextDictionary, MissingAndEmptyFilesAddNothing)
{
    std::string en = Folder("en-US");
    WriteFile(en + "default.txt", "A=\"a\"\n");
    WriteFile(en + "comments.txt", "// nothing here\n");
    STextDictionary d;
    d.SetLanguage(en.c_str());
    ASSERT_TRUE(d.Load("default.txt"));

    // Non-interactive: the retry question is answered No at once.
    EXPECT_FALSE(d.Load("missing.txt"));
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_EQ(RecordedBoxes()[0].kind, SYSBOX_Question);
    EXPECT_EQ(RecordedBoxes()[0].caption, "Text dictionary processor error");
    EXPECT_EQ(RecordedBoxes()[0].text, "Failed loading text dictionary\n" + en + "missing.txt\n\nRetry?");
    EXPECT_EQ(d.Files.Count(), 1u);
    EXPECT_EQ(d.IsLoaded("missing.txt"), nullptr);

    // A folder given as a file fails like a missing file.
    EXPECT_FALSE(d.Load("nodes"));
    EXPECT_EQ(d.Files.Count(), 1u);

    EXPECT_TRUE(d.Load("comments.txt"));
    EXPECT_EQ(d.Files.Count(), 1u);
    EXPECT_EQ(d.IsLoaded("comments.txt"), nullptr);
    EXPECT_EQ(S(d.Get("A")), "a");
}

namespace
{
// Answers the retry question Yes after putting the missing file in place, as a user would who
// copied it there before pressing Yes; every other box goes to the recording hook.
TSysBoxHook GOuterHook = nullptr;
std::string GLatePath;
int GRetryQuestions = 0;

int ProvideFileThenRetry(ESysBoxKind kind, const char* text, const char* caption)
{
    const int answer = GOuterHook(kind, text, caption);
    if (kind != SYSBOX_Question)
        return answer;
    ++GRetryQuestions;
    if (GRetryQuestions == 2)
        WriteFile(GLatePath, "LATE=\"here now\"\n");
    return GRetryQuestions <= 3 ? 1 : 0;
}
} // namespace

TEST_F(TextDictionary, YesRetriesTheReadUntilTheFileIsThere)
{
    std::string en = Folder("en-US");
    GLatePath = en + "late.txt";
    GRetryQuestions = 0;
    GOuterHook = gSysGetBoxHook();
    gSysSetBoxHook(ProvideFileThenRetry);
    STextDictionary d;
    d.SetLanguage(en.c_str());
    const bool loaded = d.Load("late.txt");
    gSysSetBoxHook(GOuterHook);

    // Asked twice; the read after the second Yes finds the file.
    EXPECT_EQ(GRetryQuestions, 2);
    EXPECT_TRUE(loaded);
    ASSERT_EQ(d.Files.Count(), 1u);
    EXPECT_EQ(S(d.Get("LATE")), "here now");
    ASSERT_EQ(RecordedBoxes().size(), 2u);
    EXPECT_EQ(RecordedBoxes()[1].caption, "Text dictionary processor error");
}

TEST_F(TextDictionary, SetLanguageReloadsTheSameNamesInOrder)
{
    std::string en = Folder("en-US");
    std::string de = Folder("de-DE");
    WriteFile(en + "default.txt", "OK=\"Ok\"\nYES=\"Yes\"\n");
    WriteFile(en + "nodes/a.txt", "OK=\"Ok from a\"\n");
    WriteFile(de + "default.txt", "OK=\"Gut\"\nYES=\"Ja\"\n");
    WriteFile(de + "nodes/a.txt", "OK=\"Gut aus a\"\n");

    STextDictionary d;
    d.SetLanguage(en.c_str());
    d.Load("default.txt");
    d.Load("nodes/a.txt");
    EXPECT_EQ(S(d.Get("OK")), "Ok from a");

    d.SetLanguage(de.c_str());
    EXPECT_EQ(S(d.Folder), de);
    ASSERT_EQ(d.Files.Count(), 2u);
    EXPECT_EQ(S(d.Files[0].FileName), "default.txt");
    EXPECT_EQ(S(d.Files[1].FileName), "nodes/a.txt");
    EXPECT_EQ(S(d.Get("OK")), "Gut aus a");
    EXPECT_EQ(S(d.Get("YES")), "Ja");

    // The same folder again does not reload.
    WriteFile(de + "default.txt", "YES=\"Jawohl\"\n");
    d.SetLanguage(de.c_str());
    EXPECT_EQ(S(d.Get("YES")), "Ja");
}

TEST(TextDictionaryExpand, ReplacesKnownKeysOnly)
{
    STextDictionary d;
    STextSection s;
    s.FileName = "mem";
    s.Entries.GetOrAdd("CANCEL") = "Cancel";
    s.Entries.GetOrAdd("A") = "first";
    s.Entries.GetOrAdd("B") = "2nd";
    s.Entries.GetOrAdd("LOOP") = "$A$";
    s.Entries.GetOrAdd("MFNew") = "New";
    s.Entries.GetOrAdd("NONE") = "";
    d.Files.Add(s);

    auto expand = [&](const char* in) {
        TString t(in);
        d.Expand(t);
        return S(t);
    };
    EXPECT_EQ(expand("$CANCEL$"), "Cancel");
    EXPECT_EQ(expand("[$CANCEL$]"), "[Cancel]");
    EXPECT_EQ(expand("$MISSING$ and $CANCEL$"), "$MISSING$ and Cancel");
    EXPECT_EQ(expand("$A$$B$"), "first2nd");
    EXPECT_EQ(expand("$LOOP$ $B$"), "$A$ 2nd"); // an inserted value is not scanned again
    EXPECT_EQ(expand("$MF New$"), "New");       // characters outside keys are not part of them
    EXPECT_EQ(expand("x$NONE$y"), "xy");
    EXPECT_EQ(expand("costs 5$"), "costs 5$");
    EXPECT_EQ(expand("$$"), "$$");
    EXPECT_EQ(expand(""), "");
    EXPECT_EQ(expand("no keys"), "no keys");
}
