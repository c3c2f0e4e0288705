// Hosts load projects on several threads: instances made, opened, their
// editors opened and closed, and the instances closed again on four threads at
// once. Run under ThreadSanitizer in CI: no report.
#include <atomic>
#include <thread>
#include <vector>

#include "support/plugin_fixture.h"

namespace {

TEST(HostThreads, InstancesComeAndGoOnFourThreadsAtOnce) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures, t] {
            for (int round = 0; round < 12; ++round) {
                auto plugin = tolvaneLibrary().createInstance();
                if (!plugin) {
                    ++failures;
                    continue;
                }
                plugin->dispatch(effOpen);
                plugin->dispatch(effSetEditKnobMode, 0, (t + round) % 3);
                ERect* rect = nullptr;
                if (plugin->dispatch(effEditGetRect, 0, 0, &rect) != 1 || !rect || rect->right != 750) ++failures;
                if ((t + round) % 2 == 0) {
                    // Without a parent window: headless, so no X server is needed.
                    if (plugin->dispatch(effEditOpen) != 1) ++failures;
                    plugin->dispatch(effEditIdle);
                    plugin->dispatch(effEditClose);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
