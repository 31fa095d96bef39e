// Crash-time unwinding on this machine: the whole stack of the calling
// thread, its frames in this program and in the C library all unwound by
// their DWARF call-frame information. Each frame's FDE is found through the
// image's .eh_frame_hdr index (only it and its CIE are mapped), or, with the
// index hidden, by walking and mapping the whole .eh_frame as images without
// one are searched.

#include <benchmark/benchmark.h>

#include <vector>

#include "LQCrashReporter/Source/LQCrashFrameCursor.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"

namespace {

struct Walk {
    int frames = 0;
};

lqcrash_error_t walk(lqcrash_async_thread_state* state, void* context) {
    auto* w = static_cast<Walk*>(context);
    lqcrash_frame_cursor cursor;
    lqcrash_frame_cursor_init(&cursor, mach_task_self(), state, lqcrash_shared_image_list());
    w->frames = 0;
    while (w->frames < 512 && lqcrash_frame_cursor_next(&cursor) == LQCRASH_FRAME_ESUCCESS) ++w->frames;
    lqcrash_frame_cursor_free(&cursor);
    return LQCRASH_ESUCCESS;
}

// A real call per level: the compiler may not fold the recursion into a loop.
int (*volatile g_descend)(int, Walk*);

__attribute__((noinline)) int descend(int depth, Walk* w) {
    if (depth > 0) return g_descend(depth - 1, w) + 1;
    lqcrash_async_thread_state_current(walk, w);
    return 0;
}

// Hides (or gives back) the images' FDE indexes.
void setIndexes(bool on, std::vector<uint64_t>* saved) {
    lqcrash_async_image_list* images = lqcrash_shared_image_list();
    lqcrash_async_image_list_set_reading(images, true);
    size_t i = 0;
    for (lqcrash_async_macho* image = lqcrash_async_image_list_next(images, nullptr); image;
         image = lqcrash_async_image_list_next(images, image), ++i) {
        if (on) {
            image->elf.ehFrameIndexAddress = (*saved)[i];
        } else {
            saved->push_back(image->elf.ehFrameIndexAddress);
            image->elf.ehFrameIndexAddress = 0;
        }
    }
    lqcrash_async_image_list_set_reading(images, false);
}

void BM_WalkCallingThread(benchmark::State& state) {
    lqcrash_shared_image_list_setup();
    g_descend = descend;
    const bool indexed = state.range(1) != 0;
    std::vector<uint64_t> saved;
    if (!indexed) setIndexes(false, &saved);
    Walk w;
    for (auto _ : state) benchmark::DoNotOptimize(descend(static_cast<int>(state.range(0)), &w));
    if (!indexed) setIndexes(true, &saved);
    state.counters["frames"] = w.frames;
    state.counters["per_frame"] = benchmark::Counter(static_cast<double>(w.frames) * state.iterations(),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WalkCallingThread)->ArgNames({"depth", "indexed"})->ArgsProduct({{16, 64}, {1, 0}});

}  // namespace
