// Download throughput over TLS against curl: one 200 MB file from a private nginx that serves
// https with a certificate of an authority made for the run (both clients trust it), fetched
// by Quarry as a worker fetches an https file (HEAD exchange, then DownloadFile) and by curl,
// one after the other in the same run. At exit the ratio of the best times is printed; the goal is
// at least 0.8 of curl's throughput. Everything lives in temporary folders removed at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/download_support.h"
#include "http/tls_channel.h"
#include "http/transfer.h"
#include "tests/http/nginx_server.h"
#include "tests/support/test_authority.h"

namespace {

using quarry::bench::QuietContext;
using quarry::testing::NginxServer;
using quarry::testing::TestAuthority;

constexpr std::size_t kLargeSize = 200u * 1024 * 1024;

class Setup {
public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }
  bool Ready() const { return m_ready; }
  const std::string& Error() const { return m_error; }
  int Port() const { return m_server.TlsPort(); }
  const TestAuthority& Authority() const { return m_authority; }
  std::string Output() { return quarry::bench::EmptiedFolder(m_output); }
  void Record(const std::string& tool, double seconds) { m_best.Record(tool, seconds); }

  ~Setup() {
    const double quarry = m_best.Of("quarry");
    const double curl = m_best.Of("curl");
    if (quarry > 0 && curl > 0) {
      std::printf(
          "\n200 MB over TLS: quarry %.3f s (%.1f MB/s), curl %.3f s (%.1f MB/s) -> "
          "quarry/curl throughput %.2f\n",
          quarry, kLargeSize / quarry / 1e6, curl, kLargeSize / curl / 1e6, curl / quarry);
    }
    std::filesystem::remove_all(m_output);
    m_server.Stop();
  }

private:
  Setup() {
    if (!NginxServer::Available()) {
      m_error = "nginx is not installed";
      return;
    }
    if (!m_authority.Make(&m_error)) return;
    m_server.EnableTls(m_authority.Certificate(), m_authority.Key());
    if (!m_server.Start(&m_error)) return;
    if (!quarry::SetTlsExtraAuthority(m_authority.Authority(), &m_error)) return;
    quarry::bench::WriteRepeated(m_server.Root() + "large.bin", quarry::bench::PatternBlock(),
                                 kLargeSize);
    m_output = quarry::bench::MakeTempFolder();
    if (m_output.empty()) {
      m_error = "no temporary folder";
      return;
    }
    m_ready = true;
  }

  TestAuthority m_authority;
  NginxServer m_server;
  std::string m_output;
  std::string m_error;
  bool m_ready = false;
  quarry::bench::BestTimes m_best;
};

bool Fetch(const std::string& tool, const std::string& output) {
  Setup& setup = Setup::Get();
  if (tool == "quarry") {
    const quarry::ExchangeTarget target{"localhost", "/large.bin", "127.0.0.1", setup.Port(), true};
    quarry::HeadAnswer answer;
    if (quarry::HeadExchange(target, answer) != quarry::HeadResult::Answered) return false;
    QuietContext context;
    std::string file = output + answer.name;
    return quarry::DownloadFile(context, 1, target, static_cast<std::uint32_t>(answer.length),
                                file) == quarry::FileResult::Complete;
  }
  const std::string url = "https://localhost:" + std::to_string(setup.Port()) + "/large.bin";
  const std::string authority = setup.Authority().Authority();
  const std::string file = output + "large.bin";
  return quarry::bench::RunTool(
      {"/usr/bin/curl", "-s", "-f", "--cacert", authority, "-o", file, url});
}

void BM_LargeFileOverTls(benchmark::State& state, const std::string& tool) {
  Setup& setup = Setup::Get();
  if (!setup.Ready()) {
    state.SkipWithError(setup.Error().c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    const std::string output = setup.Output();
    state.ResumeTiming();
    const auto begin = std::chrono::steady_clock::now();
    const bool fetched = Fetch(tool, output);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    state.SetIterationTime(seconds);
    if (!fetched || std::filesystem::file_size(output + "large.bin") != kLargeSize) {
      state.SkipWithError("download failed");
      return;
    }
    setup.Record(tool, seconds);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeSize));
}

// The best of three fetches each: the machine is shared, and a burst of load elsewhere should
// not decide the ratio.
BENCHMARK_CAPTURE(BM_LargeFileOverTls, quarry, std::string("quarry"))
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LargeFileOverTls, curl, std::string("curl"))
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
