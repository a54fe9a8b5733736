// The illustration host's own suites: the document's art tree, layers, paths,
// matching queries, memory handles, menus and Unicode strings.
//
// Contract shared by every operation here unless it says otherwise: the
// result is a host error code, 0 for success; results come back through
// out-arguments, which are written only on success; an argument that is not a
// live handle of the right kind, or a null out-argument, fails with
// kBadParameterErr. Handles the host hands out (art, layers, menu items and
// groups) name objects the host owns; the caller never frees them. Art and
// layer handles are good for the message that got them: kept longer, they
// may be stale.
#pragma once

#include "SPSuites.h"

namespace ai {
class UnicodeString;
}
struct AIPlatformAddMenuItemDataUS;

// Art type codes.
constexpr AIArtType kGroupArt = 1;
constexpr AIArtType kPathArt = 2;
constexpr AIArtType kCompoundPathArt = 3;
constexpr AIArtType kPlacedArt = 7;
constexpr AIArtType kRasterArt = 9;
constexpr AIArtType kPluginArt = 10;
constexpr AIArtType kMeshArt = 11;
constexpr AIArtType kSymbolArt = 13;

// User attribute bits: an object's own. A layer's flags are read through
// the Layer suite.
constexpr ai::int32 kArtSelected = 1;
constexpr ai::int32 kArtLocked = 2;
constexpr ai::int32 kArtHidden = 4;

// ---------------------------------------------------------------------------
// Menu message: caller "AI Menu", selectors "AI Go" and "AI Update".
// ---------------------------------------------------------------------------
struct AIMenuMessage {
    SPMessageData d;
    // The item chosen or to update: any item of the host's menus, not only
    // the plug-in's, or null.
    AIMenuItemHandle menuItem;
};
static_assert(offsetof(AIMenuMessage, menuItem) == sizeof(SPMessageData), "item after the head");

constexpr const char* kCallerAIMenu = "AI Menu";
constexpr const char* kSelectorAIGoMenuItem = "AI Go";
constexpr const char* kSelectorAIUpdateMenuItem = "AI Update";

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// One criterion of a matching query: objects of `type` whose user attributes
// under `whichAttr` equal `attr`. A mask of 0 matches every object of the type.
struct MatchRecord {
    AIArtType type;
    ai::int16 padding;
    ai::int32 whichAttr;
    ai::int32 attr;
};
static_assert(sizeof(MatchRecord) == 12, "MatchRecord is 12 bytes");
static_assert(offsetof(MatchRecord, type) == 0, "");
static_assert(offsetof(MatchRecord, whichAttr) == 4, "");
static_assert(offsetof(MatchRecord, attr) == 8, "");

// A path's paint style. The host fills the whole record; the fields between
// the paint flags and the dash count are the host's and opaque here.
struct AIPathStyle {
    ASBoolean fillPaint;    // 1: the path is filled, 0: not; other values are neither
    ASBoolean strokePaint;  // 1: the path is stroked, 0: not; other values are neither
    ai::uint8 hostReserved[150];
    ai::int16 dashCount;    // number of entries in the stroke's dash pattern, 0 when solid
    ai::uint8 hostReserved2[2];
};
static_assert(offsetof(AIPathStyle, fillPaint) == 0, "");
static_assert(offsetof(AIPathStyle, strokePaint) == 1, "");
static_assert(offsetof(AIPathStyle, dashCount) == 152, "dash count at byte 152");
static_assert(sizeof(AIPathStyle) == 156, "");

// Menu item record of "AI Menu Suite" 1007: group name and a Pascal string
// (length byte, then up to 255 characters, no terminating zero).
struct AIPlatformAddMenuItemData {
    const char* groupName;
    const unsigned char* itemText;
};
static_assert(offsetof(AIPlatformAddMenuItemData, itemText) == sizeof(void*), "");

// ---------------------------------------------------------------------------
// "AI MdMemory Suite" 1001
// ---------------------------------------------------------------------------
constexpr const char* kAIMdMemorySuite = "AI MdMemory Suite";
constexpr ai::int32 kAIMdMemorySuiteVersion = 1001;
struct AIMdMemorySuite {
    SPReservedProc reserved0;
    // 1. Frees a memory handle the host gave out (a matched-art handle, say),
    // and the array behind it. Fails with kBadParameterErr for null or for a
    // handle not live; on any failure the handle stays live and the caller's.
    ASErr (*MdMemoryDisposeHandle)(AIMdMemoryHandle handle);
};
HOSTAPI_PIN(AIMdMemorySuite, MdMemoryDisposeHandle, 1);

// ---------------------------------------------------------------------------
// "AI Art Suite" 1013
// ---------------------------------------------------------------------------
constexpr const char* kAIArtSuite = "AI Art Suite";
constexpr ai::int32 kAIArtSuiteVersion = 1013;
// Any art object is accepted. A null answer (no layer, no parent, no child,
// no sibling) is a success, not an error.
struct AIArtSuite {
    SPReservedProc reserved0to4[5];
    // 5. The layer the object lies on; *layer is null for an object on no layer.
    ASErr (*GetArtLayer)(AIArtHandle art, AILayerHandle* layer);
    // 6. The object's art type code.
    ASErr (*GetArtType)(AIArtHandle art, AIArtType* type);
    // 7. The object's user attributes under the mask `whichAttr`; bits
    // outside the mask are 0.
    ASErr (*GetArtUserAttr)(AIArtHandle art, ai::int32 whichAttr, ai::int32* attr);
    // 8. Replaces the bits under `whichAttr` by those of `attr`; the others
    // stay as they were.
    ASErr (*SetArtUserAttr)(AIArtHandle art, ai::int32 whichAttr, ai::int32 attr);
    // 9. The object's parent; null for a layer's root group. A plugin
    // group's result group has the plugin group for parent.
    ASErr (*GetArtParent)(AIArtHandle art, AIArtHandle* parent);
    // 10. The object's first child; null when it has none. A plugin group's
    // result group is not among its children.
    ASErr (*GetArtFirstChild)(AIArtHandle art, AIArtHandle* child);
    // 11. The next object under the same parent, in document order; null
    // after the last.
    ASErr (*GetArtSibling)(AIArtHandle art, AIArtHandle* sibling);
};
HOSTAPI_PIN(AIArtSuite, GetArtLayer, 5);
HOSTAPI_PIN(AIArtSuite, GetArtType, 6);
HOSTAPI_PIN(AIArtSuite, GetArtUserAttr, 7);
HOSTAPI_PIN(AIArtSuite, SetArtUserAttr, 8);
HOSTAPI_PIN(AIArtSuite, GetArtParent, 9);
HOSTAPI_PIN(AIArtSuite, GetArtFirstChild, 10);
HOSTAPI_PIN(AIArtSuite, GetArtSibling, 11);

// ---------------------------------------------------------------------------
// "AI User Suite" 1006
// ---------------------------------------------------------------------------
constexpr const char* kAIUserSuite = "AI User Suite";
constexpr ai::int32 kAIUserSuiteVersion = 1006;
struct AIUserSuite {
    SPReservedProc reserved0to3[4];
    // 4. Writes `value` rounded to `precision` (0 to 20) decimals as a Pascal
    // string into `text`, which must hold 256 bytes: the host writes no more
    // than a length byte and 255 characters. On failure the text is left as
    // it was.
    ASErr (*NumberToString)(AIReal value, ai::int16 precision, unsigned char* text);
    // 5. Reads a decimal number from the Pascal string `text`, which must be
    // that number and nothing else but spaces. On failure *value is left
    // unchanged.
    ASErr (*StringToNumber)(const unsigned char* text, AIReal* value);
};
HOSTAPI_PIN(AIUserSuite, NumberToString, 4);
HOSTAPI_PIN(AIUserSuite, StringToNumber, 5);

// ---------------------------------------------------------------------------
// "AI Matching Art Suite" 1005
// ---------------------------------------------------------------------------
constexpr const char* kAIMatchingArtSuite = "AI Matching Art Suite";
constexpr ai::int32 kAIMatchingArtSuiteVersion = 1005;
// Both queries hand out the same thing. *matches receives a memory handle to
// an array of *numMatches art handles. The handle is the caller's: it and its
// array live until the caller disposes of it with MdMemoryDisposeHandle, once.
// The array may move when another query runs: read each entry through the
// handle, (*matches)[i], never through a copy of *matches. An empty result
// may be a null handle, which holds nothing, or a handle whose array pointer
// is null, which is still disposed of. On failure *matches may still hold a
// handle, which the caller must dispose of; *numMatches is then meaningless.
struct AIMatchingArtSuite {
    // 0. Every selected object.
    ASErr (*GetSelectedArt)(AIArtHandle*** matches, ai::int32* numMatches);
    // 1. Every object matching any of the `numRecords` records, in document
    // order. A negative count, or records missing, fails with kBadParameterErr.
    ASErr (*GetMatchingArt)(const MatchRecord* records, ai::int32 numRecords, AIArtHandle*** matches,
                            ai::int32* numMatches);
};
HOSTAPI_PIN(AIMatchingArtSuite, GetSelectedArt, 0);
HOSTAPI_PIN(AIMatchingArtSuite, GetMatchingArt, 1);

// ---------------------------------------------------------------------------
// "AI Path Suite" 1007
// ---------------------------------------------------------------------------
constexpr const char* kAIPathSuite = "AI Path Suite";
constexpr ai::int32 kAIPathSuiteVersion = 1007;
// Paths only: an object of any other type fails with kBadParameterErr. The
// same holds for the Path Style suite.
struct AIPathSuite {
    SPReservedProc reserved0to5[6];
    // 6. Whether the path is closed (non-zero) or open (0).
    ASErr (*GetPathClosed)(AIArtHandle path, ASBoolean* closed);
    SPReservedProc reserved7;
    // 8. Whether the path is a guide (non-zero).
    ASErr (*GetPathGuide)(AIArtHandle path, ASBoolean* isGuide);
};
HOSTAPI_PIN(AIPathSuite, GetPathClosed, 6);
HOSTAPI_PIN(AIPathSuite, GetPathGuide, 8);

// ---------------------------------------------------------------------------
// "AI Path Style Suite" 1009
// ---------------------------------------------------------------------------
constexpr const char* kAIPathStyleSuite = "AI Path Style Suite";
constexpr ai::int32 kAIPathStyleSuiteVersion = 1009;
struct AIPathStyleSuite {
    // 0. Fills the whole of *style with the path's paint style.
    ASErr (*GetPathStyle)(AIArtHandle path, AIPathStyle* style);
};
HOSTAPI_PIN(AIPathStyleSuite, GetPathStyle, 0);

// ---------------------------------------------------------------------------
// "AI Layer Suite" 1011
// ---------------------------------------------------------------------------
constexpr const char* kAILayerSuite = "AI Layer Suite";
constexpr ai::int32 kAILayerSuiteVersion = 1011;
// A layer's two flags, each a byte: 0 is off, any other value on. The
// interface's own documents call them "flag A" (visible) and "flag B"
// (editable); this code calls them visible and editable throughout.
struct AILayerSuite {
    SPReservedProc reserved0to11[12];
    // 12. Whether the layer is visible.
    ASErr (*GetLayerVisible)(AILayerHandle layer, ASBoolean* visible);
    SPReservedProc reserved13to15[3];
    // 16. Whether the layer is editable.
    ASErr (*GetLayerEditable)(AILayerHandle layer, ASBoolean* editable);
};
HOSTAPI_PIN(AILayerSuite, GetLayerVisible, 12);
HOSTAPI_PIN(AILayerSuite, GetLayerEditable, 16);

// ---------------------------------------------------------------------------
// "AI Plugin Group Suite" 1004
// ---------------------------------------------------------------------------
constexpr const char* kAIPluginGroupSuite = "AI Plugin Group Suite";
constexpr ai::int32 kAIPluginGroupSuiteVersion = 1004;
struct AIPluginGroupSuite {
    SPReservedProc reserved0to14[15];
    // 15. The group that holds what a plugin group draws; null when it has
    // none. Its parent is the plugin group, though it is not among the plugin
    // group's children. An object that is not a plugin group fails with
    // kBadParameterErr.
    ASErr (*GetPluginArtResultArt)(AIArtHandle pluginArt, AIArtHandle* resultGroup);
};
HOSTAPI_PIN(AIPluginGroupSuite, GetPluginArtResultArt, 15);

// ---------------------------------------------------------------------------
// "AI Menu Suite" 1007 and 1008. The two versions differ only in the record
// that AddMenuItem takes. Items and groups live as long as the host; their
// handles never go stale. Texts and names handed to the host are copied.
// ---------------------------------------------------------------------------
constexpr const char* kAIMenuSuite = "AI Menu Suite";
constexpr ai::int32 kAIMenuSuiteVersion1007 = 1007;
constexpr ai::int32 kAIMenuSuiteVersion = 1008;

// Conditions of UpdateMenuItemAutomatically.
constexpr ai::int32 kAutoEnableMenuItemAction = 1;
constexpr ai::int32 kIfAnyArtSelected = 64;

template <typename AddMenuItemRecord>
struct AIMenuSuiteTemplate {
    // 0. Adds an item to the group that the record names. `itemName` is the
    // item's terminated key name (may be null; the host then makes one up);
    // it is refused when not terminated within 255 bytes. A group that does
    // not exist, or a record, group name or result that is null, fails with
    // kBadParameterErr. On success *item receives the new item's handle.
    ASErr (*AddMenuItem)(SPPluginRef plugin, const char* itemName, AddMenuItemRecord* data,
                         ai::int32 options, AIMenuItemHandle* item);
    SPReservedProc reserved1to7[7];
    // 8. Lets the host enable and check the item by itself: `action` says what
    // to change, the six words which document conditions to test.
    ASErr (*UpdateMenuItemAutomatically)(AIMenuItemHandle item, ai::int32 action,
                                         ai::int32 ifObjectIsInArtwork,
                                         ai::int32 ifObjectIsNotInArtwork,
                                         ai::int32 ifObjectIsSelected,
                                         ai::int32 ifObjectIsNotSelected, ai::int32 ifIsTrue,
                                         ai::int32 ifIsNotTrue);
    SPReservedProc reserved9to18[10];
    // 19. Creates the group `groupName` as a submenu of `item`. *group
    // receives the new group. Fails with kBadParameterErr when a group of
    // that name exists or the item has a submenu already.
    ASErr (*AddMenuGroupAsSubMenu)(const char* groupName, ai::int32 options,
                                   AIMenuItemHandle item, AIMenuGroup* group);
    // 20. The group's name: a C string the host owns, valid as long as the
    // group; null when the host gives the group no name.
    ASErr (*GetMenuGroupName)(AIMenuGroup group, const char** name);
    SPReservedProc reserved21to23[3];
    // 24. The number of the host's menu groups.
    ASErr (*CountMenuGroups)(ai::int32* count);
    // 25. Group number n, counting from 0 in the order of creation; an n out
    // of range fails with kBadParameterErr.
    ASErr (*GetNthMenuGroup)(ai::int32 n, AIMenuGroup* group);
};
using AIMenuSuite1007 = AIMenuSuiteTemplate<AIPlatformAddMenuItemData>;
using AIMenuSuite = AIMenuSuiteTemplate<AIPlatformAddMenuItemDataUS>;
HOSTAPI_PIN(AIMenuSuite, AddMenuItem, 0);
HOSTAPI_PIN(AIMenuSuite, UpdateMenuItemAutomatically, 8);
HOSTAPI_PIN(AIMenuSuite, AddMenuGroupAsSubMenu, 19);
HOSTAPI_PIN(AIMenuSuite, GetMenuGroupName, 20);
HOSTAPI_PIN(AIMenuSuite, CountMenuGroups, 24);
HOSTAPI_PIN(AIMenuSuite, GetNthMenuGroup, 25);
static_assert(sizeof(AIMenuSuite1007) == sizeof(AIMenuSuite), "same table at both versions");

// ---------------------------------------------------------------------------
// "AI Unicode String Suite" 1006. Operations take the address of the
// ai::UnicodeString object, whose only field is the host's string handle. A
// host string belongs to the object holding its handle until Destroy.
// ---------------------------------------------------------------------------
constexpr const char* kAIUnicodeStringSuite = "AI Unicode String Suite";
constexpr ai::int32 kAIUnicodeStringSuiteVersion = 1006;
struct AIUnicodeStringSuite {
    // 0. Gives *str a new host string holding `length` bytes of `text` in
    // `encoding`. On failure the handle is left null.
    ASErr (*Initialize)(ai::UnicodeString* str, const char* text, ai::int32 length,
                        AICharacterEncoding encoding);
    SPReservedProc reserved1to2[2];
    // 3. Frees the host string and leaves the handle null. An object holding
    // none is left alone. Reports nothing.
    void (*Destroy)(ai::UnicodeString* str);
    SPReservedProc reserved4to5[2];
    // 6. Makes *dest hold the text of *src (a new host string when *dest holds
    // none). The same address twice is allowed and changes nothing. On
    // failure *dest keeps what it held.
    ASErr (*Copy)(ai::UnicodeString* dest, const ai::UnicodeString* src);
};
HOSTAPI_PIN(AIUnicodeStringSuite, Initialize, 0);
HOSTAPI_PIN(AIUnicodeStringSuite, Destroy, 3);
HOSTAPI_PIN(AIUnicodeStringSuite, Copy, 6);
