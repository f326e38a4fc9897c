// Reads the options both executables share out of their arguments (an option beats its
// environment variable), makes a relative home absolute, trusts the test authority they name
// before any connection is made, and reads the live mode's pacing that end-to-end tests shorten
// through the environment.
#include "app/common_options.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "http/tls_channel.h"

namespace quarry {

bool TakeCommonOptions(std::vector<std::string>& args, CommonOptions* options, std::string* error) {
  struct Known {
    const char* name;
    const char* environment;
    std::string CommonOptions::*field;
  };
  static const Known known[] = {
      {"--home", "QUARRY_HOME", &CommonOptions::home},
      {"--web-host", "QUARRY_WEB_HOST", &CommonOptions::webHost},
      {"--image-host", "QUARRY_IMAGE_HOST", &CommonOptions::imageHost},
      {"--test-authority", "QUARRY_TEST_AUTHORITY", &CommonOptions::testAuthority},
  };
  for (const Known& option : known) {
    if (const char* value = std::getenv(option.environment)) options->*option.field = value;
  }
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool taken = false;
    for (const Known& option : known) {
      std::string name = option.name;
      if (arg == name) {
        if (i + 1 >= args.size()) {
          if (error) *error = "option " + name + " needs a value";
          return false;
        }
        options->*option.field = args[++i];
        taken = true;
      } else if (arg.rfind(name + "=", 0) == 0) {
        options->*option.field = arg.substr(name.size() + 1);
        taken = true;
      }
      if (taken) break;
    }
    if (!taken) rest.push_back(arg);
  }
  args = std::move(rest);
  if (!options->home.empty()) options->home = AbsolutePath(options->home);
  std::string problem;
  if (!options->testAuthority.empty() && !SetTlsExtraAuthority(options->testAuthority, &problem)) {
    if (error) *error = "--test-authority: " + problem;
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  const std::filesystem::path given(path);
  if (path.empty() || given.is_absolute()) return path;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return path;
  return (current / given).string();
}

LivePacing LivePacingFromEnvironment() {
  LivePacing pacing;
  if (const char* value = std::getenv("QUARRY_TEST_PAGE_INTERVAL_MS"))
    pacing.pageInterval = std::chrono::milliseconds(std::atoi(value));
  if (const char* value = std::getenv("QUARRY_TEST_REFUSAL_PAUSE_MS"))
    pacing.refusalPause = std::chrono::milliseconds(std::atoi(value));
  return pacing;
}

}  // namespace quarry
