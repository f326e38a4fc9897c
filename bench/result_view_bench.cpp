// How fast the result browser shows a page of thirty 4000 x 3000 JPEG photographs, and what it
// costs the window: the time from ShowTask until every thumbnail is decoded and drawn, the
// longest stretch the user-interface thread was kept from its events meanwhile, and how far
// the process's peak memory rose above its size at the start. The peer decodes the same page
// at full size and scales it on the calling thread, as a browser without scaled decoding
// would; the ratio of the two shows what decoding at thumbnail size saves.
//
// The pictures are made when the benchmark starts (five different photographs-like pictures
// of noise, gradients and shapes, each saved at quality 90 and copied to six names), in a fresh
// folder under the temporary directory (QUARRY_BENCH_DIR chooses another). Runs offscreen.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "records/record_store.h"
#include "ui/results/quarry_view.h"
#include "ui/results/thumbnail_decoder.h"
#include "ui/results/thumbnail_layout.h"
#include "ui/results/thumbnail_list.h"

namespace {

constexpr QSize kPhotoSize{4000, 3000};
constexpr int kDistinctPhotos = 5;
constexpr int kJpegQuality = 90;

// A field from /proc/self/status ("VmRSS", "VmHWM") in bytes; 0 when it cannot be read.
long long ProcessMemory(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::atoll(line.c_str() + field.size() + 1) * 1024;
  }
  return 0;
}

// The processor time of every thread of the process so far, in seconds.
double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// The processor time of the calling thread so far, in nanoseconds.
qint64 ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Lets VmHWM start again from the present size (Linux: writing 5 to clear_refs).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

QImage MakePhoto(int seed) {
  QImage image(kPhotoSize, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, kPhotoSize.width(), kPhotoSize.height());
  sky.setColorAt(0, QColor::fromHsv((seed * 67) % 360, 120, 230));
  sky.setColorAt(1, QColor::fromHsv((seed * 67 + 150) % 360, 200, 90));
  painter.fillRect(image.rect(), sky);
  QRandomGenerator random(seed);
  for (int i = 0; i < 400; ++i) {
    painter.setBrush(QColor::fromHsv(random.bounded(360), 150, 200, 160));
    painter.drawEllipse(
        QPoint(random.bounded(kPhotoSize.width()), random.bounded(kPhotoSize.height())),
        random.bounded(20, 300), random.bounded(20, 300));
  }
  painter.end();
  // Grain, so the file holds as much detail as a real photograph.
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const int grain = static_cast<int>(random.generate() % 41) - 20;
      const QRgb p = line[x];
      line[x] = qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                     std::clamp(qBlue(p) + grain, 0, 255));
    }
  }
  return image;
}

// The task folder with its database of thirty photographs, made once.
const std::string& PhotoFolder() {
  static const std::string folder = [] {
    const char* base = std::getenv("QUARRY_BENCH_DIR");
    std::string pattern =
        (base ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) /
        "quarry_thumbnails_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return std::string();
    const std::string made = pattern + "/";
    if (!quarry::RecordStore::PrepareTaskDatabase(made)) return std::string();
    for (int i = 0; i < kDistinctPhotos; ++i) {
      const std::string first = made + "photo-" + std::to_string(i) + ".jpg";
      if (!MakePhoto(i).save(QString::fromStdString(first), "JPG", kJpegQuality))
        return std::string();
      for (int copy = 0; copy < quarry::kRecordsPerPage / kDistinctPhotos; ++copy) {
        std::string path = first;
        if (copy > 0) {
          path = made + "photo-" + std::to_string(i) + "-" + std::to_string(copy) + ".jpg";
          std::filesystem::copy_file(first, path);
        }
        quarry::RecordStore::AddRecord(made, path, "http://h/" + path, "");
      }
    }
    return made;
  }();
  return folder;
}

bool AllDecoded(const ThumbnailList& grid) {
  for (int i = 0; i < grid.cellCount(); ++i) {
    if (grid.cell(i).picture == ThumbnailCell::Picture::Decoding) return false;
  }
  return true;
}

void ShowPageOfLargeJpegs(benchmark::State& state) {
  const std::string& folder = PhotoFolder();
  if (folder.empty()) {
    state.SkipWithError("could not make the photographs");
    return;
  }
  double longestStall = 0;
  double longestWork = 0;
  double peakGrowth = 0;
  double cpu = 0;
  int shown = 0;
  for (auto _ : state) {
    CQuarryView view;
    view.resize(980, 820);  // every cell of the page in sight
    view.show();
    QCoreApplication::processEvents();
    ThumbnailList& grid = *view.thumbnailList();

    // A timer ticking every millisecond: the longest gap between its ticks is the longest
    // time the thread could not look at its events. On a loaded machine that includes time
    // the thread waited for a processor, so the processor time the thread spent between two
    // ticks is kept as well: the longest piece of work the window did at one go.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 stall = 0;
    qint64 lastCpu = 0;
    qint64 work = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      const qint64 cpu = ThreadCpuNanoseconds();
      stall = std::max(stall, now - lastTick);
      work = std::max(work, cpu - lastCpu);
      lastTick = now;
      lastCpu = cpu;
    });

    const long long before = ProcessMemory("VmRSS");
    ResetPeakMemory();
    const double cpuBefore = ProcessCpuSeconds();
    ticker.start();
    lastCpu = ThreadCpuNanoseconds();
    clock.start();
    view.ShowTask(quarry::FileKind::Image, folder);
    while (!AllDecoded(grid))
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    grid.viewport()->repaint();
    const qint64 elapsed = clock.nsecsElapsed();
    stall = std::max(stall, elapsed - lastTick);
    work = std::max(work, ThreadCpuNanoseconds() - lastCpu);
    ticker.stop();
    cpu += ProcessCpuSeconds() - cpuBefore;

    state.SetIterationTime(elapsed / 1e9);
    longestStall = std::max(longestStall, stall / 1e6);
    longestWork = std::max(longestWork, work / 1e6);
    peakGrowth = std::max(peakGrowth, (ProcessMemory("VmHWM") - before) / 1048576.0);
    shown = 0;
    for (int i = 0; i < grid.cellCount(); ++i)
      shown += grid.cell(i).picture == ThumbnailCell::Picture::Shown;
  }
  state.counters["longest_gui_stall_ms"] = longestStall;
  state.counters["longest_gui_work_ms"] = longestWork;
  state.counters["peak_growth_MB"] = peakGrowth;
  state.counters["thumbnails"] = shown;
  // Divided by the cores, what the page would take on an otherwise idle machine.
  state.counters["process_cpu_s"] = cpu / state.iterations();
}
BENCHMARK(ShowPageOfLargeJpegs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The peer: every picture decoded at full size and scaled on this one thread.
void FullSizeDecodeOnOneThread(benchmark::State& state) {
  const std::string& folder = PhotoFolder();
  quarry::RecordPage page;
  if (folder.empty() || !quarry::RecordStore::ReadRecordPage(folder, 1, page)) {
    state.SkipWithError("could not make the photographs");
    return;
  }
  QImageReader::setAllocationLimit(256);
  double peakGrowth = 0;
  for (auto _ : state) {
    const long long before = ProcessMemory("VmRSS");
    ResetPeakMemory();
    QElapsedTimer clock;
    clock.start();
    for (const quarry::Record& record : page.records) {
      QImage full(QString::fromStdString(record.fileName));
      benchmark::DoNotOptimize(full.scaled(quarry::ThumbnailDrawSize(full.size()),
                                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    peakGrowth = std::max(peakGrowth, (ProcessMemory("VmHWM") - before) / 1048576.0);
  }
  state.counters["peak_growth_MB"] = peakGrowth;
  QImageReader::setAllocationLimit(quarry::kDecodeAllocationLimitMb);
}
BENCHMARK(FullSizeDecodeOnOneThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string& folder = PhotoFolder();
  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  return 0;
}
