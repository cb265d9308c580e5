// Shared test helpers: every message box and assertion goes through a recording hook, and a
// BREAK_IF that a test did not announce fails that test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GameSys.h"

struct SRecordedBox
{
    ESysBoxKind kind;
    std::string text;
    std::string caption;
};

// Everything the hook saw since the current test started.
std::vector<SRecordedBox>& RecordedBoxes();
// Scripted answer for questions (and file dialogs): default No.
void SetQuestionAnswer(int answer);

// While alive, assertions whose text contains `expected` are allowed; on destruction the scope
// checks that at least `minCount` of them happened.
class TExpectBreak
{
public:
    explicit TExpectBreak(const char* expected, int minCount = 1);
    ~TExpectBreak();
    int Seen() const;

private:
    std::string expected;
    int minCount;
    size_t firstIndex;
};

// Number of recorded assertion boxes whose text contains `part`.
int CountBreaks(const char* part);

// A fresh empty folder for one test, removed with the object. A threadsafe death test runs the
// test body again in a child that ends without destructors: the folders made there lie inside the
// parent's newest one, so that they go with it.
class TTempDir
{
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string File(const char* name) const { return path + "/" + name; }

private:
    std::string path;
    std::string outer; // the newest folder before this one, for the children made after it goes
    bool owned = false;
};

// The folder a threadsafe death test's child works in. The parent makes it; the child runs the
// test body again and finds it through the environment the parent left.
std::string DeathDir();
// Removes that folder (call in the parent once the death assertions are done; a folder the test
// left behind, a failed one's say, goes when the test ends).
void RemoveDeathDir(const std::string& dir);
