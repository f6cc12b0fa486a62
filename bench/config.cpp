// Loading a configuration file of many keys: the time per key must not grow
// with the number of keys. Reports 1,000 and 100,000 keys; the ratio of their
// per-key times is the figure to watch (near 1 when loading is linear).
#include <benchmark/benchmark.h>

#include <korvane/config.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/config_internal.h"

namespace {

std::filesystem::path bench_folder() {
    static std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / "korvane-bench-config";
        std::filesystem::create_directories(path / "Korvane");
        ::setenv("LOCALAPPDATA", path.c_str(), 1);
        return path;
    }();
    return folder;
}

void load_keys(benchmark::State& state) {
    const auto keys = static_cast<int>(state.range(0));
    {
        std::ofstream out(bench_folder() / "Korvane" / "korvane.conf", std::ios::binary);
        for (int i = 0; i < keys; ++i) {
            out << 'k' << i << '=' << i % 10 << '\n';
        }
    }
    for (auto _ : state) {
        config_access::reset();
        benchmark::DoNotOptimize(config::instance()->has_key("k0"));
    }
    state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(load_keys)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
