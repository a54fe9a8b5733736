// Hostile documents and resources: every command run on each, with nothing
// failing on the host's side; then the same with the command's first
// matching query refused, so the error report reads the hostile resources.
#include <algorithm>

#include "Batteries.h"
#include "Trials.h"
#include "World.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/MatchingOptions.h"
#include "simhost/Plugins.h"
#include "simhost/Resources.h"

namespace simhost::validate {

namespace {

// Every message of a session, each checked; a fresh world per document.
void runSession(CaseContext& ctx, World& world, const Discovery& found, const Allowance& allowance,
                bool faultEachCommand) {
    auto send = [&](const MessageSpec& message, const std::vector<FaultRule>& rules, std::size_t blocks) {
        ctx.trial();
        ctx.progress(message.label());
        const Observation seen = observe(world, message, rules, !rules.empty() || world.host().document().artCount() < 5000);
        Failed failed;
        failed.add(seen.log);
        std::vector<Finding> findings;
        checkMessage(findings, message, seen, failed, allowance);
        checkLedger(findings, world, failed, blocks, "after " + message.label());
        for (const Finding& f : findings) ctx.finding(f.rule, f.detail);
    };
    send(MessageSpec::interface(kSPInterfaceStartupSelector), {}, 1);
    for (std::size_t i = 0; i < found.items.size() && !ctx.saturated(); ++i) {
        send(MessageSpec::menu(kSelectorAIGoMenuItem, static_cast<int>(i)), {}, 1);
        if (faultEachCommand)
            send(MessageSpec::menu(kSelectorAIGoMenuItem, static_cast<int>(i)),
                 {FaultRule::failNthOf(Op::GetMatchingArt, 1, kBadParameterErr)}, 1);
    }
    if (!found.items.empty()) send(MessageSpec::menu(kSelectorAIUpdateMenuItem, 0), {}, 1);
    send(MessageSpec::interface(kSPInterfaceAboutSelector), {}, 1);
    send(MessageSpec::interface(kSPInterfaceShutdownSelector), {}, 0);
}

using DocumentMaker = std::function<void(World&, std::size_t objects)>;

CaseDef documentCase(const std::string& name, const Discovery& found, DocumentMaker make) {
    return {"hostile/" + name, "hostile", [found, make](CaseContext& ctx) {
                World world(ctx.options().pluginPath);
                make(world, ctx.options().hostileObjects);
                runSession(ctx, world, found, Allowance{}, false);
            }};
}

CaseDef resourceCase(const std::string& name, const Discovery& found, std::function<void(Resources&)> edit) {
    return {"hostile/resources-" + name, "hostile", [found, edit](CaseContext& ctx) {
                World world(ctx.options().pluginPath);
                world.host().setDocument(richDocument());
                edit(world.host().plugin(world.plugin()).resources);
                Allowance allowance;
                allowance.hostileResources = true;
                allowance.extraCode = kResourceNotFoundErr;
                runSession(ctx, world, found, allowance, true);
            }};
}

void setAll(Document& doc, const std::function<void(ArtNode&)>& edit) {
    for (std::size_t i = 0; i < doc.artCount(); ++i) {
        ArtNode& node = doc.art(static_cast<ArtIndex>(i));
        if (node.parent != kNone) edit(node);
    }
}

// ---- The hostile documents -----------------------------------------------------

void deepChain(World& world, std::size_t n) {
    Document doc;
    ArtIndex at = doc.rootOf(doc.addLayer("Deep"));
    doc.reserve(n + 8);
    // Locked levels: every command walks past them (and clearing the
    // selected top walks all the way down), but none selects a level with
    // its contents, which by the commands' own rule costs the square of the
    // depth; deep-chain-eligible covers that at a depth that can be afforded.
    for (std::size_t i = 0; i < n; ++i) {
        at = doc.addArt(at, i % 3 == 2 ? kCompoundPathArt : kGroupArt);
        doc.art(at).attributes |= kArtLocked;
        if (i == 0) doc.art(at).attributes |= kArtSelected;
    }
    PathProps props;
    doc.addPath(at, props, "bottom");
    doc.addArt(at, kMeshArt, "bottom-mesh");
    world.host().setDocument(std::move(doc));
}

void deepChainEligible(World& world, std::size_t n) {
    Document doc;
    ArtIndex at = doc.rootOf(doc.addLayer("Deep"));
    const std::size_t depth = std::min<std::size_t>(n, 2000);
    for (std::size_t i = 0; i < depth; ++i) {
        at = doc.addArt(at, i % 3 == 2 ? kCompoundPathArt : i % 3 == 1 ? kPluginArt : kGroupArt);
        if (i % 5 == 0) doc.art(at).attributes |= kArtSelected;
    }
    doc.addPath(at, PathProps{}, "bottom");
    world.host().setDocument(std::move(doc));
}

void manySiblings(World& world, std::size_t n) {
    Document doc;
    const ArtIndex root = doc.rootOf(doc.addLayer("Wide"));
    doc.reserve(n + 8);
    const AIArtType kinds[] = {kPathArt, kGroupArt, kMeshArt, kPlacedArt, kRasterArt, kSymbolArt, kCompoundPathArt, kPathArt};
    for (std::size_t i = 0; i < n; ++i) {
        const AIArtType type = kinds[i % 8];
        ArtIndex a;
        if (type == kPathArt) {
            PathProps props;
            props.closed = i % 2 == 0;
            props.stroked = i % 3 == 0;
            props.dashCount = static_cast<ai::int16>(i % 5);
            a = doc.addPath(root, props);
        } else {
            a = doc.addArt(root, type);
        }
        if (i % 7 == 0) doc.art(a).attributes |= kArtSelected;
    }
    world.host().setDocument(std::move(doc));
}

void emptyResultGroup(World& world, std::size_t) {
    Document doc;
    const ArtIndex root = doc.rootOf(doc.addLayer("Plugin groups"));
    const ArtIndex empty = doc.addArt(root, kPluginArt, "empty-result");
    doc.addResultGroup(empty, "empty-result-group");
    const ArtIndex withEdit = doc.addArt(root, kPluginArt, "edit-only");
    doc.addArt(doc.addArt(withEdit, kGroupArt), kMeshArt);
    doc.addResultGroup(withEdit);
    doc.addArt(root, kPluginArt, "no-result-group");
    world.host().setDocument(std::move(doc));
}

// The rich document with every object but the layers' roots edited.
void richDocumentWith(World& world, const std::function<void(ArtNode&)>& edit) {
    Document doc = richDocument();
    setAll(doc, edit);
    world.host().setDocument(std::move(doc));
}

void listedTwice(World& world, std::size_t) {
    richDocumentWith(world, [](ArtNode& node) { node.listedTwice = true; });
}

void shuffled(World& world, std::size_t) {
    richDocumentWith(world, [](ArtNode& node) { node.listedTwice = node.type == kPathArt; });
    world.host().matching().shuffle = true;
    world.host().matching().shuffleSeed = 7;
}

void noLayer(World& world, std::size_t) {
    std::size_t i = 0;
    richDocumentWith(world, [&i](ArtNode& node) { node.reportNoLayer = (i++ % 2) == 0; });
}

void noParent(World& world, std::size_t) {
    richDocumentWith(world, [](ArtNode& node) { node.reportNoParent = true; });
}

void nullHandleForEmpty(World& world, std::size_t) {
    Document doc;
    doc.addLayer("Empty");
    doc.addPath(doc.rootOf(doc.addLayer("One path")), PathProps{}, "only-path");
    world.host().setDocument(std::move(doc));
    world.host().matching().nullHandleForEmpty = true;
}

// Host booleans of another value than 1 where 1 would be.
template <int kValue>
void byteFlags(World& world, std::size_t) {
    Document doc = richDocument();
    constexpr auto byte = static_cast<ASBoolean>(kValue);
    setAll(doc, [](ArtNode& node) {
        if (node.type != kPathArt) return;
        if (node.closed) node.closed = byte;
        if (node.guide) node.guide = byte;
        if (node.fillPaint) node.fillPaint = byte;
        if (node.strokePaint) node.strokePaint = byte;
    });
    for (std::size_t l = 0; l < doc.layerCount(); ++l) {
        Layer& layer = doc.layer(static_cast<LayerIndex>(l));
        if (layer.visible) layer.visible = byte;
        if (layer.editable) layer.editable = byte;
    }
    world.host().setDocument(std::move(doc));
}

const struct {
    const char* name;
    void (*make)(World&, std::size_t objects);
} kDocuments[] = {
    {"deep-chain", deepChain},
    {"deep-chain-eligible", deepChainEligible},
    {"many-siblings", manySiblings},
    {"empty-result-group", emptyResultGroup},
    {"listed-twice", listedTwice},
    {"shuffled", shuffled},
    {"no-layer", noLayer},
    {"no-parent", noParent},
    {"null-handle-for-empty", nullHandleForEmpty},
    {"byte-flags-2", byteFlags<2>},
    {"byte-flags-255", byteFlags<255>},
};

// ---- The hostile resources ---------------------------------------------------------

void longEntries(Resources& r) {
    const std::size_t lengths[] = {255, 256, 300, 4000};
    auto& menu = r.stringLists()[17000];
    for (std::size_t i = 0; i < menu.size(); ++i) menu[i] = std::string(lengths[i % 4], static_cast<char>('a' + i % 26));
    auto& errors = r.stringLists()[16050];
    for (std::size_t i = 0; i + 1 < errors.size(); ++i) errors[i] += std::string(300, i % 2 ? 'm' : 'C');
}

void errorListUnterminated(Resources& r) {
    auto& errors = r.stringLists()[16050];
    while (!errors.empty() && errors.back().empty()) errors.pop_back();
}

void errorList40000(Resources& r) {
    std::vector<std::string> errors;
    for (int i = 0; i < 20000; ++i) {
        errors.push_back("ZZ" + std::to_string(i % 100));
        errors.push_back("message " + std::to_string(i));
    }
    r.stringLists()[16050] = std::move(errors);
}

const struct {
    const char* name;
    void (*edit)(Resources&);
} kResources[] = {
    {"menu-list-missing", [](Resources& r) { r.stringLists().erase(17000); }},
    {"error-list-missing", [](Resources& r) { r.stringLists().erase(16050); }},
    {"all-lists-missing", [](Resources& r) { r.stringLists().clear(); }},
    {"long-entries", longEntries},
    {"error-list-unterminated", errorListUnterminated},
    {"error-list-40000", errorList40000},
    {"dialogs-missing", [](Resources& r) { r.dialogs().clear(); }},
};

}  // namespace

std::vector<CaseDef> hostileCases(const Options&, const Discovery& found) {
    std::vector<CaseDef> cases;
    for (const auto& d : kDocuments) cases.push_back(documentCase(d.name, found, d.make));
    cases.push_back({"hostile/handle-on-failure", "hostile", [found](CaseContext& ctx) {
                         // A refused query that still hands out a handle: the caller owns it.
                         World world(ctx.options().pluginPath);
                         world.host().setDocument(richDocument());
                         world.host().matching().handleOnFailure = true;
                         runSession(ctx, world, found, Allowance{}, true);
                     }});
    for (const auto& r : kResources) cases.push_back(resourceCase(r.name, found, r.edit));
    return cases;
}

}  // namespace simhost::validate
