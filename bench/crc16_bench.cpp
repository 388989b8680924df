// The checksum kernels side by side, 64 B to 64 MiB.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "format/crc16_xmodem.h"

namespace {

std::vector<uint8_t> bench_data(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t state = 12345;
    for (auto& byte : data) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return data;
}

// range(0): bytes; the benchmark's argument picks the kernel.
void BM_Crc16(benchmark::State& state, Crc16Kernel kernel) {
    if (!crc16_xmodem_kernel_available(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    auto data = bench_data(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(crc16_xmodem_with(kernel, 0, data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Crc16Dispatch(benchmark::State& state) {
    auto data = bench_data(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(CRC16_XMODEM(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Each kernel under its own name, BM_Crc16/KERNEL/BYTES; one the processor
// does not run says so.
void sizes(benchmark::internal::Benchmark* b) {
    for (int64_t bytes : {int64_t{64}, int64_t{4096}, int64_t{1} << 20, int64_t{64} << 20}) b->Arg(bytes);
}
BENCHMARK_CAPTURE(BM_Crc16, bitwise, Crc16Kernel::bitwise)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Crc16, portable, Crc16Kernel::portable)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Crc16, clmul, Crc16Kernel::clmul)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Crc16, clmul_wide, Crc16Kernel::clmul_wide)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Crc16, pmull, Crc16Kernel::pmull)->Apply(sizes);
// Where the folding kernels take over from the portable one.
BENCHMARK_CAPTURE(BM_Crc16, portable_short, Crc16Kernel::portable)->RangeMultiplier(2)->Range(16, 512);
BENCHMARK_CAPTURE(BM_Crc16, clmul_short, Crc16Kernel::clmul)->RangeMultiplier(2)->Range(16, 512);
BENCHMARK_CAPTURE(BM_Crc16, pmull_short, Crc16Kernel::pmull)->RangeMultiplier(2)->Range(16, 512);
BENCHMARK(BM_Crc16Dispatch)->Arg(3)->Arg(64)->Arg(127)->Arg(128)->Arg(4096)->Arg(64 << 20);

}  // namespace

BENCHMARK_MAIN();
