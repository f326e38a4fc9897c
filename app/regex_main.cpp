// quarry-regex: a small command-line probe of Quarry's regular-expression engine.
//   quarry-regex [--flags N] [--start N] [--all] [--dump] [--max-steps N] PATTERN [SUBJECT]
// The subject is read whole, as bytes, from standard input when it is not given. Each match is
// one line of decimal positions: start and end of group 0, then of group 1, and so on (-1 -1 for
// a group that took no part); "no match" when there is none. --all searches again from the end
// of each match, stepping one byte past an empty one (leftwards in right-to-left mode); --dump
// prints the element tree first. --max-steps bounds the work of all the searches together: when
// they use it up, the matches found so far are followed by "step limit reached". Bad arguments
// print the usage; the exit status is 0 otherwise.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "harvest/regex/regex_engine.h"

namespace {

void PrintUsage() {
  std::fputs(
      "usage: quarry-regex [--flags N] [--start N] [--all] [--dump] [--max-steps N] PATTERN "
      "[SUBJECT]\n",
      stderr);
}

bool ReadSteps(const char* text, std::int64_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 0);
  if (end == text || *end != '\0' || errno != 0 || parsed < 0) return false;
  value = parsed;
  return true;
}

bool ReadNumber(const char* text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || parsed < -2147483647L || parsed > 2147483647L) return false;
  value = static_cast<int>(parsed);
  return true;
}

void PrintMatch(const quarry::MatchResult& result) {
  std::string line;
  for (int group = 0; group <= result.MaxGroupNumber(); ++group) {
    if (group > 0) line += ' ';
    line += std::to_string(result.Start(group)) + ' ' + std::to_string(result.End(group));
  }
  std::puts(line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  int flags = 0;
  int start = -1;
  bool all = false;
  bool dump = false;
  std::int64_t maxSteps = -1;  // unlimited
  const char* pattern = nullptr;
  const char* subjectArgument = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--flags") == 0 && i + 1 < argc) {
      if (!ReadNumber(argv[++i], flags)) {
        PrintUsage();
        return 2;
      }
    } else if (std::strcmp(argument, "--start") == 0 && i + 1 < argc) {
      if (!ReadNumber(argv[++i], start)) {
        PrintUsage();
        return 2;
      }
    } else if (std::strcmp(argument, "--max-steps") == 0 && i + 1 < argc) {
      if (!ReadSteps(argv[++i], maxSteps)) {
        PrintUsage();
        return 2;
      }
    } else if (std::strcmp(argument, "--all") == 0) {
      all = true;
    } else if (std::strcmp(argument, "--dump") == 0) {
      dump = true;
    } else if (pattern == nullptr) {
      pattern = argument;
    } else if (subjectArgument == nullptr) {
      subjectArgument = argument;
    } else {
      PrintUsage();
      return 2;
    }
  }
  if (pattern == nullptr) {
    PrintUsage();
    return 2;
  }
  std::string subject;
  if (subjectArgument != nullptr) {
    subject = subjectArgument;
  } else {
    std::cin >> std::noskipws;
    subject.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  const int length = static_cast<int>(subject.size());

  quarry::RegexEngine engine(pattern, flags);
  if (dump) std::puts(engine.Dump().c_str());
  if (start > length) start = length;  // a start past the end would be outside the contract
  const bool rightToLeft = (flags & quarry::kFlagRightToLeft) != 0;
  quarry::MatchContext context;
  // The searches share the budget: each may use what the earlier ones left.
  const auto search = [&](int from) {
    context.m_stepLimit = maxSteps;
    quarry::MatchResult found = engine.Match(subject.data(), length, from, &context);
    if (maxSteps >= 0) maxSteps -= context.m_steps < maxSteps ? context.m_steps : maxSteps;
    return found;
  };
  const auto reportLimit = [&] {
    if (context.Halt() == quarry::SearchHalt::StepLimit) std::puts("step limit reached");
    return 0;
  };
  int from = start >= 0 ? start : (rightToLeft ? length : 0);
  quarry::MatchResult result = search(from);
  if (!result.IsMatched()) {
    if (context.Halted()) return reportLimit();
    std::puts("no match");
    return 0;
  }
  for (;;) {
    PrintMatch(result);
    if (!all) break;
    // A recursion into a look-behind group can end a match before the place its search began;
    // each search must still start further on than the one before, or --all would never end.
    int next;
    if (rightToLeft) {
      next = result.Start() == result.End() ? result.Start() - 1 : result.Start();
      if (next >= from) next = from - 1;
      if (next < 0) break;
    } else {
      next = result.Start() == result.End() ? result.End() + 1 : result.End();
      if (next <= from) next = from + 1;
      if (next > length) break;
    }
    from = next;
    result = search(from);
    if (!result.IsMatched()) return reportLimit();
  }
  return 0;
}
