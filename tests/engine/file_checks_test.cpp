// What a task keeps: the filters on both sides of each bound (early where the head or the
// first bytes tell), the contents index, and the task database's facts, failures and options
// as the export writes them.
#include "engine/file_checks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "engine/records_export.h"
#include "records/group_rows.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using testing::Bytes;

struct Fed {
  bool keptWhole = false;   // passed every check
  bool refusedEarly = false;  // refused before its last byte
  FailureReason reason = FailureReason::Filtered;
};

// Passes `body` through an inspector as a download would: its announced length, then 1000
// bytes at a time.
Fed Feed(const FileRules& rules, bool pictures, const Bytes& body, bool announce = true) {
  FileInspector inspector(rules, pictures);
  Fed fed;
  if (announce && !inspector.CheckLength(static_cast<std::int64_t>(body.size()))) {
    fed.refusedEarly = true;
    fed.reason = inspector.Refused().reason;
    return fed;
  }
  for (std::size_t at = 0; at < body.size(); at += 1000) {
    const std::size_t size = std::min<std::size_t>(1000, body.size() - at);
    if (!inspector.See(reinterpret_cast<const char*>(body.data() + at), size)) {
      fed.refusedEarly = at + size < body.size();
      fed.reason = inspector.Refused().reason;
      return fed;
    }
  }
  fed.keptWhole = inspector.Finish();
  if (!fed.keptWhole) fed.reason = inspector.Refused().reason;
  return fed;
}

TEST(FileChecksTest, FiltersOnBothSidesOfEachBound) {
  const Bytes jpeg = testing::EncodeJpeg(testing::DrawScene(1, 300, 200), 90);
  const Bytes png = testing::EncodePng(testing::DrawScene(2, 100, 100));
  const Bytes text(5000, 'x');
  const auto size = static_cast<std::int64_t>(jpeg.size());
  ASSERT_GT(jpeg.size(), 3000u);  // refusals by the header come before the last chunk

  struct Case {
    const char* name;
    FileRules rules;
    const Bytes* body;
    bool pictures;
    bool kept;
    bool early;  // refused before the body was whole
    FailureReason reason;
  };
  const auto with = [](auto change) {
    FileRules rules;
    change(rules);
    return rules;
  };
  const FailureReason kept = FailureReason::Filtered;  // unused when kept
  const Case cases[] = {
      {"defaults", {}, &jpeg, true, true, false, kept},
      {"at the minimum", with([&](FileRules& r) { r.minBytes = size; }), &jpeg, true, true, false,
       kept},
      {"under the minimum", with([&](FileRules& r) { r.minBytes = size + 1; }), &jpeg, true, false,
       true, FailureReason::TooSmall},
      {"at the maximum", with([&](FileRules& r) { r.maxBytes = size; }), &jpeg, true, true, false,
       kept},
      {"over the maximum", with([&](FileRules& r) { r.maxBytes = size - 1; }), &jpeg, true, false,
       true, FailureReason::Filtered},
      {"as wide as asked", with([](FileRules& r) { r.minWidth = 300; }), &jpeg, true, true, false,
       kept},
      {"narrower", with([](FileRules& r) { r.minWidth = 301; }), &jpeg, true, false, true,
       FailureReason::Filtered},
      {"as high as asked", with([](FileRules& r) { r.minHeight = 200; }), &jpeg, true, true, false,
       kept},
      {"lower", with([](FileRules& r) { r.minHeight = 201; }), &jpeg, true, false, true,
       FailureReason::Filtered},
      {"a format kept",
       with([](FileRules& r) { r.formats = PictureFormatBit(PictureFormat::Jpeg); }), &jpeg, true,
       true, false, kept},
      {"a format not kept",
       with([](FileRules& r) { r.formats = PictureFormatBit(PictureFormat::Jpeg); }), &png, true,
       false, true, FailureReason::Filtered},
      {"no picture where pictures are asked for",
       with([](FileRules& r) { r.minWidth = 10; }), &text, true, false, false,
       FailureReason::Filtered},
      {"no picture and no picture rule", {}, &text, true, true, false, kept},
      {"documents ignore the picture rules", with([](FileRules& r) { r.minWidth = 5000; }), &png,
       false, true, false, kept},
  };
  for (const Case& c : cases) {
    const Fed fed = Feed(c.rules, c.pictures, *c.body);
    EXPECT_EQ(fed.keptWhole, c.kept) << c.name;
    if (c.kept) continue;
    EXPECT_EQ(fed.refusedEarly, c.early) << c.name;
    EXPECT_EQ(fed.reason, c.reason) << c.name;
  }
  // A body of no announced length is never fetched; one over the maximum is cut off as it
  // comes when its head did not say.
  FileInspector unknown(FileRules{}, true);
  EXPECT_FALSE(unknown.CheckLength(0));
  EXPECT_EQ(unknown.Refused().reason, FailureReason::TooSmall);
  const Fed cut = Feed(with([&](FileRules& r) { r.maxBytes = 2500; }), true, jpeg, false);
  EXPECT_TRUE(cut.refusedEarly);
  EXPECT_EQ(cut.reason, FailureReason::Filtered);

  // What a kept picture is: its size in bytes and pixels and its SHA-256, the same after a
  // restart from the first byte.
  FileInspector inspector(FileRules{}, true);
  inspector.See(reinterpret_cast<const char*>(png.data()), 100);
  inspector.Restart();
  inspector.See(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  ASSERT_TRUE(inspector.Finish());
  EXPECT_EQ(inspector.Facts().size, size);
  EXPECT_EQ(inspector.Facts().width, 300);
  EXPECT_EQ(inspector.Facts().height, 200);
  FileInspector again(FileRules{}, false);
  again.See(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  ASSERT_TRUE(again.Finish());
  EXPECT_EQ(again.Facts().sha256, inspector.Facts().sha256);
  EXPECT_EQ(inspector.Facts().sha256.size(), 64u);

  // The near-duplicate hash of a received file is read from its open ".part", from its start.
  testing::TempFolder folder;
  const std::string part = folder.Path() + "p.jpg.part";
  std::FILE* out = std::fopen(part.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(jpeg.data(), 1, jpeg.size(), out);
  std::fclose(out);
  const int fd = ::open(part.c_str(), O_RDWR | O_APPEND);
  std::uint64_t fromFile = 0;
  std::uint64_t fromBytes = 0;
  EXPECT_TRUE(PictureHashOfFile(fd, size, &fromFile));
  EXPECT_TRUE(PictureDifferenceHash(jpeg.data(), jpeg.size(), &fromBytes));
  EXPECT_EQ(fromFile, fromBytes);
  EXPECT_FALSE(PictureHashOfFile(fd, size + 1, &fromFile));  // shorter than it should be
  ::close(fd);
}

TEST(FileChecksTest, ContentIndexClaimsEachContentOnce) {
  ContentIndex index;
  FileEntry kept;
  kept.record.fileName = "/t/kept.jpg";
  kept.hasFacts = true;
  kept.facts.sha256 = "aa";
  kept.facts.dhash = 0xF0F0F0F0F0F0F0F0u;
  kept.facts.hasDhash = true;
  index.Load({kept});
  EXPECT_EQ(index.Claim("aa", "/t/new.jpg"), "/t/kept.jpg");
  EXPECT_EQ(index.Claim("bb", "/t/b.jpg"), "");
  EXPECT_EQ(index.Claim("bb", "/t/b2.jpg"), "/t/b.jpg");  // a second worker, same content
  index.Named("bb", "/t/b(1).jpg");
  EXPECT_EQ(index.Claim("bb", "/t/b3.jpg"), "/t/b(1).jpg");
  index.Release("bb", "/t/b(1).jpg");  // lost on its way: free again
  EXPECT_EQ(index.Claim("bb", "/t/b4.jpg"), "");
  // Near: within the distance of the kept picture, or of one claimed meanwhile.
  EXPECT_EQ(index.ClaimNear(kept.facts.dhash ^ 0x1Fu, "/t/c.jpg"), "/t/kept.jpg");
  EXPECT_EQ(index.ClaimNear(~kept.facts.dhash, "/t/d.jpg"), "");
  EXPECT_EQ(index.ClaimNear(~kept.facts.dhash ^ 1u, "/t/e.jpg"), "/t/d.jpg");
}

// A CSV table of rows of fields, as RFC 4180 quotes them.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      rows.emplace_back(1);
    } else {
      field += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

TEST(FileChecksTest, TheDatabaseKeepsFactsFailuresAndOptionsAndTheExportRoundTrips) {
  testing::TempFolder folder;
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(folder.Path()));
  const std::string title = "标题, \"引号\"\n第二行";
  FileFacts facts;
  facts.size = 1234;
  facts.sha256 = std::string(64, 'a');
  facts.width = 640;
  facts.height = 480;
  FailureRow failure{"http://h/x.jpg", "x", FailureReason::CutShort, "只收到 1 KB", 1,
                     "2026-12-09 10:00:00"};
  FailureRow later = failure;
  later.reason = FailureReason::TimeLimit;
  FailureRow healed{"http://h/y.jpg", "", FailureReason::ServerError, "状态 503", 1, "t"};
  GroupRows rows;
  ASSERT_TRUE(rows.Open(folder.Path()));
  ASSERT_TRUE(rows.MakeFinal({.failures = {failure, healed}}, {}));
  ASSERT_TRUE(rows.MakeFinal({.failures = {later}}, {}));  // met again: one more attempt
  // The healed address arrives: its facts go in with its intent, its failure goes in the same
  // transaction as its row, under its final (numbered) name. A second file of the same content
  // is refused at its intent.
  const Record planned{folder.Path() + "y.jpg", "http://h/y.jpg", title};
  const Record twin{folder.Path() + "z.jpg", "http://h/z.jpg", ""};
  std::vector<long long> ids;
  std::vector<std::string> repeats;
  const std::vector<FileFacts> twoFacts = {facts, facts};
  ASSERT_TRUE(rows.WriteIntents({planned, twin}, &ids, nullptr, &twoFacts, &repeats));
  EXPECT_EQ(repeats, (std::vector<std::string>{"", planned.fileName}));
  const Record named{folder.Path() + "y(1).jpg", planned.url, title};
  ASSERT_TRUE(rows.MakeFinal({.rows = {named}, .facts = {facts}}, ids));
  RecordStore::AddRecord(folder.Path(), folder.Path() + "old.doc", "http://h/old.doc", "");

  std::vector<FailureRow> failures;
  ASSERT_TRUE(TaskFacts::ReadFailures(folder.Path(), &failures));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].reason, FailureReason::TimeLimit);
  EXPECT_EQ(failures[0].attempts, 2);
  std::vector<FileEntry> files;
  ASSERT_TRUE(TaskFacts::ReadFiles(folder.Path(), &files));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[0].hasFacts);
  EXPECT_FALSE(files[1].hasFacts);  // a row written before facts were kept

  // Options: per task key, replaced whole, read back into the same rules.
  FileRules rules;
  rules.minBytes = 0;
  rules.maxBytes = 5000000;
  rules.minWidth = 200;
  rules.formats = PictureFormatBit(PictureFormat::Png);
  rules.nearDuplicates = true;
  ASSERT_TRUE(TaskFacts::WriteOptions(folder.Path(), "0:猫", rules.ToOptions()));
  ASSERT_TRUE(TaskFacts::WriteOptions(folder.Path(), "1:狗", FileRules{}.ToOptions()));
  std::map<std::string, std::string> options;
  ASSERT_TRUE(TaskFacts::ReadOptions(folder.Path(), "0:猫", &options));
  EXPECT_EQ(FileRules::FromOptions(options), rules);
  ASSERT_TRUE(TaskFacts::ReadOptions(folder.Path(), "2:none", &options));
  EXPECT_EQ(FileRules::FromOptions(options), FileRules{});

  std::ostringstream json;
  ASSERT_TRUE(ExportTaskRecords(folder.Path(), ExportFormat::Json, json, nullptr));
  const nlohmann::json read = nlohmann::json::parse(json.str());
  ASSERT_EQ(read["files"].size(), 2u);
  EXPECT_EQ(read["files"][0]["title"], title);
  EXPECT_EQ(read["files"][0]["sha256"], facts.sha256);
  EXPECT_EQ(read["files"][0]["width"], 640);
  EXPECT_TRUE(read["files"][1]["size"].is_null());
  EXPECT_EQ(read["failures"][0]["reason"], "time_limit");
  EXPECT_EQ(read["failures"][0]["attempts"], 2);

  std::ostringstream csv;
  ASSERT_TRUE(ExportTaskRecords(folder.Path(), ExportFormat::Csv, csv, nullptr));
  const auto table = ParseCsv(csv.str());
  ASSERT_EQ(table.size(), 4u);
  for (const auto& row : table) EXPECT_EQ(row.size(), 12u);
  EXPECT_EQ(table[1], (std::vector<std::string>{"file", named.fileName, "http://h/y.jpg",
                                                title, "1234", facts.sha256, "640", "480", "",
                                                "", "", ""}));
  EXPECT_EQ(table[3], (std::vector<std::string>{"failure", "", "http://h/x.jpg", "x", "", "", "",
                                                "", "time_limit", "只收到 1 KB", "2",
                                                "2026-12-09 10:00:00"}));
}

}  // namespace
}  // namespace quarry
