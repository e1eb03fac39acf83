// Nanoseconds per entry for each output form of the benchmark logs, from the
// loaded bytes to the text written out (to /dev/null).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/loaded_log.h"
#include "log/walk.h"
#include "report/report.h"

namespace {

using namespace quenthar;

struct BenchLog {
  LogForm form;
  LogHeader header;
  std::vector<std::uint8_t> loaded;
  std::int64_t entries;

  [[nodiscard]] LoadedLog View() const { return {form, header, loaded.data(), loaded.size()}; }
};

BenchLog Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  const std::optional<LogForm> form = FormOfLength(static_cast<std::int64_t>(file.size()));
  if (!form) {
    std::fprintf(stderr, "%s is not a log file\n", path.c_str());
    std::exit(1);
  }
  const auto header_at = file.begin() + form->header_offset;
  BenchLog log{*form, LogHeader::Decode(&*header_at), {}, 0};
  const auto at = header_at + LogHeader::kSize;
  log.loaded.assign(at, at + static_cast<std::ptrdiff_t>(LoadedCapacity(*form, log.header)));
  EntryCursor region = DataRegion(log.View());
  static_cast<void>(
      WalkEntries(region, [&log](const EntryHeader&, const EntryCursor&, std::int64_t) {
        ++log.entries;
        return kGoOn;
      }));
  return log;
}

void ReportLog(benchmark::State& state, const std::string& path, Form form, std::FILE* sink) {
  const BenchLog log = Load(path);
  for (auto _ : state) {
    Output out(sink);
    Renderer r{form, out, TextEncoding::kNarrow};
    BeginRun(r);
    BeginLog(r, path);
    ReportEntries(r, log.View());
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
  const struct {
    const char* name;
    Form form;
  } forms[] = {{"text", Form::kText}, {"json", Form::kJsonLines}, {"csv", Form::kCsv}};
  for (const auto& f : forms) {
    for (const char* name : {"densest", "back_to_back", "u50_packed", "real_size"}) {
      const std::string log = std::string(QUENTHAR_BENCH_LOGS) + "/" + name + ".bin";
      benchmark::RegisterBenchmark((std::string(f.name) + "/" + name).c_str(), ReportLog, log,
                                   f.form, sink)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
