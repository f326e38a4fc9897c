// A task's records for other programs: its kept files (name, address, title, size, SHA-256 and a
// picture's size) and its failures (address, title, reason, detail, attempts, last try), as CSV
// or JSON. CSV is one table whose first column says which a row is ("file" or "failure"), quoted
// as RFC 4180 asks, UTF-8 without a byte-order mark; JSON is {"files": [...], "failures": [...]}.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "records/file_facts.h"

namespace quarry {

enum class ExportFormat { Csv, Json };

// "csv" or "json"; false for anything else.
bool ParseExportFormat(const std::string& text, ExportFormat* format);

// The columns of the CSV table, in order.
inline constexpr const char* kExportCsvHeader =
    "type,file,url,title,size,sha256,width,height,reason,detail,attempts,last_try";

// Writes `files` and `failures` to `out` in `format`.
void WriteExport(ExportFormat format, const std::vector<FileEntry>& files,
                 const std::vector<FailureRow>& failures, std::ostream& out);

// Reads the records of the task folder `folder` and writes them; false, with the reason in
// `error`, when its database cannot be read.
bool ExportTaskRecords(const std::string& folder, ExportFormat format, std::ostream& out,
                       std::string* error);

}  // namespace quarry
