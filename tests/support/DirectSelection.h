// The plug-in's selection commands carried out by the host itself, on its
// own document model, with no suite in between. Two uses:
//
//  - With NoFaults: the floor a plug-in's command is measured against. The
//    same filters, the same changes to the document, nothing else; every
//    fault check folds away at compile time.
//  - With a Gate holding a fault plan: the outcome a plug-in's command must
//    reach when the host fails some of its calls. Every host call the
//    command makes passes the gate here too, in the same order, so the same
//    plan fails the same call; the result code, the selection and the
//    number of calls must then agree with the plug-in's run.
//
// The matching order is document order (a shuffled host is not modelled);
// the other matching levers and the document's levers are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Host.h"
#include "simhost/MatchingOptions.h"

namespace simhost {

enum class CommandKind : std::uint8_t {
    kPaths,
    kMeshes,
    kCompoundPaths,
    kGroups,
    kPluginGroups,
    kPlaced,
    kSymbols,
    kRasters,
};

struct SelectionCommand {
    CommandKind kind;
    ai::int16 mode;  // paths and meshes only
};

// The plug-in's command menu has eighteen slots.
constexpr int kCommandSlots = 18;

// The command behind each slot of the plug-in's globals block.
constexpr SelectionCommand commandOfSlot(int slot) {
    if (slot < 10) return {CommandKind::kPaths, static_cast<ai::int16>(slot)};
    switch (slot) {
        case 10: return {CommandKind::kCompoundPaths, 0};
        case 11: return {CommandKind::kGroups, 0};
        case 12: return {CommandKind::kPluginGroups, 0};
        case 13: return {CommandKind::kMeshes, 0};
        case 14: return {CommandKind::kMeshes, 1};
        case 15: return {CommandKind::kRasters, 0};
        case 16: return {CommandKind::kSymbols, 0};
        default: return {CommandKind::kPlaced, 0};
    }
}

constexpr AIArtType matchedType(CommandKind kind) {
    switch (kind) {
        case CommandKind::kPaths: return kPathArt;
        case CommandKind::kMeshes: return kMeshArt;
        case CommandKind::kCompoundPaths: return kCompoundPathArt;
        case CommandKind::kGroups: return kGroupArt;
        case CommandKind::kPluginGroups: return kPluginArt;
        case CommandKind::kPlaced: return kPlacedArt;
        case CommandKind::kSymbols: return kSymbolArt;
        case CommandKind::kRasters: return kRasterArt;
    }
    return 0;
}

// A host that never fails and counts nothing.
struct NoFaults {
    static constexpr ASErr enter(Op) { return kNoErr; }
};

template <typename Faults>
class DirectSelection {
public:
    DirectSelection(Document& document, Faults& faults, MatchingOptions matching = {})
        : doc_(document), faults_(faults), matching_(matching) {}

    // One command, from clearing the selection to disposing of the matches.
    ASErr run(SelectionCommand command) {
        if (ASErr err = unselectSelection()) return err;
        if (ASErr err = faults_.enter(Op::GetMatchingArt)) {
            if (matching_.handleOnFailure) dispose();
            return err;
        }
        const AIArtType type = matchedType(command.kind);
        previous_ = kNone;
        std::size_t matches = 0;
        ASErr result = kNoErr;
        bool stop = false;
        for (const ArtIndex index : doc_.documentOrder()) {
            const ArtNode& node = nodeAt(index);
            if (node.type != type) continue;
            for (int listed = node.listedTwice ? 2 : 1; listed > 0 && !stop; --listed) {
                ++matches;
                result = examine(command, index, &stop);
            }
            if (stop) break;
        }
        if (matches != 0 || !matching_.nullHandleForEmpty) dispose();
        return result;
    }

    // The selected attribute of `art` and everything below it, guides
    // excepted; the walk's own result as the plug-in's select returns it.
    ASErr select(ArtIndex art, bool flag) {
        ArtIndex first = kNone;
        ASErr err = visit(art, flag, &first);
        if (err != kNoErr || first == kNone) return err;
        pending_.clear();
        pending_.push_back(first);
        for (;;) {
            ArtIndex below = kNone;
            if (visit(pending_.back(), flag, &below) == kNoErr && below != kNone) {
                pending_.push_back(below);
                continue;
            }
            for (;;) {
                err = faults_.enter(Op::GetArtSibling);
                const ArtIndex next = err == kNoErr ? nodeAt(pending_.back()).nextSibling : kNone;
                if (next != kNone) {
                    pending_.back() = next;
                    break;
                }
                pending_.pop_back();
                if (pending_.empty()) return err;
            }
        }
    }

    ASErr unselectSelection() {
        if (ASErr err = faults_.enter(Op::GetSelectedArt)) {
            if (matching_.handleOnFailure) dispose();
            return err;
        }
        selection_.clear();
        for (const ArtIndex index : doc_.documentOrder()) {
            const ArtNode& node = nodeAt(index);
            if ((node.attributes & kArtSelected) == 0) continue;
            selection_.push_back(index);
            if (node.listedTwice) selection_.push_back(index);
        }
        for (const ArtIndex index : selection_) select(index, false);
        if (!selection_.empty() || !matching_.nullHandleForEmpty) dispose();
        return kNoErr;
    }

    // Matched-art handles whose disposal the host failed: still live.
    std::size_t handlesLeft() const { return handlesLeft_; }

private:
    enum class Eligibility { kEligible, kPassOver, kEndOfWalk };

    // Reads leave the document's selection index valid; writes go through
    // setUserAttributes, which keeps it.
    const ArtNode& nodeAt(ArtIndex index) const { return std::as_const(doc_).art(index); }

    ArtIndex parentOf(ArtIndex index) const {
        const ArtNode& node = nodeAt(index);
        return node.reportNoParent ? kNone : node.parent;
    }

    void dispose() {
        if (faults_.enter(Op::DisposeHandle) != kNoErr) ++handlesLeft_;
    }

    ASErr markSelected(ArtIndex index) {
        if (ASErr err = faults_.enter(Op::SetArtUserAttr)) return err;
        doc_.setUserAttributes(index, kArtSelected, kArtSelected);
        return kNoErr;
    }

    // One object of select's walk: its own attribute, then the first object
    // below it. A type that cannot be read leaves the attribute alone and
    // walks the children; a guide state that cannot be read counts as guide.
    ASErr visit(ArtIndex index, bool flag, ArtIndex* first) {
        const ArtNode& object = nodeAt(index);
        const bool typeKnown = faults_.enter(Op::GetArtType) == kNoErr;
        if (typeKnown) {
            const bool guide =
                object.type == kPathArt && (faults_.enter(Op::GetPathGuide) != kNoErr || object.guide != 0);
            if (!guide && faults_.enter(Op::SetArtUserAttr) == kNoErr)
                doc_.setUserAttributes(index, kArtSelected, flag ? kArtSelected : 0);
        }
        const bool viaResultGroup = typeKnown && object.type == kPluginArt;
        *first = kNone;
        if (ASErr err = faults_.enter(viaResultGroup ? Op::GetResultGroup : Op::GetArtFirstChild)) return err;
        *first = viaResultGroup ? object.resultGroup : object.firstChild;
        return kNoErr;
    }

    // Layer (none ends the walk), flag B, flag A, the excluded bits.
    ASErr eligible(ArtIndex index, Eligibility* outcome) {
        *outcome = Eligibility::kPassOver;
        const ArtNode& node = nodeAt(index);
        if (ASErr err = faults_.enter(Op::GetArtLayer)) return err;
        if (node.reportNoLayer || node.layer == kNone) {
            *outcome = Eligibility::kEndOfWalk;
            return kNoErr;
        }
        const Layer& layer = doc_.layer(node.layer);
        if (ASErr err = faults_.enter(Op::GetLayerEditable)) return err;
        if (layer.editable == 0) return kNoErr;
        if (ASErr err = faults_.enter(Op::GetLayerVisible)) return err;
        if (layer.visible == 0) return kNoErr;
        if (ASErr err = faults_.enter(Op::GetArtUserAttr)) return err;
        if ((node.attributes & (kArtLocked | kArtHidden)) != 0) return kNoErr;
        *outcome = Eligibility::kEligible;
        return kNoErr;
    }

    // Sets *stop when the walk over the matches ends here.
    ASErr examine(SelectionCommand command, ArtIndex index, bool* stop) {
        Eligibility eligibility = Eligibility::kPassOver;
        ASErr err = eligible(index, &eligibility);
        if (err == kNoErr && eligibility == Eligibility::kEligible) {
            if (command.kind == CommandKind::kPaths) {
                err = examinePath(index, command.mode);
            } else if (index != previous_) {
                err = command.kind == CommandKind::kMeshes ? examineMesh(index, command.mode)
                                                           : examineObject(command.kind, index);
            }
        }
        *stop = err != kNoErr || eligibility == Eligibility::kEndOfWalk;
        return err;
    }

    ASErr examinePath(ArtIndex index, ai::int16 mode) {
        const ArtNode& node = nodeAt(index);
        if (ASErr err = faults_.enter(Op::GetPathGuide)) return err;
        if (node.guide != 0) return mode == 0 ? markSelected(index) : kNoErr;

        // Directly in a group that is directly in a plugin group: passed over.
        if (ASErr err = faults_.enter(Op::GetArtParent)) return err;
        const ArtIndex parent = parentOf(index);
        if (parent != kNone) {
            if (ASErr err = faults_.enter(Op::GetArtType)) return err;
            if (nodeAt(parent).type == kGroupArt) {
                if (ASErr err = faults_.enter(Op::GetArtParent)) return err;
                const ArtIndex grandparent = parentOf(parent);
                if (grandparent != kNone) {
                    if (ASErr err = faults_.enter(Op::GetArtType)) return err;
                    if (nodeAt(grandparent).type == kPluginArt) return kNoErr;
                }
            }
        }

        if (ASErr err = faults_.enter(Op::GetPathStyle)) return err;
        const bool dashedStroke = node.strokePaint == 1 && node.dashCount != 0;
        bool wanted = false;
        switch (mode) {
            case 1: wanted = true; break;
            case 2:
            case 3:
                if (ASErr err = faults_.enter(Op::GetPathClosed)) return err;
                wanted = (mode == 2) == (node.closed == 0);
                break;
            case 4: wanted = node.fillPaint == 1; break;
            case 5: wanted = node.fillPaint == 0; break;
            case 6: wanted = node.strokePaint == 1; break;
            case 7: wanted = node.strokePaint == 0; break;
            case 8: wanted = dashedStroke; break;
            case 9: wanted = !dashedStroke; break;
            default: break;
        }
        return wanted ? markSelected(index) : kNoErr;
    }

    ASErr examineMesh(ArtIndex index, ai::int16 mode) {
        if (ASErr err = faults_.enter(Op::GetArtParent)) return err;
        const ArtIndex parent = parentOf(index);
        AIArtType ancestry = kGroupArt;
        if (parent != kNone) {
            // The host writes nothing when it fails, so a failed grandparent
            // query reads as no grandparent: ancestry 1, and the walk goes on.
            const ArtIndex grandparent = faults_.enter(Op::GetArtParent) == kNoErr ? parentOf(parent) : kNone;
            if (grandparent != kNone) {
                if (ASErr err = faults_.enter(Op::GetArtType)) return err;
                ancestry = nodeAt(grandparent).type;
            }
        }
        if ((mode == 0 && ancestry == kGroupArt) || (mode == 1 && ancestry == kPluginArt)) {
            if (ASErr err = markSelected(index)) return err;
        }
        previous_ = index;
        return kNoErr;
    }

    ASErr examineObject(CommandKind kind, ArtIndex index) {
        switch (kind) {
            case CommandKind::kCompoundPaths: select(index, true); break;
            case CommandKind::kGroups: {
                if (ASErr err = faults_.enter(Op::GetArtParent)) return err;
                const ArtIndex parent = parentOf(index);
                if (parent == kNone) return kNoErr;
                if (ASErr err = faults_.enter(Op::GetArtType)) return err;
                if (nodeAt(parent).type == kPluginArt) return kNoErr;
                select(index, true);
                break;
            }
            case CommandKind::kPluginGroups:
                select(index, true);
                previous_ = index;
                return markSelected(index);
            default:
                previous_ = index;
                return markSelected(index);
        }
        previous_ = index;
        return kNoErr;
    }

    Document& doc_;
    Faults& faults_;
    MatchingOptions matching_;
    ArtIndex previous_ = kNone;
    std::vector<ArtIndex> pending_;
    std::vector<ArtIndex> selection_;
    std::size_t handlesLeft_ = 0;
};

}  // namespace simhost
