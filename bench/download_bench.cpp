// Download throughput of the HTTP client against curl and wget, all fetching the same files
// from one private nginx on the loopback interface in the same run: one 200 MB file, and
// 1,000 files of 20 KB. Quarry fetches each file as a worker does: HeadExchange, then
// DownloadFile with the length it announced. curl fetches the small files in one process (one
// kept-alive connection), wget likewise from a list. At exit the ratios are printed. The served
// files and the downloads live in temporary folders that are removed at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/download_support.h"
#include "http/transfer.h"
#include "tests/http/nginx_server.h"

namespace {

using quarry::bench::QuietContext;
using quarry::testing::NginxServer;

constexpr std::size_t kLargeSize = 200u * 1024 * 1024;
constexpr int kSmallCount = 1000;
constexpr std::size_t kSmallSize = 20 * 1024;

std::string SmallName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "s%04d.bin", i);
  return name;
}

// The served files, the download folder and the best time of each run, kept for the summary.
class Setup {
public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }

  bool Ready() const { return m_ready; }
  const std::string& Error() const { return m_error; }
  int Port() const { return m_server.Port(); }
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(Port()) + "/" + name;
  }
  // An empty download folder.
  std::string FreshOutput() { return quarry::bench::EmptiedFolder(m_output); }
  void Record(const std::string& name, double seconds) { m_best.Record(name, seconds); }

  ~Setup() {
    PrintRatios("single 200 MB file", "large", kLargeSize);
    PrintRatios("1,000 files of 20 KB", "small", kSmallSize * kSmallCount);
    std::filesystem::remove_all(m_output);
    m_server.Stop();
  }

private:
  Setup() {
    if (!NginxServer::Available()) {
      m_error = "nginx is not installed";
      return;
    }
    if (!m_server.Start(&m_error)) return;
    std::string root = m_server.Root();
    const std::string block = quarry::bench::PatternBlock();
    quarry::bench::WriteRepeated(root + "large.bin", block, kLargeSize);
    for (int i = 0; i < kSmallCount; ++i) {
      std::ofstream(root + SmallName(i), std::ios::binary) << block.substr(i, kSmallSize);
    }
    m_output = quarry::bench::MakeTempFolder();
    if (m_output.empty()) {
      m_error = "no temporary folder";
      return;
    }
    m_ready = true;
  }

  void PrintRatios(const char* title, const std::string& key, std::size_t bytes) {
    const double quarry = m_best.Of(key + "/quarry");
    if (quarry <= 0) return;
    std::printf("\n%s: quarry %.3f s (%.1f MB/s)", title, quarry, bytes / quarry / 1e6);
    for (const char* tool : {"curl", "wget"}) {
      const double other = m_best.Of(key + "/" + tool);
      if (other <= 0) continue;
      std::printf(", %s %.3f s (%.1f MB/s) -> quarry/%s throughput %.2f", tool, other,
                  bytes / other / 1e6, tool, other / quarry);
    }
    std::printf("\n");
  }

  NginxServer m_server;
  std::string m_output;
  std::string m_error;
  bool m_ready = false;
  quarry::bench::BestTimes m_best;
};

// Quarry's worker steps for one file: the HEAD exchange, then the download of its length.
bool QuarryFetch(const std::string& name, const std::string& output) {
  Setup& setup = Setup::Get();
  std::string path = "/" + name;
  const quarry::ExchangeTarget target{"127.0.0.1", path.c_str(), "127.0.0.1", setup.Port()};
  quarry::HeadAnswer answer;
  if (quarry::HeadExchange(target, answer) != quarry::HeadResult::Answered) return false;
  QuietContext context;
  std::string file = output + answer.name;
  return quarry::DownloadFile(context, 1, target, static_cast<std::uint32_t>(answer.length),
                              file) == quarry::FileResult::Complete;
}

bool Fetch(const std::string& tool, const std::vector<std::string>& names,
           const std::string& output) {
  Setup& setup = Setup::Get();
  if (tool == "quarry") {
    for (const std::string& name : names) {
      if (!QuarryFetch(name, output)) return false;
    }
    return true;
  }
  if (tool == "curl") {
    std::string config = output + "curl.cfg";
    {
      std::ofstream list(config);
      for (const std::string& name : names) {
        list << "url = \"" << setup.Url(name) << "\"\noutput = \"" << output << name << "\"\n";
      }
    }
    return quarry::bench::RunTool({"/usr/bin/curl", "-s", "-f", "-K", config});
  }
  std::string list = output + "wget.list";
  {
    std::ofstream out(list);
    for (const std::string& name : names) out << setup.Url(name) << "\n";
  }
  return quarry::bench::RunTool({"/usr/bin/wget", "-q", "-i", list, "-P", output});
}

void Measure(benchmark::State& state, const std::string& key, const std::string& tool,
             const std::vector<std::string>& names, std::size_t bytes) {
  Setup& setup = Setup::Get();
  if (!setup.Ready()) {
    state.SkipWithError(setup.Error().c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::string output = setup.FreshOutput();
    state.ResumeTiming();
    auto begin = std::chrono::steady_clock::now();
    bool fetched = Fetch(tool, names, output);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    state.SetIterationTime(seconds);
    if (!fetched) {
      state.SkipWithError("download failed");
      return;
    }
    state.PauseTiming();
    std::uintmax_t total = 0;
    for (const std::string& name : names) total += std::filesystem::file_size(output + name);
    state.ResumeTiming();
    if (total != bytes) {
      state.SkipWithError("wrong number of bytes on disk");
      return;
    }
    setup.Record(key + "/" + tool, seconds);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_LargeFile(benchmark::State& state, const std::string& tool) {
  Measure(state, "large", tool, {"large.bin"}, kLargeSize);
}

void BM_SmallFiles(benchmark::State& state, const std::string& tool) {
  std::vector<std::string> names;
  for (int i = 0; i < kSmallCount; ++i) names.push_back(SmallName(i));
  Measure(state, "small", tool, names, kSmallSize * kSmallCount);
}

BENCHMARK_CAPTURE(BM_LargeFile, quarry, std::string("quarry"))
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LargeFile, curl, std::string("curl"))
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LargeFile, wget, std::string("wget"))
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SmallFiles, quarry, std::string("quarry"))
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SmallFiles, curl, std::string("curl"))
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SmallFiles, wget, std::string("wget"))
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
