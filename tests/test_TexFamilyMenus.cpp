// Every family menu of the bar: each item that is not disabled gives one node (of the class its text
// key names, where the text is a class key), disabled items give none, and every class of the
// ordered list is offered by exactly one item except the few no menu offers.
#include "GLTestContext.h"
#include "TestSupport.h"

#include <set>
#include <string>

#include "TexNodeClass.h"
#include "TexNodeRegistry.h"

namespace
{
// Classes that exist for documents but that no menu item creates.
const std::set<std::string> NOT_OFFERED = {"STexNode_VFBlur", "STexNode_AntiAlias"};

const char* const CLASS_KEY_PREFIX = "$STexNode_";

bool IsTitle(const TString& text)
{
    return text.Length() >= 2 && text.Str()[0] == '-' && text.Str()[1] == '-';
}

// Menus and nodes draw with the shipped shaders when they are made.
class TexFamilyMenus : public GLTestFixture
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
    }
    void TearDown() override { shaders.End(); }
};
} // namespace

TEST_F(TexFamilyMenus, EachItemGivesItsNodeAndEveryOfferedClassHasExactlyOneItem)
{
    std::set<std::string> offered;
    for (u32 m = 0; m < TexFamilyMenuCount(); ++m)
    {
        STexProcessor p;
        SPopupMenu* popup = TexFamilyMenu(m)->Create(&p);
        STNFamilyMenu* menu = dynamic_cast<STNFamilyMenu*>(popup);
        ASSERT_NE(menu, nullptr) << TexFamilyMenu(m)->Label;
        int counted = 0;
        for (u32 o = 0; o < menu->Options.Count(); ++o)
        {
            const TString& label = menu->Options[o];
            if (IsTitle(label))
                continue;
            const int index = counted++;
            const u32 before = p.Nodes.Count();
            menu->OnSelect(index);
            if (gStrStr(label.Str(), NODE_MENU_DISABLED_PREFIX) == label.Str())
            {
                EXPECT_EQ(p.Nodes.Count(), before) << label.Str();
                continue;
            }
            ASSERT_EQ(p.Nodes.Count(), before + 1) << label.Str();
            const STexProcNode* node = p.Nodes[before];
            const std::string cls = node->ClassInfo->Name;
            EXPECT_EQ(offered.count(cls), 0u) << cls << " offered twice";
            offered.insert(cls);
            if (gStrStr(label.Str(), CLASS_KEY_PREFIX) == label.Str())
            {
                EXPECT_EQ("$" + cls + "$", std::string(label.Str()));
            }
        }
        delete popup;
    }
    for (u32 i = 0; i < TexNodeClassCount(); ++i)
    {
        const std::string cls = TexNodeClassRecord(i)->Name;
        EXPECT_EQ(offered.count(cls) == 1, NOT_OFFERED.count(cls) == 0) << cls;
    }
}
