// Decoding of a full-size scan block (1,000,001 records) with its CSV file
// and its per-record log lines, both written to files in a temporary
// directory. Prints the peak memory of the run and the time the same block
// takes to arrive over the line at the fastest rate.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "scan/scan_block.hpp"
#include "structs/logging.hpp"

namespace {

constexpr std::uint64_t kPoints = 1'000'001;
constexpr std::uint64_t kStart = 240'000'000;
constexpr std::uint64_t kStop = 960'000'000;
constexpr double kFastestBaud = 3'000'000;

// The instrument's echo, "{", one record per point with a varying level, "}".
std::vector<std::uint8_t> make_block(std::uint64_t points) {
  const std::string echo = "scanraw 240000000 960000000 1000001\r\n";
  std::vector<std::uint8_t> bytes(echo.begin(), echo.end());
  bytes.reserve(bytes.size() + points * 3 + 2);
  bytes.push_back('{');
  for (std::uint64_t i = 0; i < points; ++i) {
    const auto code = static_cast<std::uint16_t>(1200 + i % 400);
    bytes.insert(bytes.end(),
                 {'x', static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8)});
  }
  bytes.push_back('}');
  return bytes;
}

void BM_DecodeFullScanBlock(benchmark::State& state) {
  const std::vector<std::uint8_t> block = make_block(kPoints);
  for (auto _ : state) {
    auto scan = kestrel::decode_scan_block(block, kStart, kStop, kPoints);
    if (!scan || scan->points.size() != kPoints) {
      state.SkipWithError("decoding failed");
      break;
    }
    benchmark::DoNotOptimize(scan->points.data());
    state.PauseTiming();
    std::filesystem::remove(scan->file_name);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kPoints));
  state.counters["block_bytes"] = static_cast<double>(block.size());
}
BENCHMARK(BM_DecodeFullScanBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  // The CSV files and the log file go to a directory of their own.
  const auto previous = std::filesystem::current_path();
  std::string dir = (std::filesystem::temp_directory_path() / "kestrel-scan-bench-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr)
    return 1;
  std::filesystem::current_path(dir);
  if (!kestrel::log::start("scan_bench.log"))
    return 1;

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kestrel::log::shutdown();

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double block_bytes = static_cast<double>(kPoints * 3 + 2);
  std::printf("peak memory (max RSS): %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  std::printf("the block (%.0f bytes + echo and prompt) takes %.2f s to arrive at %.0f baud\n",
              block_bytes, block_bytes * 10 / kFastestBaud, kFastestBaud);

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
  return 0;
}
