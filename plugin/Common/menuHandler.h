// The plug-in's menus and the selection commands behind them.
#pragma once

#include "AISuites.h"

// ---- Menus ----------------------------------------------------------------

constexpr ai::int32 kMenuTextListID = 17000;
constexpr const char* kSelectMenuGroup = "SelectObject";
constexpr const char* kAboutPluginsGroup = "WendlowAboutPluginsGroupName";
constexpr const char* kAboutPluginsGroupText = "About Wendlow Plug-ins";
constexpr const char* kAboutItemText = "Brindle...";

// Slot of the globals block that holds the item of text `index` (1 to 18) of
// the menu text list. The sixteenth text names the symbol command, whose item
// sits after the raster command's.
constexpr int menuSlotOfIndex(int index) {
    return index == 16 ? 16 : index == 17 ? 15 : index - 1;
}

// At "Startup": adds the eighteen command items to "SelectObject" and the
// About item to the shared About-plug-ins group, keeping their handles in g.
ASErr addMenu(SPInterfaceMessage* message);
// "AI Go": runs the command of the chosen item; 0 for an item not ours.
ASErr goMenuItem(AIMenuMessage* message);
// "AI Update": the host updates the items itself; nothing to do.
ASErr updateMenuItem(AIMenuMessage* message);

// ---- Selection primitives -----------------------------------------------

// Kind queries: every object of one art type in the document. On success
// the caller owns *matches (dispose with MdMemoryDisposeHandle) and *count
// entries. On failure *matches is null and nothing is owned.
ASErr get_paths(AIArtHandle*** matches, ai::int32* count);
ASErr get_compound_paths(AIArtHandle*** matches, ai::int32* count);
ASErr get_groups(AIArtHandle*** matches, ai::int32* count);
ASErr get_pluginGroups(AIArtHandle*** matches, ai::int32* count);
ASErr get_meshes(AIArtHandle*** matches, ai::int32* count);
ASErr get_placed(AIArtHandle*** matches, ai::int32* count);
ASErr get_symbols(AIArtHandle*** matches, ai::int32* count);
ASErr get_rasters(AIArtHandle*** matches, ai::int32* count);

// Sets (flag non-zero) or clears the selected attribute of `art` and of
// everything below it; a guide's selection is never changed. Returns the
// error that stopped the walk over art's own children, or 0.
ASErr select(AIArtHandle art, unsigned char flag);
// Clears the document's selection.
ASErr unselect_selection();

// ---- Commands ----------------------------------------------------------

// Path modes of selectPaths.
enum PathMode : ai::int16 {
    kGuidePaths = 0,
    kAllPaths = 1,
    kOpenPaths = 2,
    kClosedPaths = 3,
    kFilledPaths = 4,
    kUnfilledPaths = 5,
    kStrokedPaths = 6,
    kUnstrokedPaths = 7,
    kDashedPaths = 8,
    kUndashedPaths = 9,
};
// Mesh modes of selectMeshes.
enum MeshMode : ai::int16 {
    kMeshesInGroups = 0,
    kMeshesInPluginGroups = 1,
};

// Every command keeps the signature the system gives it: the menu message
// first, though no command reads it, then the mode for the path and mesh
// commands. The unread message is part of that signature, not an
// oversight: keep it.
ASErr selectPaths(AIMenuMessage* message, ai::int16 mode);
ASErr selectMeshes(AIMenuMessage* message, ai::int16 mode);
ASErr selectCompoundPaths(AIMenuMessage* message);
ASErr selectGroups(AIMenuMessage* message);
ASErr selectPluginGroups(AIMenuMessage* message);
ASErr selectPlaced(AIMenuMessage* message);
ASErr selectSymbols(AIMenuMessage* message);
ASErr selectRasters(AIMenuMessage* message);
