// Generated documents, and the host's own run of every command agreeing
// with the plug-in's on them: the same selection, the same host calls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "PluginHarness.h"
#include "SelectionTesting.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Generator.h"
#include "simhost/MatchingOptions.h"

using namespace simhost;
using namespace wendlow_test;

namespace {

std::map<AIArtType, int> typeCounts(const Document& doc) {
    std::map<AIArtType, int> counts;
    for (std::size_t i = 0; i < doc.artCount(); ++i) ++counts[doc.art(static_cast<ArtIndex>(i)).type];
    return counts;
}

int depthOf(const Document& doc, ArtIndex index) {
    int depth = 0;
    for (ArtIndex p = doc.art(index).parent; p != kNone; p = doc.art(p).parent) ++depth;
    return depth;
}

TEST(Generator, TheSameSeedGivesTheSameDocumentOfExactlyTheSizeAsked) {
    GeneratorOptions options;
    options.seed = 7;
    options.objects = 5000;
    const std::string first = documentToJson(generateDocument(options));
    EXPECT_EQ(documentToJson(generateDocument(options)), first);
    options.seed = 8;
    EXPECT_NE(documentToJson(generateDocument(options)), first);

    for (const std::size_t objects : {1u, 7u, 8u, 9u, 1000u, 12345u}) {
        options.objects = objects;
        const Document doc = generateDocument(options);
        EXPECT_EQ(doc.artCount(), objects);
        EXPECT_EQ(doc.layerCount(), std::min<std::size_t>(objects, 8));
    }
}

TEST(Generator, DrawingsHoldEveryKindEveryLeverAndLieInDocumentOrder) {
    GeneratorOptions options;
    options.objects = 20000;
    const Document doc = generateDocument(options);
    const auto counts = typeCounts(doc);
    for (const AIArtType type : {kGroupArt, kPathArt, kCompoundPathArt, kPlacedArt, kRasterArt, kPluginArt, kMeshArt,
                                 kSymbolArt, kTextArt, kOtherArt})
        EXPECT_GT(counts.count(type) ? counts.at(type) : 0, 20) << "type " << type;
    EXPECT_GT(counts.at(kPathArt), doc.artCount() / 3);

    int locked = 0, hidden = 0, selected = 0, guides = 0, dashed = 0, pluginParts = 0, results = 0;
    int deepest = 0;
    for (std::size_t i = 0; i < doc.artCount(); ++i) {
        const auto index = static_cast<ArtIndex>(i);
        const ArtNode& node = doc.art(index);
        locked += (node.attributes & kArtLocked) != 0;
        hidden += (node.attributes & kArtHidden) != 0;
        selected += (node.attributes & kArtSelected) != 0;
        guides += node.type == kPathArt && node.guide != 0;
        dashed += node.type == kPathArt && node.dashCount != 0;
        results += node.resultGroup != kNone;
        deepest = std::max(deepest, depthOf(doc, index));
        if (node.type == kPathArt && node.parent != kNone && doc.art(node.parent).type == kGroupArt) {
            const ArtIndex grandparent = doc.art(node.parent).parent;
            pluginParts += grandparent != kNone && doc.art(grandparent).type == kPluginArt;
        }
    }
    for (const int n : {locked, hidden, selected, guides, dashed, pluginParts, results}) EXPECT_GT(n, 20);
    EXPECT_GE(deepest, 5);

    int lockedLayers = 0, hiddenLayers = 0;
    for (std::size_t k = 0; k < doc.layerCount(); ++k) {
        lockedLayers += doc.layer(static_cast<LayerIndex>(k)).editable == 0;
        hiddenLayers += doc.layer(static_cast<LayerIndex>(k)).visible == 0;
    }
    EXPECT_EQ(lockedLayers, 1);
    EXPECT_EQ(hiddenLayers, 1);

    // Benchmarks rely on this: a walk in document order reads the object
    // table front to back.
    const auto& order = doc.documentOrder();
    for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i], static_cast<ArtIndex>(i));
}

TEST(Generator, GroupTreesHaveTheirShape) {
    const Document tree = generateGroupTree(1000, 8);
    EXPECT_EQ(tree.artCount(), 1000u);
    int deepest = 0, guides = 0;
    for (std::size_t i = 0; i < tree.artCount(); ++i) {
        const ArtNode& node = tree.art(static_cast<ArtIndex>(i));
        deepest = std::max(deepest, depthOf(tree, static_cast<ArtIndex>(i)));
        if (node.firstChild == kNone && node.parent != kNone) {
            EXPECT_EQ(node.type, kPathArt);
        }
        guides += node.guide != 0;
    }
    EXPECT_LE(deepest, 5);
    EXPECT_GT(guides, 50);
    // The chain's shape is selection_commands_test's million-deep walk.
}

std::vector<ArtIndex> selectedByWalk(const Document& doc) {
    std::vector<ArtIndex> found;
    for (ArtIndex index : doc.documentOrder())
        if (doc.art(index).attributes & kArtSelected) found.push_back(index);
    return found;
}

// The host answers selection queries from an index it keeps as its own
// operations change attributes; direct changes and new objects must show too.
TEST(DocumentModel, TheSelectionIndexFollowsEveryWayTheSelectionChanges) {
    GeneratorOptions options;
    options.objects = 3000;
    Document doc = generateDocument(options);
    std::uint64_t state = 12345;
    auto next = [&state](std::uint32_t n) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<ArtIndex>((state >> 33) % n);
    };
    for (int round = 0; round < 300; ++round) {
        const ArtIndex index = next(static_cast<std::uint32_t>(doc.artCount()));
        switch (round % 5) {
            case 0: doc.art(index).attributes ^= kArtSelected; break;
            case 1: doc.setUserAttributes(doc.addArt(index, kRasterArt), kArtSelected, round % 2 ? kArtSelected : 0); break;
            default: doc.setUserAttributes(index, kArtSelected | kArtLocked, round % 3 ? kArtSelected : 0); break;
        }
        ASSERT_EQ(doc.selected(), selectedByWalk(doc)) << "round " << round;
    }
    // A copy carries an index that agrees with its own objects.
    Document copy = doc;
    copy.setUserAttributes(copy.documentOrder()[5], kArtSelected, kArtSelected);
    EXPECT_EQ(copy.selected(), selectedByWalk(copy));
    EXPECT_EQ(doc.selected(), selectedByWalk(doc));
}

// The host's own run is the benchmarks' floor and the fault tests'
// reference, so it must reach exactly what the plug-in reaches, with the
// same host calls, on drawings of every shape.
TEST(DirectSelection, AgreesWithThePluginOnEveryCommandOfGeneratedDrawings) {
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        GeneratorOptions options;
        options.seed = seed;
        options.objects = 3000;
        const Document drawing = generateDocument(options);
        for (int slot = 0; slot < kCommandSlots; ++slot) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", slot " + std::to_string(slot));
            const SelectionCommand command = commandOfSlot(slot);
            PluginHarness h;
            h.host.setDocument(drawing);
            ASErr result = 0;
            {
                HeldSuites held(h.host);
                h.host.gate().resetCounts();
                result = runPluginCommand(command);
            }
            Document expected = drawing;
            Gate reference;
            EXPECT_EQ(result, DirectSelection<Gate>(expected, reference).run(command));
            EXPECT_EQ(selectedIds(h.host.document()), selectedIds(expected));
            EXPECT_FALSE(selectedIds(expected).empty());
            for (std::size_t op = 0; op < kOpCount; ++op) {
                if (static_cast<Op>(op) == Op::ReleaseSuite) continue;
                EXPECT_EQ(h.host.gate().calls(static_cast<Op>(op)), reference.calls(static_cast<Op>(op)))
                    << opInfo(static_cast<Op>(op)).label;
            }
            EXPECT_EQ(h.host.document().fingerprintBesidesSelection(), drawing.fingerprintBesidesSelection());
            EXPECT_THAT(h.problems(), ::testing::IsEmpty());
        }
    }
}

TEST(DirectSelection, ShuffledMatchesSelectTheSameOnEveryCommand) {
    GeneratorOptions options;
    options.objects = 2000;
    const Document drawing = generateDocument(options);
    for (int slot = 0; slot < kCommandSlots; ++slot) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        PluginHarness h;
        h.host.setDocument(drawing);
        h.host.matching().shuffle = true;
        h.host.matching().shuffleSeed = 99;
        ASSERT_EQ(h.startup(), kNoErr);
        EXPECT_EQ(h.choose(slot), kNoErr);
        Document expected = drawing;
        NoFaults noFaults;
        DirectSelection<NoFaults>(expected, noFaults).run(commandOfSlot(slot));
        EXPECT_EQ(selectedIds(h.host.document()), selectedIds(expected));
        EXPECT_EQ(h.shutdown(), kNoErr);
        EXPECT_THAT(h.problems(), ::testing::IsEmpty());
    }
}

}  // namespace
