// The host's own work on an open document, around the plug-in's commands:
// its Select menu (All, Deselect, Inverse), hiding and locking objects and
// layers, deleting, undo and redo, and the drawing saved with its edits.
//
// Every front end edits through this one class: the command line's
// --delete/--hide/--lock/--keep-only and --save, the server's routes.
//
// Objects keep the index and the id (their key) they had when the document
// was read: a deleted object is unlinked from its parent, never freed, so
// undo puts it back where it was and no other object's key shifts. The
// drawing's text is never read again: the saved drawing is the text as it
// was read with each edit spliced in, so what was not edited is written
// byte for byte as it was read.
//
// Not thread-safe: one thread (the host's) uses an editor and its document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "simhost/Document.h"
#include "simhost/documents/Documents.h"

namespace simhost {

enum class SelectOp {
    kAll,      // every object All may select (see Editor::selectable)
    kNone,     // clears every selected bit, guides' included
    kInverse,  // swaps selected and unselected within what All may select
    kSet,      // exactly the objects given
    kAdd,      // the objects given, besides what is selected
    kRemove,   // what is selected, less the objects given
    kToggle,   // each object given flips
};

// What an operation did, for the answer and the status line.
struct EditOutcome {
    std::size_t changed = 0;  // objects (or layers) whose state changed
    // Show All / Unlock All: objects still hidden or locked by other means
    // (style sheets, visibility, conditions, a hidden ancestor), left as
    // they are. Delete, Hide and Lock: selected objects left as they were
    // because they are part of something else (one subpath of a <path>, a
    // layer's root, a plugin group's result) or, for Hide and Lock, guides.
    std::size_t untouched = 0;
    std::string message;  // one sentence: "Deleted 3 objects."
};

class Editor {
public:
    // `open` must outlive the editor and be edited only through it.
    explicit Editor(OpenDocument& open);
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    OpenDocument& open() { return open_; }
    Document& document() { return open_.document(); }

    // The objects the host's All selects: neither hidden nor locked, on a
    // visible, editable layer, guides excluded, top-level in their layer (a
    // group, not its members). In document order.
    //
    // Selecting an object sets the selected bit on it and on every object
    // below it (a plugin group's result included), as the plug-in's own
    // selection of a group does; guides below it keep their bit, a guide
    // named itself is selected. Deselecting clears the same bits.
    std::vector<ArtIndex> selectable();
    // Ops other than kAll, kNone and kInverse take `objects`; an object
    // that is not in the document (deleted) is refused with
    // std::invalid_argument. One undo step when anything changed.
    EditOutcome select(SelectOp op, const std::vector<ArtIndex>& objects = {});

    // A change made outside the editor (a plug-in command changing the
    // selection) as one undo step named `label`: call before and after.
    void beginOutside(std::string label);
    EditOutcome endOutside();

    // Edits of the selected objects (guides included only where said).
    EditOutcome deleteSelection();    // removes them (and their members)
    EditOutcome keepOnlySelection();  // removes every other object All may select
    EditOutcome hideSelection();      // display:none in the saved style
    EditOutcome lockSelection();      // sodipodi:insensitive="true"
    EditOutcome showAll();            // clears only what hideSelection writes
    EditOutcome unlockAll();          // clears only what lockSelection writes
    EditOutcome setLayerVisible(LayerIndex layer, bool visible);
    EditOutcome setLayerEditable(LayerIndex layer, bool editable);

    // Undo and redo, each a whole step; false when there is none.
    bool canUndo() const;
    bool canRedo() const;
    std::string undoLabel() const;  // "Delete", "Select All", ...; empty when none
    std::string redoLabel() const;
    bool undo();
    bool redo();

    // Whether the drawing differs from what was read (selection aside).
    bool edited() const;
    // Grows with every change to the drawing (selection aside), so that a
    // reader of savedSvg() can tell a copy it holds is current.
    std::uint64_t revision() const;
    // The object whose key (its id as first read) is `key`; kNone when
    // there is none or it has been deleted.
    ArtIndex byKey(std::string_view key);
    // Whether the object is in the document (not deleted).
    bool present(ArtIndex index) const;

    // The drawing with its edits as SVG text: the text as read when nothing
    // was edited. Throws DocumentError for a document that is not a drawing.
    std::string savedSvg();
    // A new drawing holding the selected objects alone, where they were:
    // their ancestors kept (as groups, with their transforms), everything
    // that is not art (definitions, style sheets, metadata) kept, ids kept.
    // Throws DocumentError for a document that is not a drawing.
    std::string exportedSelectionSvg();

private:
    struct State;
    OpenDocument& open_;
    std::unique_ptr<State> state_;
};

}  // namespace simhost
