// The rule options and the two report commands of quarry-cli.
#include "app/cli_reports.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "engine/picture.h"
#include "engine/records_export.h"

namespace quarry::cli {
namespace {

constexpr int kUsageError = 2;

int Usage(const std::string& message) {
  std::fprintf(stderr, "quarry-cli: %s\nTry 'quarry-cli --help'.\n", message.c_str());
  return kUsageError;
}

// A size in bytes: digits, optionally followed by k or m (thousands, millions, as the window
// shows sizes).
bool ParseSize(const std::string& text, std::int64_t* bytes) {
  if (text.empty() || text.size() > 15) return false;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0) return false;
  std::int64_t value = std::strtoll(text.substr(0, digits).c_str(), nullptr, 10);
  const std::string unit = text.substr(digits);
  if (unit == "k" || unit == "K") {
    value *= 1000;
  } else if (unit == "m" || unit == "M") {
    value *= 1000 * 1000;
  } else if (!unit.empty()) {
    return false;
  }
  *bytes = value;
  return true;
}

bool ParseSide(const std::string& text, int* pixels) {
  std::int64_t value = 0;
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::strtoll(text.c_str(), nullptr, 10);
  *pixels = static_cast<int>(value);
  return true;
}

}  // namespace

std::string FolderArgument(const std::string& folder) {
  return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool IsRuleOption(const std::string& arg) {
  return arg == "--min-size" || arg == "--max-size" || arg == "--min-width" ||
         arg == "--min-height" || arg == "--formats";
}

bool TakeRuleFlag(const std::string& arg, FileRules* rules) {
  if (arg == "--dedupe-home") {
    rules->homeDuplicates = true;
  } else if (arg == "--near-duplicates") {
    rules->nearDuplicates = true;
  } else {
    return false;
  }
  return true;
}

bool TakeRuleOption(const std::string& arg, const std::string& value, FileRules* rules,
                    std::string* error) {
  bool read = false;
  if (arg == "--min-size") {
    read = ParseSize(value, &rules->minBytes);
  } else if (arg == "--max-size") {
    read = ParseSize(value, &rules->maxBytes);
  } else if (arg == "--min-width") {
    read = ParseSide(value, &rules->minWidth);
  } else if (arg == "--min-height") {
    read = ParseSide(value, &rules->minHeight);
  } else if (arg == "--formats") {
    std::uint32_t formats = 0;
    std::string bad;
    if (!ParsePictureFormats(value, &formats, &bad)) {
      *error = "--formats: '" + bad + "' is no picture format (jpg, png, gif, bmp, webp)";
      return false;
    }
    rules->formats = formats == kEveryPictureFormat ? 0 : formats;
    return true;
  }
  if (!read) {
    *error = arg + (arg == "--min-size" || arg == "--max-size"
                        ? " must be a size in bytes, such as 2000, 50k or 5m"
                        : " must be a number of pixels");
    return false;
  }
  return true;
}

int FailuresCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[1].empty()) return Usage("failures: give exactly one task folder");
  const std::string folder = FolderArgument(args[1]);
  std::vector<FailureRow> failures;
  RecordError error;
  if (!TaskFacts::ReadFailures(folder, &failures, &error)) {
    std::fprintf(stderr, "quarry-cli: cannot read the failures of %s: %s\n", folder.c_str(),
                 error.text.c_str());
    return 1;
  }
  std::array<int, kFailureReasonCount> counts{};
  int retryable = 0;
  for (const FailureRow& failure : failures) {
    ++counts[static_cast<std::size_t>(failure.reason)];
    if (IsRetryable(failure.reason)) ++retryable;
  }
  std::printf("%zu failures, %d worth a retry\n", failures.size(), retryable);
  for (int i = 0; i < kFailureReasonCount; ++i) {
    if (counts[static_cast<std::size_t>(i)] == 0) continue;
    const auto reason = static_cast<FailureReason>(i);
    std::printf("  %-12s %d%s\n", FailureReasonKey(reason), counts[static_cast<std::size_t>(i)],
                IsRetryable(reason) ? "  (retry)" : "");
  }
  for (const FailureRow& failure : failures) {
    std::printf("%s\t%d\t%s\t%s\n", FailureReasonKey(failure.reason), failure.attempts,
                failure.url.c_str(), failure.detail.c_str());
  }
  return 0;
}

int ExportCommand(const std::vector<std::string>& args) {
  std::string folder;
  std::string output;
  ExportFormat format = ExportFormat::Csv;
  bool formatGiven = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--format" || arg == "--output") {
      if (i + 1 >= args.size()) return Usage("export: option " + arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--output") {
        output = value;
      } else if (!ParseExportFormat(value, &format)) {
        return Usage("export: --format must be csv or json");
      } else {
        formatGiven = true;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("export: unknown option '" + arg + "'");
    } else if (folder.empty()) {
      folder = arg;
    } else {
      return Usage("export: give exactly one task folder");
    }
  }
  if (folder.empty()) return Usage("export: give a task folder");
  if (!formatGiven) return Usage("export: --format csv or --format json is required");
  std::string error;
  bool written = false;
  if (output.empty()) {
    written = ExportTaskRecords(FolderArgument(folder), format, std::cout, &error);
    std::cout.flush();
  } else {
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::fprintf(stderr, "quarry-cli: cannot write %s\n", output.c_str());
      return 1;
    }
    written = ExportTaskRecords(FolderArgument(folder), format, file, &error);
    file.close();
    written = written && !file.fail();
  }
  if (!written) {
    std::fprintf(stderr, "quarry-cli: cannot export the records of %s%s%s\n", folder.c_str(),
                 error.empty() ? "" : ": ", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace quarry::cli
