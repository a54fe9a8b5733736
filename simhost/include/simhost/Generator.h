// Seeded generators of large documents for benchmarks and tests. The same
// options give the same document on every platform (the generator keeps
// its own random sequence rather than the library's distributions).
//
// Objects are created in document order, so a walk in that order reads the
// host's object table front to back however large the document is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simhost/Document.h"

namespace simhost {

struct GeneratorOptions {
    std::uint64_t seed = 1;
    // Art objects in all, the layers' root groups included; the document
    // has exactly this many (at least one per layer).
    std::size_t objects = 10000;
    // Each layer takes an equal share of the objects. Layer 4 is locked
    // (not editable) and layer 7 hidden (not visible), when there are that many.
    std::size_t layers = 8;
};

// A drawing of realistic shape: mostly paths (open and closed, filled or
// not, stroked, dashed, a few guides), groups nested up to six deep,
// compound paths, plugin groups with edit art and a result group holding
// paths and meshes, meshes, rasters, placed objects, symbol instances,
// text and objects of a kind no command selects; a few objects locked,
// hidden or already selected.
Document generateDocument(const GeneratorOptions& options);

// One layer whose root holds a tree of groups `fanout` wide whose leaves are
// paths, one in ten of them a guide; `objects` objects in all (at least 2).
// A fanout below 2 counts as 2.
Document generateGroupTree(std::size_t objects, std::size_t fanout = 8);

// One layer holding `depth` groups each inside the one before, the last of
// them holding one path: depth + 2 objects with the layer's root.
Document generateNestedChain(std::size_t depth);

}  // namespace simhost
