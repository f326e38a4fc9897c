// quarry-cli's options of what a task keeps, and its reports of a task folder: the failures and
// the export of the records.
#pragma once

#include <string>
#include <vector>

#include "records/file_facts.h"

namespace quarry::cli {

// The options that take a value: --min-size, --max-size, --min-width, --min-height, --formats.
bool IsRuleOption(const std::string& arg);
// The flags: --dedupe-home, --near-duplicates.
bool TakeRuleFlag(const std::string& arg, FileRules* rules);
// Reads `value` of rule option `arg` into `rules`; false with a message for a bad value.
bool TakeRuleOption(const std::string& arg, const std::string& value, FileRules* rules,
                    std::string* error);

// "failures FOLDER": counts per reason, then one line a failure. The exit status.
int FailuresCommand(const std::vector<std::string>& args);
// "export FOLDER --format csv|json [--output FILE]". The exit status.
int ExportCommand(const std::vector<std::string>& args);

// `folder` with its trailing '/'.
std::string FolderArgument(const std::string& folder);

}  // namespace quarry::cli
