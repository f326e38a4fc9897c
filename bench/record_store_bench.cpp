// How many rows per second six worker threads can record into one task database: with a
// connection opened and closed per row (RecordStore::AddRecord), with one RecordWriter kept
// per thread, and, for comparison, per-row connections on a rollback journal instead of the
// write-ahead log. And what a task run again pays to skip the addresses its database holds:
// reading them all into a set once, then a set lookup per link, against one query per link. Every
// row is committed and synced before its insert returns, so the figures include the disk's sync
// time. The database lives in a fresh folder under the temporary directory (QUARRY_BENCH_DIR
// chooses another, to measure the disk a harvest would use).
#include "records/record_store.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
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

// The source address of row `row`, shaped like a harvested document link.
std::string Address(int row) {
  return "http://127.0.0.1:8090/d/bench/" + std::to_string(row) + ".pdf";
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

// A task database of `rows` rows written in one transaction; empty when it cannot be made.
std::string FilledTaskFolder(int rows) {
  std::string folder = MakeTaskFolder();
  sqlite3* db = nullptr;
  bool ok = !folder.empty() && quarry::RecordStore::PrepareTaskDatabase(folder) &&
            sqlite3_open(quarry::RecordStore::ConnectionString(folder).c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO filename VALUES(?1, ?2, ?3)", -1, &insert,
                                nullptr) == SQLITE_OK;
  for (int row = 0; ok && row < rows; ++row) {
    const std::string name = FileName(folder, 0, row);
    const std::string url = Address(row);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, url.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, "a title", -1, SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
  }
  sqlite3_finalize(insert);
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  if (!ok) RemoveFolder(folder);
  return ok ? folder : std::string();
}

// Reading every recorded address once, as a runner does when its task starts.
void BM_ReadRecordedUrls(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  std::string folder = FilledTaskFolder(rows);
  if (folder.empty()) return state.SkipWithError("cannot fill the task database");
  std::unordered_set<std::string> urls;
  for (auto _ : state) {
    if (!quarry::RecordStore::ReadRecordedUrls(folder, urls) ||
        urls.size() != static_cast<std::size_t>(rows))
      state.SkipWithError("cannot read the addresses");
  }
  state.SetItemsProcessed(state.iterations() * rows);
  RemoveFolder(folder);
}

// Then one lookup per link in the set; half of the links are recorded.
void BM_LookUpInTheSet(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  std::unordered_set<std::string> urls;
  for (int row = 0; row < rows; ++row) urls.insert(Address(row));
  std::mutex lock;  // the runner looks up under a lock
  int link = 0;
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(lock);
    benchmark::DoNotOptimize(urls.count(Address(link++ % (2 * rows))));
  }
  state.SetItemsProcessed(state.iterations());
}

// The alternative: a query per link on a connection kept open (the table has no index).
void BM_LookUpPerQuery(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  std::string folder = FilledTaskFolder(rows);
  if (folder.empty()) return state.SkipWithError("cannot fill the task database");
  sqlite3* db = nullptr;
  sqlite3_stmt* query = nullptr;
  sqlite3_open_v2(quarry::RecordStore::ConnectionString(folder).c_str(), &db, SQLITE_OPEN_READONLY,
                  nullptr);
  sqlite3_prepare_v2(db, "SELECT 1 FROM filename WHERE url = ?1 LIMIT 1", -1, &query, nullptr);
  int link = 0;
  for (auto _ : state) {
    const std::string url = Address(link++ % (2 * rows));
    sqlite3_bind_text(query, 1, url.c_str(), -1, SQLITE_TRANSIENT);
    benchmark::DoNotOptimize(sqlite3_step(query));
    sqlite3_reset(query);
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
  RemoveFolder(folder);
}

// One page of the result browser from a task of `rows` files, its last page (the farthest the
// page's offset reaches): what the window reads when a task is selected or paged, on its own
// thread, under the record lock that keeps the page and the files told live apart.
void BM_ReadLastRecordPage(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  std::string folder = FilledTaskFolder(rows);
  if (folder.empty()) return state.SkipWithError("cannot fill the task database");
  const int last = (rows + quarry::kRecordsPerPage - 1) / quarry::kRecordsPerPage;
  for (auto _ : state) {
    quarry::RecordPage page;
    if (!quarry::RecordStore::ReadRecordPage(folder, last, page) || page.page != last)
      state.SkipWithError("cannot read the page");
  }
  state.SetItemsProcessed(state.iterations());
  RemoveFolder(folder);
}

BENCHMARK(BM_ReadRecordedUrls)->Arg(2000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLastRecordPage)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookUpInTheSet)->Arg(2000)->Arg(100000);
BENCHMARK(BM_LookUpPerQuery)->Arg(2000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PerRowConnection)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PerRowConnectionRollbackJournal)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_PerThreadWriter)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
