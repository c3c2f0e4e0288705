// What an instance costs a host, measured on the built plug-in loaded as a host
// loads it: the time to create it, send effOpen and effClose (200 single runs;
// read the median), the heap an idle instance holds, and the memory of eight
// open editors against one (headless windows: editors opened without a parent).
// Heap figures are glibc's mallinfo2 totals (heap and mapped blocks) before and
// after. TOLVANE_PLUGIN=path measures another build of the plug-in.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "PluginHost.h"

namespace {

PluginLibrary& plugin() {
    static PluginLibrary library(std::getenv("TOLVANE_PLUGIN") ? std::getenv("TOLVANE_PLUGIN") : TOLVANE_PLUGIN_PATH);
    return library;
}

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

AEffect* create() {
    AEffect* effect = plugin().callEntryPoint(quietHost);
    if (effect) effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    return effect;
}

void destroy(AEffect* effect) { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); }

size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap held by `count` instances (with their editors open, if asked), in bytes.
double heapOf(int count, bool editorsOpen) {
    destroy(create());  // whatever the first instance sets up for the process is not the instances'
    const size_t before = heapInUse();
    std::vector<AEffect*> instances;
    for (int i = 0; i < count; ++i) {
        instances.push_back(create());
        if (editorsOpen) instances.back()->dispatcher(instances.back(), effEditOpen, 0, 0, nullptr, 0.0f);
    }
    const double held = static_cast<double>(heapInUse()) - static_cast<double>(before);
    for (AEffect* effect : instances) {
        if (editorsOpen) effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
        destroy(effect);
    }
    return held;
}

void CreateOpenClose(benchmark::State& state) {
    if (!plugin().loaded()) return state.SkipWithError(plugin().error().c_str());
    for (auto _ : state) destroy(create());
}
BENCHMARK(CreateOpenClose)->Unit(benchmark::kMicrosecond)->Iterations(1)->Repetitions(200)->ReportAggregatesOnly();

void IdleInstanceHeap(benchmark::State& state) {
    if (!plugin().loaded()) return state.SkipWithError(plugin().error().c_str());
    double perInstance = 0.0;
    for (auto _ : state) perInstance = heapOf(16, false) / 16.0;
    state.counters["KB_per_instance"] = perInstance / 1024.0;
}
BENCHMARK(IdleInstanceHeap)->Iterations(1);

void OpenEditorsMemory(benchmark::State& state) {
    if (!plugin().loaded()) return state.SkipWithError(plugin().error().c_str());
    double one = 0.0, eight = 0.0;
    for (auto _ : state) {
        one = heapOf(1, true);
        eight = heapOf(8, true);
    }
    state.counters["MB_one"] = one / (1024.0 * 1024.0);
    state.counters["MB_eight"] = eight / (1024.0 * 1024.0);
    state.counters["eight_over_one"] = eight / one;
}
BENCHMARK(OpenEditorsMemory)->Iterations(1);

}  // namespace
