#include "simhost/Generator.h"

#include <algorithm>
#include <string>

namespace simhost {

namespace {

// SplitMix64: small, fast, and the same sequence on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 to n - 1.
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    bool chance(std::uint32_t percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

constexpr int kMaxGroupDepth = 6;

// Builds one layer's art at a time, in document order, stopping the moment
// the document holds `limit` objects, whatever it was in the middle of.
class DrawingBuilder {
public:
    DrawingBuilder(Document& document, std::uint64_t seed) : doc_(document), random_(seed) {}

    void fillLayer(ArtIndex root, std::size_t limit) {
        limit_ = limit;
        while (room()) item(root, 0);
    }

private:
    bool room() const { return doc_.artCount() < limit_; }

    std::string idFor(AIArtType type) const {
        static const char* const kPrefix[] = {"o", "g", "p", "c", "o", "o", "x", "pl", "o", "r", "pg", "m", "o", "s"};
        const char* prefix = type >= 0 && type < 14 ? kPrefix[type] : type == kTextArt ? "t" : "o";
        return prefix + std::to_string(doc_.artCount());
    }

    // A few objects of every kind are locked, hidden or already selected.
    void decorate(ArtIndex index) {
        ArtNode& node = doc_.art(index);
        const std::uint32_t roll = random_.below(100);
        if (roll < 3) node.attributes |= kArtLocked;
        else if (roll < 6) node.attributes |= kArtHidden;
        else if (roll < 11) node.attributes |= kArtSelected;
    }

    ArtIndex leaf(ArtIndex parent, AIArtType type) {
        if (!room()) return kNone;
        const ArtIndex index = doc_.addArt(parent, type, idFor(type));
        decorate(index);
        return index;
    }

    void item(ArtIndex parent, int depth) {
        const std::uint32_t roll = random_.below(100);
        if (roll < 46) path(parent, random_.chance(60));
        else if (roll < 60) group(parent, depth);
        else if (roll < 66) compoundPath(parent);
        else if (roll < 70) pluginGroup(parent);
        else if (roll < 75) leaf(parent, kMeshArt);
        else if (roll < 79) leaf(parent, kRasterArt);
        else if (roll < 83) leaf(parent, kPlacedArt);
        else if (roll < 91) leaf(parent, kSymbolArt);
        else if (roll < 97) leaf(parent, kTextArt);
        else leaf(parent, kOtherArt);
    }

    void path(ArtIndex parent, bool closed) {
        const ArtIndex index = leaf(parent, kPathArt);
        if (index == kNone) return;
        ArtNode& node = doc_.art(index);
        node.closed = closed ? 1 : 0;
        node.guide = random_.chance(3) ? 1 : 0;
        node.fillPaint = random_.chance(70) ? 1 : 0;
        node.strokePaint = random_.chance(55) ? 1 : 0;
        if (node.strokePaint != 0 && random_.chance(20))
            node.dashCount = static_cast<ai::int16>(1 + random_.below(6));
    }

    void paths(ArtIndex parent, std::uint32_t atLeast, std::uint32_t atMost) {
        const std::uint32_t n = atLeast + random_.below(atMost - atLeast + 1);
        for (std::uint32_t i = 0; i < n; ++i) path(parent, random_.chance(60));
    }

    void group(ArtIndex parent, int depth) {
        if (depth >= kMaxGroupDepth) return path(parent, random_.chance(60));
        const ArtIndex index = leaf(parent, kGroupArt);
        if (index == kNone) return;
        const std::uint32_t n = 2 + random_.below(8);
        for (std::uint32_t i = 0; i < n && room(); ++i) item(index, depth + 1);
    }

    void compoundPath(ArtIndex parent) {
        const ArtIndex index = leaf(parent, kCompoundPathArt);
        if (index == kNone) return;
        const std::uint32_t n = 2 + random_.below(3);
        for (std::uint32_t i = 0; i < n; ++i) path(index, true);
    }

    // Edit art: a group of paths directly inside (never selected as paths
    // on their own) and sometimes a path beside it. The result group holds
    // the drawing the plugin group shows: paths and a mesh directly in it,
    // and a group of paths one level deeper.
    void pluginGroup(ArtIndex parent) {
        const ArtIndex index = leaf(parent, kPluginArt);
        if (index == kNone) return;
        const ArtIndex edit = leaf(index, kGroupArt);
        if (edit != kNone) paths(edit, 1, 3);
        if (random_.chance(30)) path(index, random_.chance(50));
        if (!room()) return;
        const ArtIndex result = doc_.addResultGroup(index, idFor(kGroupArt));
        if (random_.chance(50)) leaf(result, kMeshArt);
        paths(result, 0, 2);
        const ArtIndex inner = leaf(result, kGroupArt);
        if (inner == kNone) return;
        paths(inner, 1, 3);
        if (random_.chance(25)) leaf(inner, kMeshArt);
    }

    Document& doc_;
    Random random_;
    std::size_t limit_ = 0;
};

// A subtree of exactly `size` objects under `parent`: a path when size is
// 1, otherwise a group sharing size - 1 among at most `fanout` subtrees.
void groupSubtree(Document& doc, ArtIndex parent, std::size_t size, std::size_t fanout) {
    if (size == 1) {
        PathProps props;
        props.guide = doc.artCount() % 10 == 0;
        doc.addPath(parent, props);
        return;
    }
    const ArtIndex group = doc.addArt(parent, kGroupArt);
    const std::size_t below = size - 1;
    const std::size_t children = std::min(fanout, below);
    for (std::size_t i = 0; i < children; ++i)
        groupSubtree(doc, group, below / children + (i < below % children ? 1 : 0), fanout);
}

}  // namespace

Document generateDocument(const GeneratorOptions& options) {
    Document doc;
    doc.reserve(options.objects);
    const std::size_t layers = std::max<std::size_t>(1, std::min(options.layers, options.objects));
    DrawingBuilder builder(doc, options.seed);
    for (std::size_t k = 0; k < layers; ++k) {
        const bool locked = k == 3;
        const bool hidden = k == 6;
        const LayerIndex layer = doc.addLayer("Layer " + std::to_string(k + 1), !hidden, !locked);
        // Layer k ends at its share of the whole; the last ends at the total.
        builder.fillLayer(doc.rootOf(layer), options.objects * (k + 1) / layers);
    }
    return doc;
}

Document generateGroupTree(std::size_t objects, std::size_t fanout) {
    Document doc;
    doc.reserve(objects);
    const LayerIndex layer = doc.addLayer("Tree");
    if (objects >= 2) groupSubtree(doc, doc.rootOf(layer), objects - 1, std::max<std::size_t>(fanout, 2));
    return doc;
}

Document generateNestedChain(std::size_t depth) {
    Document doc;
    doc.reserve(depth + 2);
    const LayerIndex layer = doc.addLayer("Chain");
    ArtIndex parent = doc.rootOf(layer);
    for (std::size_t i = 0; i < depth; ++i) parent = doc.addArt(parent, kGroupArt);
    doc.addPath(parent, PathProps{}, "leaf");
    return doc;
}

}  // namespace simhost
