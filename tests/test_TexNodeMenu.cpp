// The node menus: the node menu's items per pin under the mouse, output and format override, each
// item reaching its own action; the choice menu storing the position of the item picked in its
// value list; the animation menus; saving a node's output as an image file.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <functional>
#include <string>
#include <vector>

#include "GameImage.h"
#include "GameImageFile.h"

namespace
{
const float DT = 0.01f;
const int OUTPUT_SIZE = 4;
const char* const MISSING_FOLDER_CAUSE = "No such file or directory";

enum EPin
{
    PIN_None,
    PIN_Input,
    PIN_Output,
};

std::vector<std::string> Items(const SPopupMenu& m)
{
    std::vector<std::string> v;
    for (const TString& o : m.Options)
        v.push_back(o.Str());
    return v;
}

// The counted index of the item with that label (section titles are not counted).
int CountedIndex(const SPopupMenu& m, const char* label)
{
    int counted = 0;
    for (const TString& o : m.Options)
    {
        if (SPopupMenu::IsSectionTitle(o))
            continue;
        if (o == label)
            return counted;
        ++counted;
    }
    return -1;
}

void PointAt(STexProcessor& p, STexProcNode* n, EPin pin)
{
    if (pin == PIN_Input)
        GMousePos = p.PinScreenPos(n->InParams[0]);
    else if (pin == PIN_Output)
        GMousePos = p.PinScreenPos(n->OutParams[0]);
    else
        GMousePos = mVec2(n->Rect.x0 + NODE_WIDTH * 0.5f, n->Rect.y0 + NODE_CAPTION_HEIGHT * 0.5f);
}
} // namespace

class TexNodeMenu : public GUIDrawTest
{
protected:
    void SetUp() override
    {
        GUIDrawTest::SetUp();
        TestProcessLog().clear();
    }
};

TEST_F(TexNodeMenu, ItemsFollowThePinUnderTheMouseTheOutputAndTheOverride)
{
    struct Case
    {
        EPin pin;
        bool output;
        s32 override_;
        std::vector<std::string> items;
    };
    const std::string title = "--\"Test pins\"", name = "Name: \"<unnamed>\"";
    const std::vector<std::string> formats = {"--Texture format", "Override to UB8", "Override to FP16", "Override to FP32"};
    auto with = [&](std::vector<std::string> head, const char* fourth) {
        head.insert(head.end(), formats.begin(), formats.end());
        head.push_back(fourth);
        return head;
    };
    const std::vector<std::string> nodeTools = {"--Node tools", "Delete", "Duplicate", "Update", "Animate..."};
    std::vector<std::string> onNode = {title, name};
    onNode.insert(onNode.end(), nodeTools.begin(), nodeTools.end());
    onNode.insert(onNode.end(), {"--Pin tools", "Unlink all"});
    const std::vector<std::string> onPin = {title, name, "--Pin tools", "Unlink all", "Unlink this pin"};
    auto saving = [](std::vector<std::string> v) {
        v.insert(v.end(), {"--Texture tools", "Save texture as..."});
        return v;
    };
    const Case cases[] = {
        {PIN_None, false, 0, with(onNode, "-Override disabled-")},
        {PIN_None, true, 1, with(saving(onNode), "Disable (UB8)")},
        {PIN_Input, false, 3, with(onPin, "Disable (FP16)")},
        {PIN_Input, true, 4, with(saving(onPin), "Disable (FP32)")},
        {PIN_Output, true, 2, with(saving(onPin), "Disable (unknown)")},
        {PIN_Output, false, -7, with(onPin, "Disable (unknown)")},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        // Its input is optional, so that it processes unlinked.
        STexProcNode* n = AddTestNode<STestNode_Pins>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Optional", 0);
            TestSetInt(l, "Size", c.output ? OUTPUT_SIZE : 0);
        });
        n->SetPosition(300, 200);
        p.ProcessUpdateList();
        n->FmtOverride = c.override_;
        PointAt(p, n, c.pin);
        STexProcessor::NodeMenu menu(n, &p);
        EXPECT_EQ(Items(menu), c.items) << c.pin << "," << c.output << "," << c.override_;
        EXPECT_EQ(menu.HasOutput, c.output ? 1u : 0u);
        EXPECT_EQ(menu.InputPin, c.pin == PIN_Input ? 1u : 0u);
        EXPECT_EQ(menu.OutputPin, c.pin == PIN_Output ? 1u : 0u);
    }
}

TEST_F(TexNodeMenu, EachItemReachesItsOwnAction)
{
    struct Case
    {
        const char* label;
        EPin pin;
        s32 override_;
        std::function<void(STexProcessor&, STestNode_Pins*, STexProcNode*, STexProcNode*)> check;
    };
    // The node under test (1 input, 1 output) is fed by `src` and feeds `dst`.
    const Case cases[] = {
        {"Name: \"<unnamed>\"", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             ASSERT_NE(p.Prompt, nullptr);
             EXPECT_EQ(p.Prompt->Target, &n->NName);
             EXPECT_EQ(p.Prompt->Prompt, "Enter the new name");
         }},
        {"Delete", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins*, STexProcNode* src, STexProcNode* dst) {
             EXPECT_EQ(p.Nodes.Count(), 2u);
             EXPECT_TRUE(src->OutParams[0]->Links.IsEmpty());
             EXPECT_TRUE(dst->InParams[0]->Links.IsEmpty());
         }},
        {"Duplicate", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             ASSERT_EQ(p.Nodes.Count(), 4u);
             STestNode_Pins* copy = dynamic_cast<STestNode_Pins*>(p.Nodes[3]);
             ASSERT_NE(copy, nullptr);
             EXPECT_FLOAT_EQ(copy->Gain, n->Gain);
             EXPECT_EQ(copy->NName, n->NName);
             EXPECT_TRUE(copy->InParams[0]->Links.IsEmpty());
             EXPECT_TRUE(copy->OutParams[0]->Links.IsEmpty());
             EXPECT_EQ(copy->Dragging, 1u);
             // Past the rest of the click's tick it hangs at the mouse, button up, until the next click.
             SGUILayer::DrawTree(&p, DT);
             const mVec2 at = copy->Pos0(), mouse = GMousePos;
             GUITest_Tick(mouse.x + 40, mouse.y + 30, false);
             SGUILayer::DrawTree(&p, DT);
             EXPECT_FLOAT_EQ(copy->Pos0().x, at.x + 40);
         }},
        {"Update", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode* dst) {
             EXPECT_GE(p.UpdateList.Find(n), 0);
             EXPECT_GE(p.UpdateList.Find(dst), 0);
         }},
        {"Animate...", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             auto* anim = dynamic_cast<STexProcessor::AnimMenu*>(p.NodeMenuSlot);
             ASSERT_NE(anim, nullptr);
             EXPECT_EQ(anim->Options.Count(), n->GetAnimChannelCount());
             EXPECT_EQ(anim->Options[6], "Shift[x]");
             anim->OnSelect(6);
             anim->OnSelect(6);
             ASSERT_EQ(n->Curves.Count(), 1u);
             EXPECT_EQ(n->Curves[0].Channel, 6);
             ASSERT_EQ(n->Curves[0].Points.Count(), 2u);
             EXPECT_FLOAT_EQ(n->Curves[0].Points[1].x, 1.0f);
             EXPECT_FLOAT_EQ(n->Curves[0].Points[1].y, 0.0f);
         }},
        {"Unlink all", PIN_None, 0,
         [](STexProcessor&, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             EXPECT_TRUE(n->InParams[0]->Links.IsEmpty());
             EXPECT_TRUE(n->OutParams[0]->Links.IsEmpty());
         }},
        {"Unlink this pin", PIN_Input, 0,
         [](STexProcessor&, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             EXPECT_TRUE(n->InParams[0]->Links.IsEmpty());
             EXPECT_EQ(n->OutParams[0]->Links.Count(), 1u);
         }},
        {"Unlink this pin", PIN_Output, 0,
         [](STexProcessor&, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             EXPECT_EQ(n->InParams[0]->Links.Count(), 1u);
             EXPECT_TRUE(n->OutParams[0]->Links.IsEmpty());
         }},
        {"Override to FP32", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             EXPECT_EQ(n->FmtOverride, 4);
             EXPECT_GE(p.UpdateList.Find(n), 0);
         }},
        {"Override to UB8", PIN_Input, 3,
         [](STexProcessor&, STestNode_Pins* n, STexProcNode*, STexProcNode*) { EXPECT_EQ(n->FmtOverride, 1); }},
        {"Disable (FP16)", PIN_None, 3,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             EXPECT_EQ(n->FmtOverride, 0);
             EXPECT_GE(p.UpdateList.Find(n), 0);
         }},
        {"-Override disabled-", PIN_None, 0,
         [](STexProcessor& p, STestNode_Pins* n, STexProcNode*, STexProcNode*) {
             EXPECT_EQ(n->FmtOverride, 0);
             EXPECT_EQ(p.UpdateList.Find(n), -1);
         }},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* src = AddPinsNode(p, 0, 1);
        STestNode_Pins* n = AddPinsNode(p, 1, 1);
        STexProcNode* dst = AddPinsNode(p, 1, 1);
        n->SetPosition(300, 200);
        n->Gain = 1.75f;
        n->FmtOverride = c.override_;
        ASSERT_EQ(TestLink(p, src, 0, n, 0), 1);
        ASSERT_EQ(TestLink(p, n, 0, dst, 0), 1);
        p.ProcessUpdateList();
        PointAt(p, n, c.pin);
        auto* menu = new STexProcessor::NodeMenu(n, &p);
        p.OpenNodeSlotMenu(menu);
        const int index = CountedIndex(*menu, c.label);
        ASSERT_GE(index, 0) << c.label;
        // Chosen from within the menu's own frame, as a click does.
        GPrevMouseLeft = 1;
        GMouseLeft = 0;
        ++menu->InFrame;
        menu->OnSelect(index);
        --menu->InFrame;
        SCOPED_TRACE(c.label);
        c.check(p, n, src, dst);
        GUITest_Tick(0, 0, false);
        SGUILayer::DrawTree(&p, DT);
    }
}

TEST_F(TexNodeMenu, AChoiceStoresThePositionOfThePickedItemInItsValueList)
{
    static const char* const CHOICES[] = {"Linear", "--Curved", "Smooth", "Sharp", "-Unavailable"};
    struct Case
    {
        int row;
        s32 stored; // -1: unchanged
    };
    const Case cases[] = {{0, 0}, {1, -1}, {2, 2}, {3, 3}, {4, -1}};
    const s32 UNCHANGED = 99;
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* n = AddPinsNode(p, 0, 1);
        n->SetPosition(100, 100);
        p.ProcessUpdateList();
        s32 value = UNCHANGED;
        const mRect field{110, 120, 200, 132};
        OpenEnumMenu(&p, n, &value, CHOICES, 5, field);
        SPopupMenu* menu = p.NodeMenuSlot;
        ASSERT_NE(menu, nullptr);
        // Just under the field.
        EXPECT_FLOAT_EQ(menu->Rect.x0, 110.0f);
        EXPECT_FLOAT_EQ(menu->Rect.y0, 132.0f);
        const float x = menu->Rect.x0 + 20, y = menu->Rect.y0 + MENU_ROW_HEIGHT * ((float)c.row + 0.5f);
        GUITest_Tick(x, y, false);
        SGUILayer::DrawTree(&p, DT);
        GUITest_Tick(x, y, true);
        SGUILayer::DrawTree(&p, DT);
        TestProcessLog().clear();
        GUITest_Tick(x, y, false);
        SGUILayer::DrawTree(&p, DT);
        EXPECT_EQ(value, c.stored < 0 ? UNCHANGED : c.stored) << c.row;
        // The node is queued with the choice and processed at the next frame.
        SGUILayer::DrawTree(&p, DT);
        EXPECT_EQ(TestProcessLog().size(), c.stored < 0 ? 0u : 1u) << c.row;
    }
}

TEST_F(TexNodeMenu, ACurveMenuTogglesOrDeletesItsCurve)
{
    struct Case
    {
        u32 expanded;
        const char* toggle;
        int pick;
        u32 curvesAfter, expandedAfter;
    };
    const Case cases[] = {{1, "Collapse", 0, 1, 0}, {0, "Expand", 0, 1, 1}, {1, "Collapse", 1, 0, 0}};
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* n = AddPinsNode(p, 0, 1);
        SAnimCurve k;
        k.Channel = 0;
        k.Reset();
        k.Expanded = c.expanded;
        n->Curves.Add(k);
        STPNAnimMenu menu(n, 0);
        const std::vector<std::string> items = {"--Anim. curve menu", c.toggle, "Delete"};
        EXPECT_EQ(Items(menu), items);
        menu.OnSelect(c.pick);
        ASSERT_EQ(n->Curves.Count(), c.curvesAfter);
        if (c.curvesAfter)
        {
            EXPECT_EQ(n->Curves[0].Expanded, c.expandedAfter);
        }
    }
}

TEST_F(TexNodeMenu, SavingAnOutputWritesItsPixelsOrSaysWhyNot)
{
    TTempDir dir;
    struct Case
    {
        s32 override_;
        mVec4 bias;
    };
    const Case cases[] = {{0, {0.25f, 0.5f, 0.75f, 1.0f}}, {3, {1.0f, 0.0f, 0.5f, 0.5f}}};
    for (const Case& c : cases)
    {
        STexProcessor p;
        STestNode_Affine* n = AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", 0);
            TestSetInt(l, "Size", OUTPUT_SIZE);
            TestSetInt(l, "FmtOverride", c.override_);
            FindPropDesc(l, "Bias")->AsColRGBA() = c.bias;
        });
        p.ProcessUpdateList();
        ASSERT_EQ(n->Status, "");
        const std::string path = dir.File("out.png");
        TString error;
        ASSERT_EQ(NodeSaveTexture(n, path.c_str(), error), 1) << error.Str();
        SImage2D image;
        ASSERT_EQ(DecodeImageFile(path.c_str(), image), 1);
        EXPECT_EQ(image.Width, (u32)OUTPUT_SIZE);
        EXPECT_EQ(image.Height, (u32)OUTPUT_SIZE);
        const float expected[4] = {c.bias.x, c.bias.y, c.bias.z, c.bias.w};
        // Red in the low byte.
        const u32 px = image.Pixels[0];
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_NEAR((float)((px >> (8 * ch)) & 0xFF), expected[ch] * 255.0f, 1.0f) << ch;
    }

    STexProcessor p;
    STexProcNode* none = AddPinsNode(p, 0, 1);
    TString error;
    EXPECT_EQ(NodeSaveTexture(none, dir.File("none.png").c_str(), error), 0);
    EXPECT_EQ(error, "Save texture: the node has no output");
    STexProcNode* made = AddPinsNode(p, 0, 1, OUTPUT_SIZE);
    p.ProcessUpdateList();
    const std::string bad = dir.File("missing/folder/out.png");
    EXPECT_EQ(NodeSaveTexture(made, bad.c_str(), error), 0);
    EXPECT_EQ(std::string(error.Str()), "Save texture: cannot write \"" + bad + "\": " + MISSING_FOLDER_CAUSE);
    // From the menu the cause reaches the user in a box.
    RecordedBoxes().clear();
    EXPECT_EQ(NodeSaveTextureReported(made, bad.c_str()), 0);
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_EQ(RecordedBoxes()[0].kind, SYSBOX_Message);
    EXPECT_EQ(RecordedBoxes()[0].text, error.Str());
    RecordedBoxes().clear();
    EXPECT_EQ(NodeSaveTextureReported(made, dir.File("good.png").c_str()), 1);
    EXPECT_TRUE(RecordedBoxes().empty());
}
