// The host's document: an ordered list of layers, each with a tree of art
// objects under the layer's own root group.
//
// The root group is an art object of type group with no parent; the layer's
// top-level art has it as parent. A plugin group holds its edit art as
// ordinary children and one result group, reached only through the Plugin
// Group suite, whose parent is the plugin group. Document order is a
// pre-order walk, layer by layer: an object, its children, then (for a
// plugin group) its result group.
//
// Objects and layers are addressed by index; the host's handles carry these
// indices (see Handles.h).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AISuites.h"
#include "simhost/Indices.h"

namespace simhost {

// Art types of the host besides the eight the plug-in selects.
constexpr AIArtType kTextArt = 15;
constexpr AIArtType kOtherArt = 6;  // a kind of object no command selects

constexpr std::int32_t kNone = -1;

// Kept small, with its id apart: commands walk millions of these, and the
// walk is bound by memory, not by arithmetic.
struct ArtNode {
    AIArtType type = kGroupArt;
    // Paths: raw bytes, so values other than 0 and 1 can be tried.
    ASBoolean closed = 0;
    ASBoolean guide = 0;
    ai::int32 attributes = 0;  // user attribute bits: 1 selected, 2 locked, 4 hidden
    ArtIndex parent = kNone;
    ArtIndex firstChild = kNone;
    ArtIndex lastChild = kNone;
    ArtIndex nextSibling = kNone;
    ArtIndex resultGroup = kNone;  // plugin groups only
    LayerIndex layer = kNone;
    ASBoolean fillPaint = 1;
    ASBoolean strokePaint = 0;
    ai::int16 dashCount = 0;
    // Levers for hostile documents: the host answers get-layer or get-parent
    // with null for this object, or lists it twice in a matching result.
    bool reportNoLayer = false;
    bool reportNoParent = false;
    bool listedTwice = false;
    // Deleted: unlinked from its parent (or below an object that is), kept
    // with its index, id and subtree so that undo can link it back.
    bool unlinked = false;
};
static_assert(sizeof(ArtNode) <= 40, "an object's node fits in 40 bytes");

struct Layer {
    std::string name;
    ASBoolean visible = 1;
    ASBoolean editable = 1;
    ArtIndex root = kNone;
};

// Where an unlinked object stood: its parent and the sibling before it
// (kNone when it came first), so it can be linked back at the same place.
struct Placement {
    ArtIndex parent = kNone;
    ArtIndex previous = kNone;
};

// Properties of a path given to the builder.
struct PathProps {
    bool closed = false;
    bool guide = false;
    bool filled = true;
    bool stroked = false;
    ai::int16 dashCount = 0;
};

class Document {
public:
    // A new layer, its root group included; layers are kept in this order.
    LayerIndex addLayer(std::string name, bool visible = true, bool editable = true);
    // A new object appended as the last child of `parent` (an object of any
    // layer, usually a group or a layer's root).
    ArtIndex addArt(ArtIndex parent, AIArtType type, std::string id = {});
    ArtIndex addPath(ArtIndex parent, const PathProps& props, std::string id = {});
    // Gives a plugin group its result group, a group that is not among its
    // children. A plugin group has at most one.
    ArtIndex addResultGroup(ArtIndex pluginGroup, std::string id = {});

    // A node to change as it is. The host's selection index may then be
    // stale and is rebuilt by the next selection query, so change the node
    // before that query, not later through a reference kept from here.
    ArtNode& art(ArtIndex index) {
        selectionKnown_ = false;
        listedTwiceKnown_ = false;
        return nodes_[static_cast<std::size_t>(index)];
    }
    const ArtNode& art(ArtIndex index) const { return nodes_[static_cast<std::size_t>(index)]; }
    // The user attributes under `mask` set to `value`'s, the selection index
    // kept up to date: how the host's own operations change them.
    void setUserAttributes(ArtIndex index, ai::int32 mask, ai::int32 value);
    Layer& layer(LayerIndex index) { return layers_[static_cast<std::size_t>(index)]; }
    const Layer& layer(LayerIndex index) const { return layers_[static_cast<std::size_t>(index)]; }
    // Whether `index` names an object in the document: a deleted one is not.
    bool hasArt(std::int64_t index) const {
        return index >= 0 && static_cast<std::uint64_t>(index) < artCount_ &&
               !nodes_[static_cast<std::size_t>(index)].unlinked;
    }
    // The node at `index`, or null past the last one or for a deleted
    // object: the host's check of every handle, so it avoids the division
    // that nodes_.size() costs.
    const ArtNode* nodeAt(std::uintptr_t index) const {
        if (index >= artCount_) return nullptr;
        const ArtNode* node = nodes_.data() + index;
        return node->unlinked ? nullptr : node;
    }

    // Unlinks `objects` (in document order, none below another, no layer
    // root or result group among them) from their parents, each with its
    // subtree, in one pass over the parents' children: deleting many
    // siblings costs no more than the siblings. Returns where each stood.
    std::vector<Placement> unlink(const std::vector<ArtIndex>& objects);
    // Links objects unlinked by one unlink() back where they stood: the
    // same vectors, with the document as that unlink() left it.
    void relink(const std::vector<ArtIndex>& objects, const std::vector<Placement>& placements);
    bool hasLayer(std::int64_t index) const {
        return index >= 0 && static_cast<std::uint64_t>(index) < layers_.size();
    }
    std::size_t artCount() const { return nodes_.size(); }
    std::size_t layerCount() const { return layers_.size(); }
    ArtIndex rootOf(LayerIndex layer) const { return layers_[static_cast<std::size_t>(layer)].root; }
    void reserve(std::size_t objects) {
        nodes_.reserve(objects);
        ids_.reserve(objects);
    }

    // Every object in document order, deleted ones left out. Cached; rebuilt
    // after the tree changes.
    const std::vector<ArtIndex>& documentOrder() const;
    // Every object of one type in document order: what the matching query
    // hands out without walking the whole document. Cached like the order;
    // an object's type is set when it is added and never changes.
    const std::vector<ArtIndex>& ofType(AIArtType type) const;
    // Whether any object carries the listedTwice lever; the matching query
    // need not look at each object when none does. Kept like the index.
    bool anyListedTwice() const;
    // The selected objects, in document order, from the selection index:
    // no walk over the document unless the index had to be rebuilt.
    std::vector<ArtIndex> selected() const;
    // While `marks` is set, marks[index] becomes 1 whenever object `index`
    // is selected (its selected bit set, whether it was set or not): what a
    // command selected itself, told apart from what it left selected. One
    // entry per object; null stops the record.
    void recordSelecting(std::vector<std::uint8_t>* marks) { selecting_ = marks; }
    // The object's id, for output; empty when it has none.
    const std::string& id(ArtIndex index) const { return ids_[static_cast<std::size_t>(index)]; }
    void setId(ArtIndex index, std::string id) { ids_[static_cast<std::size_t>(index)] = std::move(id); }
    // The object whose id is `id`; kNone when there is none (or it is deleted).
    ArtIndex find(const std::string& id) const;
    // A hash of everything except the selected bits: what a selection command
    // must leave unchanged.
    std::uint64_t fingerprintBesidesSelection() const;

private:
    ArtIndex newNode(AIArtType type, std::string id);
    void link(ArtIndex parent, ArtIndex child);
    void markSubtree(ArtIndex top, bool unlinked);
    void treeChanged();
    void ensureSelectionIndex() const;

    std::vector<Layer> layers_;
    std::vector<ArtNode> nodes_;
    std::vector<std::string> ids_;  // beside nodes_, one per object
    std::size_t artCount_ = 0;      // nodes_.size()
    mutable std::vector<ArtIndex> order_;
    mutable std::vector<std::pair<AIArtType, std::vector<ArtIndex>>> byType_;
    mutable bool orderValid_ = false;
    // Selection index: bit p of selectedBits_ is set when the object at
    // position p of the order is selected; positionOf_ maps objects to
    // positions. Valid while selectionKnown_.
    mutable std::vector<std::uint64_t> selectedBits_;
    mutable std::vector<std::int32_t> positionOf_;
    mutable bool selectionKnown_ = false;
    mutable bool anyListedTwice_ = false;
    mutable bool listedTwiceKnown_ = false;
    std::vector<std::uint8_t>* selecting_ = nullptr;
};

inline void Document::setUserAttributes(ArtIndex index, ai::int32 mask, ai::int32 value) {
    ArtNode& node = nodes_[static_cast<std::size_t>(index)];
    const ai::int32 before = node.attributes;
    if (selecting_ != nullptr && (mask & value & kArtSelected) != 0) (*selecting_)[static_cast<std::size_t>(index)] = 1;
    node.attributes = (before & ~mask) | (value & mask);
    if (!selectionKnown_ || ((before ^ node.attributes) & kArtSelected) == 0) return;
    const auto position = static_cast<std::size_t>(positionOf_[static_cast<std::size_t>(index)]);
    if (position >= order_.size()) return;  // not in the order: no layer holds it
    selectedBits_[position / 64] ^= std::uint64_t(1) << (position % 64);
}

}  // namespace simhost
