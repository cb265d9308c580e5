// What every node class shares: the factory kept in its class record, typed reads and writes of
// its own parameters in a property list, the input checks and the single pass of processing, the
// panel rows, and the family menus that create nodes by class name.
#pragma once

#include <functional>

#include "TexProcessor.h"

struct SShader;

// Constructs a node of class T from the list and records its class in the CEntity part.
template <class T> CEntity* NodeFactory(TArray<SPropDesc>& list)
{
    T* node = new T(list);
    node->ClassInfo = T::ClassRecord();
    return static_cast<CEntity*>(node);
}

// Defines T::ClassRecord() (the record, made on first use from the name, the factory and the
// table) and the record's accessor that the ordered class list registers.
#define TEX_NODE_CLASS(T)                                                     \
    SClassInfo* T::ClassRecord()                                              \
    {                                                                         \
        static SClassInfo record(#T, &NodeFactory<T>, T::Props());            \
        return &record;                                                       \
    }                                                                         \
    SClassInfo* TexNodeRecord_##T() { return T::ClassRecord(); }

// Typed access to a node class's own entries 1..n of its property list; entry 0 holds the base
// list. A missing entry or one of another type is the documented assertion and reads as the
// fallback (writes are skipped).
class FNodeParams
{
public:
    explicit FNodeParams(TArray<SPropDesc>& list) : List(list) {}

    // Entry 0's nested base list; null (with the assertion) when the list has none.
    TArray<SPropDesc>* Base();
    s32 Int(u32 k, s32 fallback = 0);
    // The integer held inside its entry's minimum and maximum, so that a document's value never
    // reaches code that trusts the range.
    s32 IntClamped(u32 k, s32 fallback = 0);
    float Float(u32 k, float fallback = 0.0f);
    float FloatClamped(u32 k, float fallback = 0.0f);
    mVec2 Vec2(u32 k);
    mVec4 Vec4(u32 k, u32 type);
    TString String(u32 k);

    void SetInt(u32 k, s32 v);
    void SetFloat(u32 k, float v);
    void SetVec2(u32 k, const mVec2& v);
    void SetVec4(u32 k, u32 type, const mVec4& v);
    void SetString(u32 k, const TString& v);

private:
    SPropDesc* Entry(u32 k, u32 type);
    TArray<SPropDesc>& List;
};

// Writes the node's base parameters into entry 0's nested list, as the first step of a node class's
// StoreParams.
void NodeStoreBase(STexProcNode& node, FNodeParams& params);

// A parameter changed from the panel: the node is queued for processing in its processor.
void NodeChanged(STexProcNode& node);

// Whether a reference holds a usable texture: a GL name and a non-zero size.
bool NodeTextureUsable(const TextureRef& tex);

// Whether an enumerated parameter's value indexes its list; else the node's status names the
// parameter and the range.
bool NodeEnumInRange(STexProcNode& node, const char* param, s32 value, s32 count);

// The input steps of processing: a node without inputs or with a required input unlinked gets
// "No input found"; only when every required input is linked, a linked input whose source holds
// no usable texture gets "Null texture found".
// 1 when every linked input's texture is in inputs (unlinked optional ones stay empty), else 0.
int NodeGatherInputs(STexProcNode& node, TArray<TextureRef>& inputs);

// The usual single pass into the node's output: the target of the size and format, cleared, the
// program with its defines and the inputs bound, the uniforms set, one full-screen quad. 1 on
// success, else 0 with the status text set.
int NodeSinglePass(STexProcNode& node, u32 width, u32 height, u32 format, const char* program,
                   const TArray<TString>& defines, const std::function<void(SShader*)>& uniforms);

// The snap divisor that a panel hands its float fields from a stored "SnapDiv": a value outside
// the "Snap div." field's range (0 to NODE_SNAP_DIV_MAX), which only a document can bring,
// snaps nothing.
static const float NODE_SNAP_DIV_MAX = 1000.0f;
float NodeSnapDivisor(float stored);

// Panel rows: row i of a panel whose top is r.y0, its label half and its widget half.
mRect NodeRow(const mRect& r, u32 row);
mRect NodeRowLabel(const mRect& r, u32 row);
mRect NodeRowField(const mRect& r, u32 row);
// The widget id of a row.
u32 NodeRowId(const mRect& r, const mRect& row);
// The label colour of parameter rows.
static const u32 NODE_LABEL_COLOR = 0xFFE6E6E6u;
// A labelled field on row `row`; an edit writes the value and queues the node (NodeChanged).
void NodeFloatRow(STexProcNode& node, const mRect& r, u32 row, const char* label, float& value, float lo, float hi,
                  float snap);
void NodeIntRow(STexProcNode& node, const mRect& r, u32 row, const char* label, s32& value, s32 lo, s32 hi);
// A labelled check box; the value is stored as 0 or 1.
void NodeCheckRow(STexProcNode& node, const mRect& r, u32 row, const char* label, s32& value);
// Two toggles on row `row`, the left on the label half, the right on the field half with the row's
// id plus NODE_RIGHT_TOGGLE_ID; values are stored as 0 or 1. Returns which one was clicked (1 left,
// 2 right, 0 none).
int NodeTogglePair(STexProcNode& node, const mRect& r, u32 row, const char* leftLabel, s32& left,
                   const char* rightLabel, s32& right);
// A push button on field showing the value's entry ("?" outside the list); a click opens the
// processor's choice menu over texts.
void NodeEnumButton(STexProcNode& node, const mRect& r, const mRect& field, s32& value, const char* const* texts,
                    u32 count);
// The base panel drawn below the node's own rows, which take `own` from the top of r; returns the
// whole panel's height.
float NodeFinishPanel(STexProcNode& node, const mRect& r, float own);

// A node's own panel rows, top down from r: each call draws one labelled row and moves to the next;
// an edit writes the value and queues the node. Finish draws the base panel below the rows.
class FNodePanel
{
public:
    FNodePanel(STexProcNode& node, const mRect& r) : Node(node), R(r), Row(0) {}

    void Float(const char* label, float* v, float lo, float hi, float snap = 0.0f);
    void Int(const char* label, s32* v, s32 lo, s32 hi);
    // A check box; the value is stored as 0 or 1.
    void Check(const char* label, s32* v);
    // Two toggles on one row (NodeTogglePair).
    void Toggles(const char* left, s32* l, const char* right, s32* rv);
    // A button with the current choice's text ("?" outside the list) opening the choice menu.
    void Enum(const char* label, s32* v, const char* const* texts, s32 count);
    // Draws the label of the current row and returns its field half; the row is not passed.
    mRect Label(const char* label);
    float Finish();

    STexProcNode& Node;
    const mRect R;
    u32 Row;
};
static const u32 NODE_RIGHT_TOGGLE_ID = 1000;

// ---------------------------------------------------------------------------------------------
// Family menus

// One item of a family menu: a section title ("--" and its key) and disabled items ("[Disabled] "
// and a label) have no class.
struct SNodeMenuItem
{
    const char* Text;
    const char* ClassName;
};

extern const char* const NODE_MENU_DISABLED_PREFIX;

class STNFamilyMenu : public SPopupMenu
{
public:
    STexProcessor* Owner;

    STNFamilyMenu(STexProcessor* owner, const SNodeMenuItem* items, u32 count);
    // Creates the class of the chosen item; titles, disabled items and other indices do nothing.
    void OnSelect(int index) override;
    // The class of counted item `index` (titles are not counted); null for none.
    const char* ClassAt(int index) const;

private:
    TPodArray<const char*> Classes; // per counted item
};

// Defines the family menu class `Menu` over its item table and the factory the main window calls.
#define TEX_NODE_MENU(Menu, Items)                                                                   \
    class Menu : public STNFamilyMenu                                                                \
    {                                                                                                \
    public:                                                                                          \
        explicit Menu(STexProcessor* owner)                                                          \
            : STNFamilyMenu(owner, Items, (u32)(sizeof(Items) / sizeof(Items[0])))                   \
        {                                                                                            \
        }                                                                                            \
    };                                                                                               \
    SPopupMenu* TexNodeMenu_##Menu(STexProcessor* owner) { return new Menu(owner); }
