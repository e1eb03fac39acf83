// Nanoseconds per entry for the report of the benchmark logs, from the loaded
// bytes to the formatted text written out (to /dev/null).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/driver.h"
#include "log/walk.h"

namespace {

using namespace quenthar;

struct LoadedLog {
  LogHeader header;
  std::vector<std::uint8_t> loaded;
  std::int64_t entries;
};

LoadedLog Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  if (file.size() != static_cast<std::size_t>(kLogFileSize)) {
    std::fprintf(stderr, "%s is not a log file\n", path.c_str());
    std::exit(1);
  }
  LoadedLog log{LogHeader::Decode(file.data() + kLogHeaderOffset), {}, 0};
  const auto at = file.begin() + kLogHeaderOffset + LogHeader::kSize;
  log.loaded.assign(at, at + static_cast<std::ptrdiff_t>(LoadedCapacity(log.header)));
  EntryCursor region = MakeCursor(log.loaded.data(), log.loaded.data() + log.loaded.size());
  static_cast<void>(
      WalkEntries(region, [&log](const EntryHeader&, const EntryCursor&, std::int64_t) {
        ++log.entries;
        return kGoOn;
      }));
  return log;
}

void ReportLog(benchmark::State& state, const std::string& path, std::FILE* sink) {
  const LoadedLog log = Load(path);
  for (auto _ : state) {
    Output out(sink);
    ReportLoadedRegion(out, log.header, log.loaded.data(), log.loaded.size());
  }
  state.counters["entries"] = static_cast<double>(log.entries);
  // Seconds per entry, shown with an SI prefix (n for nanoseconds).
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(log.entries),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Unbuffered, as the program's standard output: every write goes through.
  std::FILE* sink = std::fopen("/dev/null", "wb");
  if (sink == nullptr) return 1;
  std::setvbuf(sink, nullptr, _IONBF, 0);
  for (const char* name : {"densest", "back_to_back", "u50_packed", "real_size"}) {
    benchmark::RegisterBenchmark(name, ReportLog,
                                 std::string(QUENTHAR_BENCH_LOGS) + "/" + name + ".bin", sink)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
