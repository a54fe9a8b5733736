#include "simhost/Document.h"

#include <algorithm>
#include <unordered_map>

namespace simhost {

ArtIndex Document::newNode(AIArtType type, std::string id) {
    ArtNode node;
    node.type = type;
    nodes_.push_back(node);
    ids_.push_back(std::move(id));
    artCount_ = nodes_.size();
    orderValid_ = false;
    selectionKnown_ = false;
    listedTwiceKnown_ = false;
    return static_cast<ArtIndex>(nodes_.size() - 1);
}

void Document::link(ArtIndex parent, ArtIndex child) {
    ArtNode& p = art(parent);
    ArtNode& c = art(child);
    c.parent = parent;
    c.layer = p.layer;
    if (p.lastChild == kNone) {
        p.firstChild = child;
    } else {
        art(p.lastChild).nextSibling = child;
    }
    p.lastChild = child;
}

LayerIndex Document::addLayer(std::string name, bool visible, bool editable) {
    Layer layer;
    layer.name = std::move(name);
    layer.visible = visible ? 1 : 0;
    layer.editable = editable ? 1 : 0;
    const auto index = static_cast<LayerIndex>(layers_.size());
    layer.root = newNode(kGroupArt, {});
    art(layer.root).layer = index;
    layers_.push_back(std::move(layer));
    return index;
}

ArtIndex Document::addArt(ArtIndex parent, AIArtType type, std::string id) {
    const ArtIndex child = newNode(type, std::move(id));
    link(parent, child);
    return child;
}

ArtIndex Document::addPath(ArtIndex parent, const PathProps& props, std::string id) {
    const ArtIndex path = addArt(parent, kPathArt, std::move(id));
    ArtNode& node = art(path);
    node.closed = props.closed ? 1 : 0;
    node.guide = props.guide ? 1 : 0;
    node.fillPaint = props.filled ? 1 : 0;
    node.strokePaint = props.stroked ? 1 : 0;
    node.dashCount = props.dashCount;
    return path;
}

ArtIndex Document::addResultGroup(ArtIndex pluginGroup, std::string id) {
    const ArtIndex result = newNode(kGroupArt, std::move(id));
    ArtNode& node = art(result);
    node.parent = pluginGroup;
    node.layer = art(pluginGroup).layer;
    art(pluginGroup).resultGroup = result;
    return result;
}

void Document::treeChanged() {
    orderValid_ = false;
    selectionKnown_ = false;
    listedTwiceKnown_ = false;
}

void Document::markSubtree(ArtIndex top, bool unlinked) {
    std::vector<ArtIndex> pending = {top};
    while (!pending.empty()) {
        ArtNode& node = nodes_[static_cast<std::size_t>(pending.back())];
        pending.pop_back();
        node.unlinked = unlinked;
        if (node.resultGroup != kNone) pending.push_back(node.resultGroup);
        for (ArtIndex c = node.firstChild; c != kNone; c = nodes_[static_cast<std::size_t>(c)].nextSibling)
            pending.push_back(c);
    }
}

std::vector<Placement> Document::unlink(const std::vector<ArtIndex>& objects) {
    std::vector<ArtIndex> parents;
    parents.reserve(objects.size());
    for (const ArtIndex object : objects) {
        markSubtree(object, true);
        parents.push_back(nodes_[static_cast<std::size_t>(object)].parent);
    }
    std::sort(parents.begin(), parents.end());
    parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
    // Each parent's children walked once: the unlinked ones note the
    // sibling before them, the others are chained again without them.
    std::unordered_map<ArtIndex, ArtIndex> previousOf;
    previousOf.reserve(objects.size());
    for (const ArtIndex parent : parents) {
        ArtNode& p = nodes_[static_cast<std::size_t>(parent)];
        ArtIndex previous = kNone, kept = kNone;
        ArtIndex child = p.firstChild;
        p.firstChild = kNone;
        while (child != kNone) {
            ArtNode& c = nodes_[static_cast<std::size_t>(child)];
            const ArtIndex next = c.nextSibling;
            if (c.unlinked) {
                previousOf[child] = previous;
                c.nextSibling = kNone;
            } else {
                if (kept == kNone) p.firstChild = child;
                else nodes_[static_cast<std::size_t>(kept)].nextSibling = child;
                c.nextSibling = kNone;
                kept = child;
            }
            previous = child;
            child = next;
        }
        p.lastChild = kept;
    }
    std::vector<Placement> placements(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i)
        placements[i] = {nodes_[static_cast<std::size_t>(objects[i])].parent, previousOf[objects[i]]};
    treeChanged();
    return placements;
}

void Document::relink(const std::vector<ArtIndex>& objects, const std::vector<Placement>& placements) {
    // In document order, so the sibling an object follows is back already
    // when it was unlinked with it.
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const ArtIndex object = objects[i];
        const Placement& at = placements[i];
        ArtNode& p = nodes_[static_cast<std::size_t>(at.parent)];
        ArtNode& node = nodes_[static_cast<std::size_t>(object)];
        if (at.previous == kNone) {
            node.nextSibling = p.firstChild;
            p.firstChild = object;
            if (p.lastChild == kNone) p.lastChild = object;
        } else {
            ArtNode& previous = nodes_[static_cast<std::size_t>(at.previous)];
            node.nextSibling = previous.nextSibling;
            previous.nextSibling = object;
            if (p.lastChild == at.previous) p.lastChild = object;
        }
        markSubtree(object, false);
    }
    treeChanged();
}

const std::vector<ArtIndex>& Document::documentOrder() const {
    if (orderValid_) return order_;
    order_.clear();
    byType_.clear();
    selectionKnown_ = false;
    order_.reserve(nodes_.size());
    // An explicit stack: documents may nest far deeper than the machine
    // stack allows.
    std::vector<ArtIndex> pending;
    std::vector<ArtIndex> children;
    for (const Layer& layer : layers_) {
        pending.push_back(layer.root);
        while (!pending.empty()) {
            const ArtIndex index = pending.back();
            pending.pop_back();
            order_.push_back(index);
            const ArtNode& node = art(index);
            if (node.resultGroup != kNone) pending.push_back(node.resultGroup);
            children.clear();
            for (ArtIndex c = node.firstChild; c != kNone; c = art(c).nextSibling) children.push_back(c);
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }
    orderValid_ = true;
    return order_;
}

const std::vector<ArtIndex>& Document::ofType(AIArtType type) const {
    const std::vector<ArtIndex>& order = documentOrder();
    for (const auto& entry : byType_)
        if (entry.first == type) return entry.second;
    std::vector<ArtIndex> found;
    for (ArtIndex index : order)
        if (art(index).type == type) found.push_back(index);
    byType_.emplace_back(type, std::move(found));
    return byType_.back().second;
}


bool Document::anyListedTwice() const {
    if (!listedTwiceKnown_) {
        anyListedTwice_ =
            std::any_of(nodes_.begin(), nodes_.end(), [](const ArtNode& n) { return n.listedTwice && !n.unlinked; });
        listedTwiceKnown_ = true;
    }
    return anyListedTwice_;
}

void Document::ensureSelectionIndex() const {
    const std::vector<ArtIndex>& order = documentOrder();
    if (selectionKnown_) return;
    positionOf_.assign(nodes_.size(), static_cast<std::int32_t>(order.size()));
    selectedBits_.assign((order.size() + 63) / 64, 0);
    for (std::size_t position = 0; position < order.size(); ++position) {
        const ArtIndex index = order[position];
        positionOf_[static_cast<std::size_t>(index)] = static_cast<std::int32_t>(position);
        if (art(index).attributes & kArtSelected) selectedBits_[position / 64] |= std::uint64_t(1) << (position % 64);
    }
    selectionKnown_ = true;
}

std::vector<ArtIndex> Document::selected() const {
    ensureSelectionIndex();
    std::vector<ArtIndex> result;
    for (std::size_t word = 0; word < selectedBits_.size(); ++word) {
        for (std::uint64_t bits = selectedBits_[word]; bits != 0; bits &= bits - 1)
            result.push_back(order_[word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))]);
    }
    return result;
}

ArtIndex Document::find(const std::string& id) const {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (ids_[i] == id && !nodes_[i].unlinked) return static_cast<ArtIndex>(i);
    return kNone;
}

std::uint64_t Document::fingerprintBesidesSelection() const {
    // FNV-1a over every field but the selected bit.
    std::uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            hash ^= (value >> (8 * i)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (const Layer& layer : layers_) {
        mix(layer.visible);
        mix(layer.editable);
        mix(static_cast<std::uint64_t>(layer.root));
    }
    for (const ArtNode& node : nodes_) {
        mix(static_cast<std::uint64_t>(node.type));
        mix(static_cast<std::uint32_t>(node.attributes & ~kArtSelected));
        mix(static_cast<std::uint64_t>(node.parent));
        mix(static_cast<std::uint64_t>(node.firstChild));
        mix(static_cast<std::uint64_t>(node.nextSibling));
        mix(static_cast<std::uint64_t>(node.resultGroup));
        mix(static_cast<std::uint64_t>(node.layer));
        mix(node.closed | (node.guide << 8) | (node.fillPaint << 16) | (std::uint64_t(node.strokePaint) << 24));
        mix(static_cast<std::uint16_t>(node.dashCount));
    }
    return hash;
}

}  // namespace simhost
