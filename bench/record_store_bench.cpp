// How many rows per second six worker threads can record into one task database: with a
// connection opened and closed per row (RecordStore::AddRecord), with one RecordWriter kept
// per thread, and, for comparison, per-row connections on a rollback journal instead of the
// write-ahead log. Every row is committed and synced before its insert returns, so the figures
// include the disk's sync time. The database lives in a fresh folder under the temporary
// directory (QUARRY_BENCH_DIR chooses another, to measure the disk a harvest would use).
#include "records/record_store.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 6;
constexpr int kRowsPerThread = 100;  // per iteration

std::string MakeTaskFolder() {
  const char* base = std::getenv("QUARRY_BENCH_DIR");
  std::string pattern =
      (base ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) /
      "quarry_records_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern + "/";
}

std::string Title(int thread, int row) {
  return "title of file " + std::to_string(thread) + "-" + std::to_string(row);
}

std::string FileName(const std::string& folder, int thread, int row) {
  return folder + "07123456-file" + std::to_string(thread) + "_" + std::to_string(row) + ".pdf";
}

// Runs `kThreads` threads, each calling `insertRows(thread, failures)`, and counts the rows.
template <typename InsertRows>
void RunThreads(benchmark::State& state, InsertRows insertRows) {
  std::atomic<int> failures{0};
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { insertRows(t, failures); });
    for (auto& thread : threads) thread.join();
  }
  state.SetItemsProcessed(state.iterations() * kThreads * kRowsPerThread);
  state.counters["failures"] = failures.load();
}

void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void PerRowConnections(benchmark::State& state, const std::string& folder) {
  RunThreads(state, [&](int t, std::atomic<int>& failures) {
    for (int row = 0; row < kRowsPerThread; ++row) {
      if (!quarry::RecordStore::AddRecord(folder, FileName(folder, t, row),
                                          "http://example.com/doc.pdf", Title(t, row)))
        ++failures;
    }
  });
  RemoveFolder(folder);
}

void BM_PerRowConnection(benchmark::State& state) {
  std::string folder = MakeTaskFolder();
  if (folder.empty() || !quarry::RecordStore::PrepareTaskDatabase(folder)) {
    state.SkipWithError("cannot prepare the task database");
    return;
  }
  PerRowConnections(state, folder);
}

void BM_PerRowConnectionRollbackJournal(benchmark::State& state) {
  std::string folder = MakeTaskFolder();
  sqlite3* db = nullptr;
  bool ok = !folder.empty() && quarry::RecordStore::PrepareTaskDatabase(folder) &&
            sqlite3_open(quarry::RecordStore::ConnectionString(folder).c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  if (!ok) {
    state.SkipWithError("cannot prepare the task database");
    return;
  }
  PerRowConnections(state, folder);
}

void BM_PerThreadWriter(benchmark::State& state) {
  std::string folder = MakeTaskFolder();
  if (folder.empty() || !quarry::RecordStore::PrepareTaskDatabase(folder)) {
    state.SkipWithError("cannot prepare the task database");
    return;
  }
  // One writer per worker for the length of the task, as the task runner holds them.
  std::vector<quarry::RecordWriter> writers(kThreads);
  for (auto& writer : writers) {
    if (!writer.Open(folder)) {
      state.SkipWithError("cannot open a writer");
      return;
    }
  }
  RunThreads(state, [&](int t, std::atomic<int>& failures) {
    for (int row = 0; row < kRowsPerThread; ++row) {
      if (!writers[t].Add(FileName(folder, t, row), "http://example.com/doc.pdf", Title(t, row)))
        ++failures;
    }
  });
  writers.clear();
  RemoveFolder(folder);
}

BENCHMARK(BM_PerRowConnection)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PerRowConnectionRollbackJournal)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_PerThreadWriter)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
