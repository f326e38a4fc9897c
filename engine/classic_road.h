// The classic road: result pages as the search engine's classic pages describe them, all queued
// at the start (the first at the front, pages 1..pageCount at the back). Every taken address is
// located, asked for its head and fetched as a page (its links queued at the front) or a file.
#pragma once

#include <string>
#include <string_view>

#include "engine/road.h"

namespace quarry {

class ClassicRoad : public Road {
public:
  static constexpr std::size_t kLinkPatternSize = 1024;  // the longest pattern is 1023 bytes

  SearchMode Mode() const override { return SearchMode::Classic; }
  void Bind(RoadHost& host, const SearchTask& task, const RoadStart& start) override;
  void Seed(RoadHost& host, const SearchTask& task, const RoadStart& start) override;
  // Any address of the search engine's own origin is a result page.
  bool IsResultPage(std::string_view url) const override;
  // The first page and pages 1..pageCount.
  std::int32_t ResultPagesPlanned(const SearchTask& task) const override {
    return RunnablePageCount(task) + 1;
  }
  void Fetch(int thread, const TakenUrl& taken, RecordWriter& records) override;
  // The image link pattern the road searches image result pages with; empty when too long.
  const std::string& LinkPattern() const { return m_linkPattern; }

private:
  // Fetches a page into memory and queues its links at the front.
  void FetchPage(int thread, const char* address, const ExchangeTarget& target);

  RoadHost* m_host = nullptr;
  FileKind m_kind = FileKind::Image;
  std::string m_linkPattern;  // the image link pattern, for the image link extractor
  // "scheme://host[:port]/" of the result pages; empty when the base has none.
  std::string m_searchOrigin;
};

}  // namespace quarry
