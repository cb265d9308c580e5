// A popup menu that records what was picked, and a menu window that draws only its bar.
#pragma once

#include <vector>

#include "TexGUI.h"

class TTestMenu : public SPopupMenu
{
public:
    std::vector<int> Picks;
    explicit TTestMenu(const std::vector<const char*>& options)
    {
        for (const char* o : options)
            Options.Add(TString(o));
    }
    void OnSelect(int index) override { Picks.push_back(index); }
};

class TTestMenuWindow : public SMenuWindow
{
public:
    void Frame() override { DrawMenuBar(); }
};
