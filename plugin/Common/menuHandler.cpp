#include "menuHandler.h"

#include <cstring>
#include <vector>

#include "About.h"
#include "PluginGlobals.h"
#include "SDKAboutPluginsHelper.h"
#include "shellMain.h"
#include "stringUtils.h"

// ===========================================================================
// Menus
// ===========================================================================

namespace {

// The text buffer of one menu text: a C string as read, then a Pascal
// string in the same bytes.
constexpr int kMenuTextLength = 255;

// Reads menu text `index` into `text` and a terminated copy of it into
// `name`; the host is trusted with no more than the buffer it is given.
ASErr readMenuText(SPPluginRef plugin, int index, char (&text)[kMenuTextLength],
                   char (&name)[kMenuTextLength]) {
    text[0] = 0;
    const ASErr err = sADMBasic->GetIndexString(plugin, kMenuTextListID, index, text, kMenuTextLength);
    if (err != kNoErr) return err;
    text[kMenuTextLength - 1] = 0;
    std::memcpy(name, text, kMenuTextLength);
    return kNoErr;
}

}  // namespace

// addMenu: runs once, inside "Startup", with g allocated and every suite held.
// A failed read or add stops the installation; the items already added stay.
ASErr addMenu(SPInterfaceMessage* message) {
    if (g == nullptr) return kBadParameterErr;
    SDKAboutPluginsHelper aboutPluginsHelper;
    const SPPluginRef plugin = message->d.self;

    char text[kMenuTextLength];
    // The item's key name. Handing the host the converted buffer would give
    // it a length byte and no terminating zero.
    char name[kMenuTextLength];
    AIPlatformAddMenuItemData item;
    item.groupName = kSelectMenuGroup;

    ASErr result = kNoErr;
    for (int index = 1; index <= kMenuCommandCount; ++index) {
        ASErr err = readMenuText(plugin, index, text, name);
        if (err != kNoErr) return err;
        static const unsigned char kEmpty[1] = {0};
        const unsigned char* pascal = SUctopstr(text);
        item.itemText = pascal != nullptr ? pascal : kEmpty;

        AIMenuItemHandle* slot = &g->menuItems[menuSlotOfIndex(index)];
        err = sMenu->AddMenuItem(plugin, name, &item, 0, slot);
        if (err != kNoErr) return err;

        err = sMenu->UpdateMenuItemAutomatically(*slot, kAutoEnableMenuItemAction, 0, 0, 0, 0,
                                                 kIfAnyArtSelected, 0);
        // Only two of these results matter: the ninth stops the installation,
        // the last is what installation returns.
        if (index == 9 && err != kNoErr) return err;
        if (index == kMenuCommandCount) result = err;
    }

    const ai::UnicodeString aboutGroupText(kAboutPluginsGroupText, 0);
    aboutPluginsHelper.AddAboutPluginsMenuItem(message, kAboutPluginsGroup, aboutGroupText,
                                               kAboutItemText, &g->menuItems[kAboutItemSlot]);
    return result;
}

namespace {

// One row of goMenuItem's table: the slot of the globals block whose item
// runs `command`, and the mode the command is given.
struct MenuCommand {
    int slot;
    ASErr (*command)(AIMenuMessage* message, ai::int16 mode);
    ai::int16 mode;
};

// A command that takes no mode, in the table's one signature.
template <ASErr (*Command)(AIMenuMessage*)>
ASErr withoutMode(AIMenuMessage* message, ai::int16) {
    return Command(message);
}

// Compared in this order; the About item after them (runChosenItem).
constexpr MenuCommand kMenuCommands[kMenuCommandCount] = {
    {0, selectPaths, kGuidePaths},
    {1, selectPaths, kAllPaths},
    {2, selectPaths, kOpenPaths},
    {3, selectPaths, kClosedPaths},
    {4, selectPaths, kFilledPaths},
    {5, selectPaths, kUnfilledPaths},
    {6, selectPaths, kStrokedPaths},
    {7, selectPaths, kUnstrokedPaths},
    {8, selectPaths, kDashedPaths},
    {9, selectPaths, kUndashedPaths},
    {10, withoutMode<selectCompoundPaths>, 0},
    {11, withoutMode<selectGroups>, 0},
    {12, withoutMode<selectPluginGroups>, 0},
    {13, selectMeshes, kMeshesInGroups},
    {14, selectMeshes, kMeshesInPluginGroups},
    {15, withoutMode<selectRasters>, 0},
    {16, withoutMode<selectSymbols>, 0},
    {17, withoutMode<selectPlaced>, 0},
};

// Runs the command, or the About dialog, of the item the message names;
// 0 for an item that is not ours.
ASErr runChosenItem(AIMenuMessage* message) {
    const AIMenuItemHandle chosen = message->menuItem;
    for (const MenuCommand& row : kMenuCommands)
        if (chosen == g->menuItems[row.slot]) return row.command(message, row.mode);
    if (chosen == g->menuItems[kAboutItemSlot])
        return goAbout(reinterpret_cast<SPInterfaceMessage*>(message));
    return kNoErr;
}

}  // namespace

// goMenuItem: runs inside "AI Go" with the suites held; acquires again so
// that it stands on its own, and gives that hold back on every way out.
ASErr goMenuItem(AIMenuMessage* message) {
    const ScopedSuites suites(message->d.basic);
    if (suites.result() != kNoErr) return suites.result();
    // No globals (before "Startup", after "Shutdown") or no item: nothing is ours.
    if (g == nullptr || message->menuItem == nullptr) return kNoErr;
    return runChosenItem(message);
}

ASErr updateMenuItem(AIMenuMessage* message) {
    const ScopedSuites suites(message->d.basic);
    return suites.result();
}

// ===========================================================================
// Selection primitives
// ===========================================================================

namespace {

// A matched-art handle owned by the command that asked for it, disposed of
// on every way out, an exception included. Entries are read through the
// handle at every access, as the host may move the array between calls.
class MatchedArt {
public:
    MatchedArt() = default;
    MatchedArt(const MatchedArt&) = delete;
    MatchedArt& operator=(const MatchedArt&) = delete;
    ~MatchedArt() {
        if (fHandle != nullptr) sAIMDMemory->MdMemoryDisposeHandle(fHandle);
    }

    AIArtHandle*** handleSlot() { return &fHandle; }
    ai::int32* countSlot() { return &fCount; }
    // A null handle, or one that points at no array, holds nothing.
    ai::int32 count() const { return fHandle != nullptr && *fHandle != nullptr ? fCount : 0; }
    AIArtHandle at(ai::int32 i) const { return (*fHandle)[i]; }

private:
    AIArtHandle** fHandle = nullptr;
    ai::int32 fCount = 0;
};

ASErr getMatchingArt(AIArtType type, AIArtHandle*** matches, ai::int32* count) {
    *matches = nullptr;
    MatchRecord record;
    record.type = type;
    record.padding = 0;
    record.whichAttr = 0;
    record.attr = 0;
    const ASErr err = sAIMatch->GetMatchingArt(&record, 1, matches, count);
    if (err == kNoErr) return kNoErr;
    if (*matches != nullptr) sAIMDMemory->MdMemoryDisposeHandle(*matches);
    *matches = nullptr;
    return err;
}

// The first object of art's own walk: a plugin group's result group, any
// other object's first child.
ASErr firstOfWalk(AIArtHandle art, bool typeKnown, AIArtType type, AIArtHandle* first) {
    *first = nullptr;
    if (typeKnown && type == kPluginArt) return sAIPluginGroup->GetPluginArtResultArt(art, first);
    return sAIArt->GetArtFirstChild(art, first);
}

// Sets art's own selected attribute (never a guide's) and finds the first
// object below it. Returns the result of that last query.
ASErr visit(AIArtHandle art, unsigned char flag, AIArtHandle* first) {
    AIArtType type = 0;
    const bool typeKnown = sAIArt->GetArtType(art, &type) == kNoErr;
    if (typeKnown) {
        // A path whose guide state cannot be read is left alone, as a guide is.
        ASBoolean isGuide = 0;
        if (type == kPathArt && sAIPath->GetPathGuide(art, &isGuide) != kNoErr) isGuide = 1;
        if (type != kPathArt || isGuide == 0)
            sAIArt->SetArtUserAttr(art, kArtSelected, flag != 0 ? kArtSelected : 0);
    }
    return firstOfWalk(art, typeKnown, type, first);
}

// The levels of select's walk: the first few in the object itself, the
// rest on the heap, so the usual shallow walk allocates nothing and the
// deepest still fits.
class WalkStack {
public:
    void push(AIArtHandle art) {
        if (size_ < kInlineLevels) {
            inline_[size_] = art;
        } else {
            deeper_.push_back(art);
        }
        ++size_;
    }
    AIArtHandle& top() { return size_ <= kInlineLevels ? inline_[size_ - 1] : deeper_.back(); }
    void pop() {
        if (size_ > kInlineLevels) deeper_.pop_back();
        --size_;
    }
    bool empty() const { return size_ == 0; }

private:
    static constexpr std::size_t kInlineLevels = 32;
    AIArtHandle inline_[kInlineLevels];
    std::vector<AIArtHandle> deeper_;
    std::size_t size_ = 0;
};

}  // namespace

#define DEFINE_KIND_QUERY(name, artType)                      \
    ASErr name(AIArtHandle*** matches, ai::int32* count) {    \
        return getMatchingArt(artType, matches, count);       \
    }
DEFINE_KIND_QUERY(get_paths, kPathArt)
DEFINE_KIND_QUERY(get_compound_paths, kCompoundPathArt)
DEFINE_KIND_QUERY(get_groups, kGroupArt)
DEFINE_KIND_QUERY(get_pluginGroups, kPluginArt)
DEFINE_KIND_QUERY(get_meshes, kMeshArt)
DEFINE_KIND_QUERY(get_placed, kPlacedArt)
DEFINE_KIND_QUERY(get_symbols, kSymbolArt)
DEFINE_KIND_QUERY(get_rasters, kRasterArt)
#undef DEFINE_KIND_QUERY

// select: a depth-first walk in document order, kept in a WalkStack so that
// a tree of any depth fits. Each level of `pending` is the object whose
// subtree is being walked at that depth. The host calls are those of the
// natural recursion, in the same order: for each object its type, guide
// state and attribute, then its first child; after its subtree, its next
// sibling. An error ends the walk of one level only, as it would end one
// recursive call; the root's own level decides the result.
ASErr select(AIArtHandle art, unsigned char flag) {
    AIArtHandle first = nullptr;
    ASErr err = visit(art, flag, &first);
    if (err != kNoErr || first == nullptr) return err;

    WalkStack pending;
    pending.push(first);
    for (;;) {
        AIArtHandle below = nullptr;
        if (visit(pending.top(), flag, &below) == kNoErr && below != nullptr) {
            pending.push(below);
            continue;
        }
        // pending.top()'s subtree is done: move on to its sibling, or end
        // that level and return to the one above.
        for (;;) {
            AIArtHandle next = nullptr;
            err = sAIArt->GetArtSibling(pending.top(), &next);
            if (err == kNoErr && next != nullptr) {
                pending.top() = next;
                break;
            }
            pending.pop();
            if (pending.empty()) return err;
        }
    }
}

ASErr unselect_selection() {
    MatchedArt selection;
    const ASErr err = sAIMatch->GetSelectedArt(selection.handleSlot(), selection.countSlot());
    if (err != kNoErr) return err;
    for (ai::int32 i = 0; i < selection.count(); ++i) select(selection.at(i), 0);
    return kNoErr;
}

// ===========================================================================
// Commands
// ===========================================================================

namespace {

enum class Eligibility { kEligible, kPassOver, kEndOfWalk };

// The tests every command makes first, in this order: the object's layer
// (none ends the walk), the layer's editable and visible flags, and the
// excluded attribute bits.
ASErr checkEligible(AIArtHandle art, Eligibility* outcome) {
    *outcome = Eligibility::kPassOver;
    AILayerHandle layer = nullptr;
    ASErr err = sAIArt->GetArtLayer(art, &layer);
    if (err != kNoErr) return err;
    if (layer == nullptr) {
        *outcome = Eligibility::kEndOfWalk;
        return kNoErr;
    }
    ASBoolean editable = 0;
    err = sLayer->GetLayerEditable(layer, &editable);
    if (err != kNoErr || editable == 0) return err;
    ASBoolean visible = 0;
    err = sLayer->GetLayerVisible(layer, &visible);
    if (err != kNoErr || visible == 0) return err;
    ai::int32 attr = 0;
    err = sAIArt->GetArtUserAttr(art, kArtLocked | kArtHidden, &attr);
    if (err != kNoErr || attr != 0) return err;
    *outcome = Eligibility::kEligible;
    return kNoErr;
}

ASErr markSelected(AIArtHandle art) {
    return sAIArt->SetArtUserAttr(art, kArtSelected, kArtSelected);
}

// Whether a path sits directly in a group that sits directly in a plugin
// group: such paths are the plugin group's own drawing and are never
// selected apart from it. A path or group with no parent passes.
ASErr isPluginGroupPart(AIArtHandle path, bool* part) {
    *part = false;
    AIArtHandle parent = nullptr;
    ASErr err = sAIArt->GetArtParent(path, &parent);
    if (err != kNoErr || parent == nullptr) return err;
    AIArtType parentType = 0;
    err = sAIArt->GetArtType(parent, &parentType);
    if (err != kNoErr || parentType != kGroupArt) return err;
    AIArtHandle grandparent = nullptr;
    err = sAIArt->GetArtParent(parent, &grandparent);
    if (err != kNoErr || grandparent == nullptr) return err;
    AIArtType grandparentType = 0;
    err = sAIArt->GetArtType(grandparent, &grandparentType);
    if (err != kNoErr) return err;
    *part = grandparentType == kPluginArt;
    return kNoErr;
}

ASErr pathMatchesMode(AIArtHandle path, ai::int16 mode, const AIPathStyle& style, bool* matches) {
    *matches = false;
    const bool dashedStroke = style.strokePaint == 1 && style.dashCount != 0;
    switch (mode) {
        case kAllPaths: *matches = true; break;
        case kOpenPaths:
        case kClosedPaths: {
            ASBoolean closed = 0;
            const ASErr err = sAIPath->GetPathClosed(path, &closed);
            if (err != kNoErr) return err;
            *matches = (mode == kOpenPaths) == (closed == 0);
            break;
        }
        case kFilledPaths: *matches = style.fillPaint == 1; break;
        case kUnfilledPaths: *matches = style.fillPaint == 0; break;
        case kStrokedPaths: *matches = style.strokePaint == 1; break;
        case kUnstrokedPaths: *matches = style.strokePaint == 0; break;
        case kDashedPaths: *matches = dashedStroke; break;
        case kUndashedPaths: *matches = !dashedStroke; break;
        default: break;  // guides are handled before; unknown modes select nothing
    }
    return kNoErr;
}

ASErr selectPathIfMatching(AIArtHandle path, ai::int16 mode, bool* endOfWalk) {
    Eligibility eligibility;
    ASErr err = checkEligible(path, &eligibility);
    *endOfWalk = eligibility == Eligibility::kEndOfWalk;
    if (err != kNoErr || eligibility != Eligibility::kEligible) return err;

    ASBoolean isGuide = 0;
    err = sAIPath->GetPathGuide(path, &isGuide);
    if (err != kNoErr) return err;
    if (isGuide != 0) return mode == kGuidePaths ? markSelected(path) : kNoErr;

    bool pluginGroupPart = false;
    err = isPluginGroupPart(path, &pluginGroupPart);
    if (err != kNoErr || pluginGroupPart) return err;

    AIPathStyle style;
    std::memset(&style, 0, sizeof style);
    err = sAIPathStyle->GetPathStyle(path, &style);
    if (err != kNoErr) return err;

    bool matches = false;
    err = pathMatchesMode(path, mode, style, &matches);
    if (err != kNoErr || !matches) return err;
    return markSelected(path);
}

// The type of a mesh's grandparent; a mesh without parent or grandparent
// counts as lying in a group.
ASErr meshAncestryType(AIArtHandle mesh, AIArtType* type) {
    *type = kGroupArt;
    AIArtHandle parent = nullptr;
    ASErr err = sAIArt->GetArtParent(mesh, &parent);
    if (err != kNoErr || parent == nullptr) return err;
    AIArtHandle grandparent = nullptr;
    err = sAIArt->GetArtParent(parent, &grandparent);
    if (grandparent == nullptr) return kNoErr;
    if (err != kNoErr) return err;
    return sAIArt->GetArtType(grandparent, type);
}

// What a whole-object command does to a match that passed the common tests.
// Sets *actedOn when it acted; a match passed over leaves `previous` alone.
using ObjectAction = ASErr (*)(AIArtHandle art, bool* actedOn);
using KindQuery = ASErr (*)(AIArtHandle*** matches, ai::int32* count);

ASErr selectWithContents(AIArtHandle art, bool* actedOn) {
    select(art, 1);
    *actedOn = true;
    return kNoErr;
}

ASErr selectGroupUnlessPluginPart(AIArtHandle group, bool* actedOn) {
    *actedOn = false;
    AIArtHandle parent = nullptr;
    ASErr err = sAIArt->GetArtParent(group, &parent);
    if (err != kNoErr || parent == nullptr) return err;
    AIArtType parentType = 0;
    err = sAIArt->GetArtType(parent, &parentType);
    if (err != kNoErr || parentType == kPluginArt) return err;
    return selectWithContents(group, actedOn);
}

ASErr selectPluginGroupAndMark(AIArtHandle pluginGroup, bool* actedOn) {
    select(pluginGroup, 1);
    *actedOn = true;
    return markSelected(pluginGroup);
}

ASErr markOnly(AIArtHandle art, bool* actedOn) {
    *actedOn = true;
    return markSelected(art);
}

// The skeleton of the whole-object commands: clear the selection, query one
// kind, and act on every eligible match, skipping one equal to the last
// match acted on.
ASErr selectObjects(KindQuery query, ObjectAction action) {
    ASErr err = unselect_selection();
    if (err != kNoErr) return err;
    MatchedArt matches;
    err = query(matches.handleSlot(), matches.countSlot());
    if (err != kNoErr) return err;

    AIArtHandle previous = nullptr;
    for (ai::int32 i = 0; i < matches.count(); ++i) {
        const AIArtHandle art = matches.at(i);
        Eligibility eligibility;
        err = checkEligible(art, &eligibility);
        if (err != kNoErr) return err;
        if (eligibility == Eligibility::kEndOfWalk) return kNoErr;
        if (eligibility != Eligibility::kEligible || art == previous) continue;
        bool actedOn = false;
        err = action(art, &actedOn);
        if (err != kNoErr) return err;
        if (actedOn) previous = art;
    }
    return kNoErr;
}

}  // namespace

ASErr selectPaths(AIMenuMessage*, ai::int16 mode) {
    ASErr err = unselect_selection();
    if (err != kNoErr) return err;
    MatchedArt paths;
    err = get_paths(paths.handleSlot(), paths.countSlot());
    if (err != kNoErr) return err;

    for (ai::int32 i = 0; i < paths.count(); ++i) {
        bool endOfWalk = false;
        err = selectPathIfMatching(paths.at(i), mode, &endOfWalk);
        if (err != kNoErr) return err;
        if (endOfWalk) break;
    }
    return kNoErr;
}

ASErr selectMeshes(AIMenuMessage*, ai::int16 mode) {
    ASErr err = unselect_selection();
    if (err != kNoErr) return err;
    MatchedArt meshes;
    err = get_meshes(meshes.handleSlot(), meshes.countSlot());
    if (err != kNoErr) return err;

    AIArtHandle previous = nullptr;
    for (ai::int32 i = 0; i < meshes.count(); ++i) {
        const AIArtHandle mesh = meshes.at(i);
        Eligibility eligibility;
        err = checkEligible(mesh, &eligibility);
        if (err != kNoErr) return err;
        if (eligibility == Eligibility::kEndOfWalk) break;
        if (eligibility != Eligibility::kEligible || mesh == previous) continue;

        AIArtType ancestry = 0;
        err = meshAncestryType(mesh, &ancestry);
        if (err != kNoErr) return err;
        const bool wanted = (mode == kMeshesInGroups && ancestry == kGroupArt) ||
                            (mode == kMeshesInPluginGroups && ancestry == kPluginArt);
        if (wanted) {
            err = markSelected(mesh);
            if (err != kNoErr) return err;
        }
        previous = mesh;
    }
    return kNoErr;
}

ASErr selectCompoundPaths(AIMenuMessage*) {
    return selectObjects(get_compound_paths, selectWithContents);
}

ASErr selectGroups(AIMenuMessage*) {
    return selectObjects(get_groups, selectGroupUnlessPluginPart);
}

ASErr selectPluginGroups(AIMenuMessage*) {
    return selectObjects(get_pluginGroups, selectPluginGroupAndMark);
}

ASErr selectPlaced(AIMenuMessage*) {
    return selectObjects(get_placed, markOnly);
}

ASErr selectSymbols(AIMenuMessage*) {
    return selectObjects(get_symbols, markOnly);
}

ASErr selectRasters(AIMenuMessage*) {
    return selectObjects(get_rasters, markOnly);
}
