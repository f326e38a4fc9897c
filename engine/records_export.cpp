// The CSV and JSON writers of a task's records. Values go out as stored; a file without facts
// (saved before they were kept) leaves its size, hash and picture size empty in CSV and null
// in JSON.
#include "engine/records_export.h"

#include <nlohmann/json.hpp>

namespace quarry {
namespace {

// A CSV field: quoted when it holds a comma, a quote or a line break, its quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out << ',';
    out << CsvField(fields[i]);
  }
  out << "\r\n";
}

}  // namespace

bool ParseExportFormat(const std::string& text, ExportFormat* format) {
  if (text == "csv") {
    *format = ExportFormat::Csv;
  } else if (text == "json") {
    *format = ExportFormat::Json;
  } else {
    return false;
  }
  return true;
}

void WriteExport(ExportFormat format, const std::vector<FileEntry>& files,
                 const std::vector<FailureRow>& failures, std::ostream& out) {
  if (format == ExportFormat::Csv) {
    out << kExportCsvHeader << "\r\n";
    for (const FileEntry& file : files) {
      const FileFacts& facts = file.facts;
      const auto number = [&](long long value) {
        return file.hasFacts ? std::to_string(value) : std::string();
      };
      WriteCsvRow(out, {"file", file.record.fileName, file.record.url, file.record.title,
                        number(facts.size), facts.sha256, number(facts.width),
                        number(facts.height), "", "", "", ""});
    }
    for (const FailureRow& failure : failures) {
      WriteCsvRow(out, {"failure", "", failure.url, failure.title, "", "", "", "",
                        FailureReasonKey(failure.reason), failure.detail,
                        std::to_string(failure.attempts), failure.lastTry});
    }
    return;
  }
  nlohmann::json document = {{"files", nlohmann::json::array()},
                             {"failures", nlohmann::json::array()}};
  for (const FileEntry& file : files) {
    nlohmann::json row = {{"file", file.record.fileName},
                          {"url", file.record.url},
                          {"title", file.record.title},
                          {"size", nullptr},
                          {"sha256", nullptr},
                          {"width", nullptr},
                          {"height", nullptr}};
    if (file.hasFacts) {
      row["size"] = file.facts.size;
      row["sha256"] = file.facts.sha256;
      row["width"] = file.facts.width;
      row["height"] = file.facts.height;
    }
    document["files"].push_back(std::move(row));
  }
  for (const FailureRow& failure : failures) {
    document["failures"].push_back({{"url", failure.url},
                                    {"title", failure.title},
                                    {"reason", FailureReasonKey(failure.reason)},
                                    {"detail", failure.detail},
                                    {"attempts", failure.attempts},
                                    {"last_try", failure.lastTry}});
  }
  // A title from a page in another encoding may not be UTF-8: its broken sequences become
  // U+FFFD rather than failing the export.
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

bool ExportTaskRecords(const std::string& folder, ExportFormat format, std::ostream& out,
                       std::string* error) {
  std::vector<FileEntry> files;
  std::vector<FailureRow> failures;
  RecordError why;
  if (!TaskFacts::ReadFiles(folder, &files, &why) ||
      !TaskFacts::ReadFailures(folder, &failures, &why)) {
    if (error != nullptr) *error = why.text;
    return false;
  }
  WriteExport(format, files, failures, out);
  return static_cast<bool>(out);
}

}  // namespace quarry
