// Hostile documents and resources: every command run on each, with nothing
// failing on the host's side; then the same with the command's first
// matching query refused, so the error report reads the hostile resources.
#include <algorithm>

#include "Batteries.h"
#include "Trials.h"
#include "World.h"

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

}  // namespace

std::vector<CaseDef> hostileCases(const Options&, const Discovery& found) {
    std::vector<CaseDef> cases;
    cases.push_back(documentCase("deep-chain", found, [](World& world, std::size_t n) {
        Document doc;
        ArtIndex at = doc.rootOf(doc.addLayer("Deep"));
        doc.reserve(n + 8);
        // Locked levels: every command walks past them (and clearing the
        // selected top walks all the way down), but none selects a level
        // with its contents, which by the commands' own rule costs the
        // square of the depth; deep-chain-eligible covers that at a depth
        // that can be afforded.
        for (std::size_t i = 0; i < n; ++i) {
            at = doc.addArt(at, i % 3 == 2 ? kCompoundPathArt : kGroupArt);
            doc.art(at).attributes |= kArtLocked;
            if (i == 0) doc.art(at).attributes |= kArtSelected;
        }
        PathProps props;
        doc.addPath(at, props, "bottom");
        doc.addArt(at, kMeshArt, "bottom-mesh");
        world.host().setDocument(std::move(doc));
    }));
    cases.push_back(documentCase("deep-chain-eligible", found, [](World& world, std::size_t n) {
        Document doc;
        ArtIndex at = doc.rootOf(doc.addLayer("Deep"));
        const std::size_t depth = std::min<std::size_t>(n, 2000);
        for (std::size_t i = 0; i < depth; ++i) {
            at = doc.addArt(at, i % 3 == 2 ? kCompoundPathArt : i % 3 == 1 ? kPluginArt : kGroupArt);
            if (i % 5 == 0) doc.art(at).attributes |= kArtSelected;
        }
        doc.addPath(at, PathProps{}, "bottom");
        world.host().setDocument(std::move(doc));
    }));
    cases.push_back(documentCase("many-siblings", found, [](World& world, std::size_t n) {
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
    }));
    cases.push_back(documentCase("empty-result-group", found, [](World& world, std::size_t) {
        Document doc;
        const ArtIndex root = doc.rootOf(doc.addLayer("Plugin groups"));
        const ArtIndex empty = doc.addArt(root, kPluginArt, "empty-result");
        doc.addResultGroup(empty, "empty-result-group");
        const ArtIndex withEdit = doc.addArt(root, kPluginArt, "edit-only");
        doc.addArt(doc.addArt(withEdit, kGroupArt), kMeshArt);
        doc.addResultGroup(withEdit);
        doc.addArt(root, kPluginArt, "no-result-group");
        world.host().setDocument(std::move(doc));
    }));
    cases.push_back(documentCase("listed-twice", found, [](World& world, std::size_t) {
        Document doc = richDocument();
        setAll(doc, [](ArtNode& node) { node.listedTwice = true; });
        world.host().setDocument(std::move(doc));
    }));
    cases.push_back(documentCase("shuffled", found, [](World& world, std::size_t) {
        Document doc = richDocument();
        setAll(doc, [](ArtNode& node) { node.listedTwice = node.type == kPathArt; });
        world.host().setDocument(std::move(doc));
        world.host().matching().shuffle = true;
        world.host().matching().shuffleSeed = 7;
    }));
    cases.push_back(documentCase("no-layer", found, [](World& world, std::size_t) {
        Document doc = richDocument();
        std::size_t i = 0;
        setAll(doc, [&i](ArtNode& node) { node.reportNoLayer = (i++ % 2) == 0; });
        world.host().setDocument(std::move(doc));
    }));
    cases.push_back(documentCase("no-parent", found, [](World& world, std::size_t) {
        Document doc = richDocument();
        setAll(doc, [](ArtNode& node) { node.reportNoParent = true; });
        world.host().setDocument(std::move(doc));
    }));
    cases.push_back(documentCase("null-handle-for-empty", found, [](World& world, std::size_t) {
        Document doc;
        doc.addLayer("Empty");
        doc.addPath(doc.rootOf(doc.addLayer("One path")), PathProps{}, "only-path");
        world.host().setDocument(std::move(doc));
        world.host().matching().nullHandleForEmpty = true;
    }));
    for (const int value : {2, 255}) {
        cases.push_back(documentCase("byte-flags-" + std::to_string(value), found, [value](World& world, std::size_t) {
            Document doc = richDocument();
            const auto byte = static_cast<ASBoolean>(value);
            setAll(doc, [byte](ArtNode& node) {
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
        }));
    }
    cases.push_back({"hostile/handle-on-failure", "hostile", [found](CaseContext& ctx) {
                         // A refused query that still hands out a handle: the caller owns it.
                         World world(ctx.options().pluginPath);
                         world.host().setDocument(richDocument());
                         world.host().matching().handleOnFailure = true;
                         runSession(ctx, world, found, Allowance{}, true);
                     }});

    cases.push_back(resourceCase("menu-list-missing", found, [](Resources& r) { r.stringLists().erase(17000); }));
    cases.push_back(resourceCase("error-list-missing", found, [](Resources& r) { r.stringLists().erase(16050); }));
    cases.push_back(resourceCase("all-lists-missing", found, [](Resources& r) { r.stringLists().clear(); }));
    cases.push_back(resourceCase("long-entries", found, [](Resources& r) {
        const std::size_t lengths[] = {255, 256, 300, 4000};
        auto& menu = r.stringLists()[17000];
        for (std::size_t i = 0; i < menu.size(); ++i) menu[i] = std::string(lengths[i % 4], static_cast<char>('a' + i % 26));
        auto& errors = r.stringLists()[16050];
        for (std::size_t i = 0; i + 1 < errors.size(); ++i) errors[i] += std::string(300, i % 2 ? 'm' : 'C');
    }));
    cases.push_back(resourceCase("error-list-unterminated", found, [](Resources& r) {
        auto& errors = r.stringLists()[16050];
        while (!errors.empty() && errors.back().empty()) errors.pop_back();
    }));
    cases.push_back(resourceCase("error-list-40000", found, [](Resources& r) {
        std::vector<std::string> errors;
        for (int i = 0; i < 20000; ++i) {
            errors.push_back("ZZ" + std::to_string(i % 100));
            errors.push_back("message " + std::to_string(i));
        }
        r.stringLists()[16050] = std::move(errors);
    }));
    cases.push_back(resourceCase("dialogs-missing", found, [](Resources& r) { r.dialogs().clear(); }));
    return cases;
}

}  // namespace simhost::validate
