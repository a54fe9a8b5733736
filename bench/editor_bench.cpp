// simhost-editor-bench: the host's edits on a large generated drawing:
// Select All, Delete and the saved drawing, one at a time and in a row,
// and undo of the delete. Figures in bench/README.md.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "simhost/documents/Editor.h"

namespace {

// One layer of `objects` paths, a group of ten after every ninety, each on
// a line of its own as drawing programs write them: Delete unlinks many
// siblings of one parent, the worst case of relinking a child list.
std::string drawing(std::size_t objects) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:inkscape=\"http://www.inkscape.org/namespaces/inkscape\">\n"
        "<defs><linearGradient id=\"fade\"/></defs>\n"
        "<g inkscape:groupmode=\"layer\" id=\"layer1\">\n";
    for (std::size_t n = 0; n < objects;) {
        if (n % 100 == 90 && n + 11 <= objects) {
            text += " <g id=\"g" + std::to_string(n) + "\" style=\"stroke:#000\">\n";
            for (int k = 0; k < 10; ++k)
                text += "  <path d=\"M0 0 L" + std::to_string(n) + " 1\" id=\"p" + std::to_string(n + 1 + k) + "\"/>\n";
            text += " </g>\n";
            n += 11;
            continue;
        }
        text += " <path d=\"M0 0 L" + std::to_string(n) + " 2z\" style=\"fill:url(#fade)\" id=\"p" + std::to_string(n) +
                "\"/>\n";
        ++n;
    }
    return text + "</g>\n</svg>\n";
}

const std::string& text(std::size_t objects) {
    static std::string cached;
    static std::size_t made = 0;
    if (made != objects) {
        cached = drawing(objects);
        made = objects;
    }
    return cached;
}

enum class Stage { kSelectAll, kDelete, kSave, kAll, kUndo };

void run(benchmark::State& state, Stage stage) {
    const auto objects = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto open = simhost::openDocumentBytes(text(objects), "bench.svg");
        auto owned = std::make_unique<simhost::Editor>(*open);
        simhost::Editor& editor = *owned;
        if (stage != Stage::kSelectAll && stage != Stage::kAll) editor.select(simhost::SelectOp::kAll);
        if (stage == Stage::kSave || stage == Stage::kUndo) editor.deleteSelection();
        state.ResumeTiming();
        if (stage == Stage::kSelectAll || stage == Stage::kAll) editor.select(simhost::SelectOp::kAll);
        if (stage == Stage::kDelete || stage == Stage::kAll) editor.deleteSelection();
        if (stage == Stage::kSave || stage == Stage::kAll) benchmark::DoNotOptimize(editor.savedSvg());
        if (stage == Stage::kUndo) editor.undo();
        state.PauseTiming();
        owned.reset();  // freed outside the timing
        open.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Five iterations each: reading the drawing anew for each one, untimed,
// costs a hundred times the edit.
void SelectAll(benchmark::State& state) { run(state, Stage::kSelectAll); }
void Delete(benchmark::State& state) { run(state, Stage::kDelete); }
void Save(benchmark::State& state) { run(state, Stage::kSave); }
void SelectDeleteSave(benchmark::State& state) { run(state, Stage::kAll); }
void UndoDelete(benchmark::State& state) { run(state, Stage::kUndo); }

BENCHMARK(SelectAll)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(Delete)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(Save)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(SelectDeleteSave)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(UndoDelete)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
