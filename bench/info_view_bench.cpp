// The information view under a full-speed harvest. A private nginx on 127.0.0.1 plays the
// search engine and the file servers: its result pages (text/html, one per page number) link
// to distinct 64 KB PDF files that it also serves. A 6-thread PDF task harvests them through
// task control, as the main window runs a task, with the view following the task from its
// first line (thread page one on top, so every batch is painted); the workers log every 4 KB
// chunk, as they always do. The same harvest is run again with no view attached, the two
// alternating for a few rounds.
//
// Meanwhile a probe thread posts a stamped call to the GUI thread every few milliseconds; the
// delay until the event loop runs it is the event loop's latency, which is what a user feels
// when clicking. Reported: its 50th and 99th percentile and maximum (beside the same for the
// run without a view, which shows what the machine itself adds), the GUI thread's CPU use,
// lines written and lines shown per second, and files per second with the view against
// without it.
//
// The runner's waits are shortened so that both runs measure the downloads, not the waits.
// Run by hand (offscreen unless QT_QPA_PLATFORM is set):
//   build/main/bench/info_view_bench [--rounds N] [--pages N]
#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/task_control.h"
#include "harvest/search_pages.h"
#include "platform/home.h"
#include "tests/http/nginx_server.h"
#include "tests/support/temp_folder.h"
#include "ui/information/info_view.h"
#include "ui/information/sheet_tab_ctrl.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 6;
constexpr int kLinksPerPage = 60;
constexpr std::size_t kFileSize = 64 * 1024;
constexpr int kProbeMs = 4;
constexpr int kHarvestLimitSeconds = 300;

struct Options {
  int pages = 40;  // result pages after the first; files = (pages + 1) * kLinksPerPage
  int rounds = 3;
};

// A result page for page number `pn` ("" for the first page).
std::string ResultPage(int port, const std::string& pn) {
  std::string page = "<html><head><title>bench</title></head><body>\n";
  for (int i = 0; i < kLinksPerPage; ++i) {
    const std::string name = "p" + pn + "_" + std::to_string(i) + ".pdf";
    page += "<div class=\"result\"><h3><a href=\"http://127.0.0.1:" + std::to_string(port) +
            "/files/" + name + "\" target=\"_blank\">第 " + std::to_string(i) +
            " 篇 报告</a></h3></div>\n";
  }
  return page + "</body></html>\n";
}

// Fills the server's folder: pages p.html, p10.html, ... and the files they link to.
void ServeHarvest(const quarry::testing::NginxServer& server, int pages) {
  const std::string root = server.Root();
  std::filesystem::create_directories(root + "pages");
  std::filesystem::create_directories(root + "files");
  const std::string content(kFileSize, 'q');
  for (int p = 0; p <= pages; ++p) {
    const std::string pn = p == 0 ? "" : std::to_string(p * quarry::kDocumentPageStep);
    std::ofstream(root + "pages/p" + pn + ".html") << ResultPage(server.Port(), pn);
    for (int i = 0; i < kLinksPerPage; ++i)
      std::ofstream(root + "files/p" + pn + "_" + std::to_string(i) + ".pdf") << content;
  }
}

// Counts the lines the workers write, then hands everything to the real view.
class CountingView : public quarry::InfoView {
public:
  explicit CountingView(CInfoView& view) : m_view(view) {}
  void AppendLog(int thread, const std::string& text) override {
    m_lines.fetch_add(1, std::memory_order_relaxed);
    m_view.AppendLog(thread, text);
  }
  void ShowTask(const quarry::SearchTask& task) override { m_view.ShowTask(task); }
  void ResetThreadPages() override { m_view.ResetThreadPages(); }
  void AddThreadPages(int count) override { m_view.AddThreadPages(count); }
  std::uint64_t Lines() const { return m_lines.load(); }

private:
  CInfoView& m_view;
  std::atomic<std::uint64_t> m_lines{0};
};

// Hands the end of the task to the GUI thread, as the main window does, and ends the wait.
class EndOnGuiThread : public QObject, public quarry::TaskFinishedSink {
public:
  quarry::TaskControl* control = nullptr;
  QEventLoop* loop = nullptr;
  void PostTaskFinished(quarry::SearchTask* task) override {
    QMetaObject::invokeMethod(
        this,
        [this, task] {
          control->OnTaskFinished(task);
          loop->quit();
        },
        Qt::QueuedConnection);
  }
};

// Posts a stamped call to the GUI thread every kProbeMs; the GUI thread keeps the delays.
class LatencyProbe : public QObject {
public:
  void Start() {
    m_running = true;
    m_thread = std::thread([this] {
      while (m_running) {
        const Clock::time_point sent = Clock::now();
        QMetaObject::invokeMethod(
            this,
            [this, sent] {
              m_delaysMs.push_back(
                  std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            },
            Qt::QueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(kProbeMs));
      }
    });
  }
  std::vector<double> Stop() {
    m_running = false;
    m_thread.join();
    QCoreApplication::processEvents();  // the calls still queued
    return std::move(m_delaysMs);
  }

private:
  std::atomic<bool> m_running{false};
  std::thread m_thread;
  std::vector<double> m_delaysMs;  // GUI thread only
};

struct RunResult {
  bool ok = false;
  double seconds = 0;
  int files = 0;
  double filesPerSecond = 0;
  double linesWrittenPerSecond = 0;
  double linesShownPerSecond = 0;
  double guiBusyShare = 0;   // CPU time of the GUI thread per second of harvest
  double cpuPerBatchMs = 0;  // CPU time of the GUI thread per batch the view drew
  std::vector<double> delaysMs;
};

// CPU time the calling thread has used, in seconds: unlike the latency, it does not depend on
// what else runs on the machine.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return values[index];
}

RunResult Harvest(int port, const Options& options, bool withView) {
  RunResult result;
  quarry::testing::TempFolder home;
  std::string error;
  if (home.Path().empty() || !quarry::CreateHomeFolders(home.Path(), &error)) {
    std::fprintf(stderr, "info_view_bench: no home folder: %s\n", error.c_str());
    return result;
  }
  quarry::TaskControlOptions controlOptions;
  controlOptions.home = home.Path();
  const std::string host = "127.0.0.1:" + std::to_string(port);
  quarry::MakeSearchHosts(host, host, &controlOptions.hosts, &error);
  controlOptions.timing = {10, 20, 10, 10};
  controlOptions.followStartedTask = true;

  CInfoView view;
  view.resize(900, 320);
  CountingView counting(view);
  quarry::NoTaskEvents events;
  EndOnGuiThread ends;
  QEventLoop loop;
  quarry::TaskControl control(events, ends, controlOptions);
  ends.control = &control;
  ends.loop = &loop;
  if (withView) {
    view.show();
    control.SetViews(&counting, nullptr);
  }

  quarry::NewTaskValues values;
  values.keyword = "bench";
  values.folder = home.Path() + "DownData/";
  values.threadCount = kThreads;
  values.pageCount = options.pages;
  values.kind = quarry::FileKind::Pdf;
  auto task = std::make_unique<quarry::Task>();
  if (!quarry::MakeSearchTask(values, std::time(nullptr), &task->record, &error)) {
    std::fprintf(stderr, "info_view_bench: %s\n", error.c_str());
    return result;
  }
  quarry::Task* running = task.get();

  QCoreApplication::processEvents();
  LatencyProbe probe;
  probe.Start();
  const Clock::time_point start = Clock::now();
  const double cpuStart = ThreadCpuSeconds();
  control.AddTask(std::move(task));
  if (withView) view.Tabs()->ActivatePage(1);
  QTimer::singleShot(kHarvestLimitSeconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  const Clock::time_point end = Clock::now();
  const double cpuEnd = ThreadCpuSeconds();
  result.delaysMs = probe.Stop();
  view.Drain();

  const quarry::SearchTask figures = control.Snapshot(running);
  result.ok = figures.state == quarry::TaskState::Ended && control.RunningCount() == 0;
  result.seconds = std::chrono::duration<double>(end - start).count();
  result.files = figures.filesFetched;
  result.filesPerSecond = result.files / result.seconds;
  result.linesWrittenPerSecond = static_cast<double>(counting.Lines()) / result.seconds;
  result.linesShownPerSecond = static_cast<double>(view.LinesShown()) / result.seconds;
  result.guiBusyShare = (cpuEnd - cpuStart) / result.seconds;
  if (view.Batches() > 0)
    result.cpuPerBatchMs = 1000 * (cpuEnd - cpuStart) / static_cast<double>(view.Batches());
  control.Shutdown();
  return result;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--rounds") == 0 && hasValue) {
      options->rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--pages") == 0 && hasValue) {
      options->pages = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return options->rounds >= 1 && options->pages >= 1 && options->pages <= quarry::kMaxPageCount;
}

void PrintRun(const char* name, const RunResult& run) {
  std::printf(
      "%-13s %5d files %5.2f s %6.1f files/s %6.0f lines/s written %6.0f shown  "
      "GUI thread busy %4.1f %% (%4.2f ms a batch)  latency p50 %5.2f p99 %6.2f max %6.2f ms\n",
      name, run.files, run.seconds, run.filesPerSecond, run.linesWrittenPerSecond,
      run.linesShownPerSecond, 100 * run.guiBusyShare, run.cpuPerBatchMs,
      Percentile(run.delaysMs, 0.5), Percentile(run.delaysMs, 0.99), Percentile(run.delaysMs, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  // No window on the desktop unless asked for: offscreen windows are painted all the same.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: info_view_bench [--rounds N] [--pages 1..500]\n");
    return 2;
  }
  if (!quarry::testing::NginxServer::Available()) {
    std::fprintf(stderr, "info_view_bench: %s is not installed\n",
                 quarry::testing::NginxServer::kBinary);
    return 1;
  }
  quarry::testing::NginxServer server;
  server.SetExtraServerConfig(
      "    location = /s { default_type text/html; try_files /pages/p$arg_pn.html =404; }\n");
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "info_view_bench: %s\n", error.c_str());
    return 1;
  }
  ServeHarvest(server, options.pages);
  const int files = (options.pages + 1) * kLinksPerPage;
  std::printf("info_view_bench: %d threads, %d files of %zu KB a run from nginx, %d rounds\n",
              kThreads, files, kFileSize / 1024, options.rounds);

  std::vector<double> withRates, withoutRates, delaysWith, delaysWithout;
  double shownPerSecond = 0;
  for (int round = 0; round < options.rounds; ++round) {
    for (bool withView : {true, false}) {
      RunResult run = Harvest(server.Port(), options, withView);
      if (!run.ok || run.files != files) {
        std::fprintf(stderr, "info_view_bench: the harvest did not end as expected (%d files)\n",
                     run.files);
        return 1;
      }
      PrintRun(withView ? "with view" : "without view", run);
      (withView ? withRates : withoutRates).push_back(run.filesPerSecond);
      auto& delays = withView ? delaysWith : delaysWithout;
      delays.insert(delays.end(), run.delaysMs.begin(), run.delaysMs.end());
      if (withView) shownPerSecond += run.linesShownPerSecond / options.rounds;
    }
  }
  const double with = Percentile(withRates, 0.5);
  const double without = Percentile(withoutRates, 0.5);
  std::printf(
      "\nGUI event-loop latency with the view:    p50 %.2f ms, p99 %.2f ms, max %.2f ms "
      "(%zu probes; goal p99 < 50 ms, aim < 16 ms)\n",
      Percentile(delaysWith, 0.5), Percentile(delaysWith, 0.99), Percentile(delaysWith, 1.0),
      delaysWith.size());
  std::printf("GUI event-loop latency without a view:   p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
              Percentile(delaysWithout, 0.5), Percentile(delaysWithout, 0.99),
              Percentile(delaysWithout, 1.0));
  std::printf("lines shown per second (mean): %.0f\n", shownPerSecond);
  std::printf(
      "files per second, median: %.1f with the view, %.1f without; ratio %.3f "
      "(goal >= 0.90)\n",
      with, without, with / without);
  return 0;
}
