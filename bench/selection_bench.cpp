// simhost-bench: the selection commands on generated documents, each beside
// the host doing the same work by walking its own document model with no
// suite in between; select and unselect_selection on a wide tree and on a
// deep chain; and the gate's cost per host call.
//
//   Command/<slot>/<objects>    the plug-in's command through "AI Go"
//   Baseline/<slot>/<objects>   the host's own run of the same command
//
// Items processed are objects, so items_per_second reads as objects per
// second and per_object is the time per object.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "menuHandler.h"
#include "shellMain.h"
#include "DirectSelection.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Generator.h"
#include "simhost/Host.h"
#include "simhost/Menus.h"

using namespace simhost;

namespace {

void reportPerObject(benchmark::State& state, std::size_t objects) {
    const auto processed = static_cast<std::int64_t>(objects) * static_cast<std::int64_t>(state.iterations());
    state.SetItemsProcessed(processed);
    // Shown in seconds with an SI prefix: "55.1n" is 55.1 ns per object.
    state.counters["per_object"] = benchmark::Counter(static_cast<double>(processed),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The shipped plug-in, loaded and started in a host holding one document.
// Suites act on the one current host, so only one world lives at a time.
struct World {
    explicit World(Document document) {
        host.setDocument(std::move(document));
        plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
        if (host.startup(plugin) != kNoErr) throw std::runtime_error("the plug-in did not start");
        // The "SelectObject" items in the order added: text 1 to 18.
        const MenuGroup& group = host.menus().group(host.menus().findGroup("SelectObject"));
        for (std::size_t position = 0; position < group.items.size() && position < kCommandSlots; ++position)
            items[menuSlotOfIndex(static_cast<int>(position) + 1)] = host.menuItemHandle(group.items[position]);
    }
    ~World() { host.shutdown(plugin); }

    Host host;
    PluginId plugin = 0;
    AIMenuItemHandle items[kCommandSlots] = {};
};

std::unique_ptr<World> gWorld;
std::string gWorldKey;

// The world for `key`, built by `make` unless it is the one already up.
template <typename Make>
World& worldFor(const std::string& key, Make&& make) {
    if (gWorldKey != key) {
        gWorld.reset();
        gWorld = std::make_unique<World>(make());
        gWorldKey = key;
    }
    return *gWorld;
}

World& drawingWorld(std::size_t objects) {
    return worldFor("drawing/" + std::to_string(objects), [&] {
        GeneratorOptions options;
        options.objects = objects;
        return generateDocument(options);
    });
}

// host_calls_per_object: every suite call of the message, whose gate pass
// costs at most Gate/noPlan each.
void Command(benchmark::State& state, int slot, std::size_t objects) {
    World& world = drawingWorld(objects);
    const std::uint64_t callsBefore = world.host.gate().totalCalls();
    for (auto _ : state) {
        const ASErr err = world.host.chooseMenuItem(world.items[slot]);
        if (err != kNoErr) state.SkipWithError("the command failed");
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["host_calls_per_object"] =
        static_cast<double>(world.host.gate().totalCalls() - callsBefore) / runs / static_cast<double>(objects);
    reportPerObject(state, objects);
}

void Baseline(benchmark::State& state, int slot, std::size_t objects) {
    World& world = drawingWorld(objects);
    NoFaults noFaults;
    DirectSelection<NoFaults> direct(world.host.document(), noFaults);
    const SelectionCommand command = commandOfSlot(slot);
    for (auto _ : state) benchmark::DoNotOptimize(direct.run(command));
    reportPerObject(state, objects);
}

// ---- select and unselect_selection, called in this process ------------------

// The plug-in's code linked into this program, with its suites held.
class HeldPluginSuites {
public:
    explicit HeldPluginSuites(Host& host) : host_(host) {
        sSPBasic = host.basicSuite();
        if (acquireSuites(host.basicSuite()) != kNoErr) throw std::runtime_error("no suites");
    }
    ~HeldPluginSuites() { releaseSuites(host_.basicSuite()); }

private:
    Host& host_;
};

World& shapeWorld(const std::string& shape, std::size_t objects) {
    return worldFor(shape + "/" + std::to_string(objects), [&] {
        return shape == "tree" ? generateGroupTree(objects) : generateNestedChain(objects - 2);
    });
}

// The object under the layer's root: the top of the tree or chain.
ArtIndex topOf(const Document& doc) {
    return doc.art(doc.rootOf(0)).firstChild;
}

// Who walks: the plug-in's code through the suites, or the host itself.
enum class Walker { kPlugin, kHost };

// A shape's world with the host's own walk ready beside it, and the
// plug-in's suites held while the plug-in walks.
struct ShapeRun {
    ShapeRun(const std::string& shape, std::size_t objects, Walker walker)
        : world(shapeWorld(shape, objects)), doc(world.host.document()), direct(doc, noFaults), top(topOf(doc)) {
        if (walker == Walker::kPlugin) held.emplace(world.host);
    }

    World& world;
    Document& doc;
    NoFaults noFaults;
    DirectSelection<NoFaults> direct;
    ArtIndex top;
    std::optional<HeldPluginSuites> held;
};

void Select(benchmark::State& state, const std::string& shape, std::size_t objects, Walker walker) {
    ShapeRun run(shape, objects, walker);
    const AIArtHandle top = run.world.host.artHandle(run.top);
    for (auto _ : state) {
        if (walker == Walker::kPlugin) benchmark::DoNotOptimize(select(top, 1));
        else benchmark::DoNotOptimize(run.direct.select(run.top, true));
    }
    reportPerObject(state, objects);
}

// Nothing selected but the top object, so that clearing the selection is
// one walk over everything below it: were every link of a deep chain
// selected, each would be walked again from itself, a quadratic amount.
// The top object is marked selected again before each run (a constant-time
// change to the model).
void Unselect(benchmark::State& state, const std::string& shape, std::size_t objects, Walker walker) {
    ShapeRun run(shape, objects, walker);
    for (ArtIndex index : run.doc.selected()) run.doc.setUserAttributes(index, kArtSelected, 0);
    for (auto _ : state) {
        run.doc.setUserAttributes(run.top, kArtSelected, kArtSelected);
        if (walker == Walker::kPlugin) benchmark::DoNotOptimize(unselect_selection());
        else benchmark::DoNotOptimize(run.direct.unselectSelection());
    }
    reportPerObject(state, objects);
}

// ---- The gate ------------------------------------------------------------------

// One host call's pass through the gate: with no plan (the fast path every
// benchmark above runs with) and with a plan that never fires.
void GateEnter(benchmark::State& state, bool withPlan) {
    Gate gate;
    if (withPlan) gate.addRule(FaultRule::failNthOf(Op::Modal, 1));
    for (auto _ : state) benchmark::DoNotOptimize(gate.enter(Op::GetArtType));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// A whole command whose every host call takes the gate's slow path: the
// difference to Command/1/100000 is what the fast path saves.
void CommandWithPlan(benchmark::State& state, int slot, std::size_t objects) {
    World& world = drawingWorld(objects);
    world.host.gate().addRule(FaultRule::failNthOf(Op::Modal, 1));
    for (auto _ : state) world.host.chooseMenuItem(world.items[slot]);
    world.host.gate().clearRules();
    reportPerObject(state, objects);
}

// Milliseconds, and with --benchmark_repetitions the fastest run beside the
// mean and median: on a shared machine the minimum shows the code, the rest
// shows the neighbours too.
double minOf(const std::vector<double>& runs) {
    return *std::min_element(runs.begin(), runs.end());
}

void configure(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond);
    b->ComputeStatistics("min", minOf);
}

void registerAll() {
    using benchmark::RegisterBenchmark;
    for (const std::size_t objects : {10000u, 100000u, 1000000u}) {
        for (int slot = 0; slot < kCommandSlots; ++slot) {
            const std::string suffix = std::to_string(slot) + "/" + std::to_string(objects);
            RegisterBenchmark(("Command/" + suffix).c_str(), Command, slot, objects)->Apply(configure);
            RegisterBenchmark(("Baseline/" + suffix).c_str(), Baseline, slot, objects)->Apply(configure);
        }
        if (objects == 100000u) {
            RegisterBenchmark("CommandWithPlan/1/100000", CommandWithPlan, 1, objects)->Apply(configure);
        }
    }
    for (const char* shape : {"tree", "chain"}) {
        const std::size_t objects = 1000000;
        const std::string suffix = std::string(shape) + "/" + std::to_string(objects);
        RegisterBenchmark(("Select/" + suffix).c_str(), Select, shape, objects, Walker::kPlugin)->Apply(configure);
        RegisterBenchmark(("Baseline/select/" + suffix).c_str(), Select, shape, objects, Walker::kHost)
            ->Apply(configure);
        RegisterBenchmark(("Unselect/" + suffix).c_str(), Unselect, shape, objects, Walker::kPlugin)->Apply(configure);
        RegisterBenchmark(("Baseline/unselect/" + suffix).c_str(), Unselect, shape, objects, Walker::kHost)
            ->Apply(configure);
    }
    RegisterBenchmark("Gate/noPlan", GateEnter, false)->ComputeStatistics("min", minOf);
    RegisterBenchmark("Gate/planThatNeverFires", GateEnter, true)->ComputeStatistics("min", minOf);
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gWorld.reset();
    return 0;
}
