// Reads the options both executables share out of their arguments (an option beats its
// environment variable), makes a relative home absolute, checks the proxy address, chooses the
// tasks' proxies, trusts the test authority they name
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
      // The conventional proxy variables stand in for it, later (ProxiesOf).
      {"--proxy", nullptr, &CommonOptions::proxy},
  };
  for (const Known& option : known) {
    if (option.environment == nullptr) continue;
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
  ProxySetting proxy;
  if (!options->proxy.empty() && !ParseProxyUrl(options->proxy, &proxy, &problem)) {
    if (error) *error = "--proxy: " + problem;
    return false;
  }
  if (!options->testAuthority.empty() && !SetTlsExtraAuthority(options->testAuthority, &problem)) {
    if (error) *error = "--test-authority: " + problem;
    return false;
  }
  return true;
}

ProxyChoice ProxiesOf(const CommonOptions& options, const std::string& profile,
                      std::vector<std::string>* notes) {
  ProxyChoice choice;
  std::string setting;
  std::string problem;
  if (!options.proxy.empty()) {
    choice.fromEnvironment = !ParseProxyUrl(options.proxy, &choice.setting, &problem);
  } else if (ReadSettingValue(profile, kProxyKey, &setting)) {
    choice.fromEnvironment = !ParseProxyUrl(setting, &choice.setting, &problem);
    if (choice.fromEnvironment && notes)
      notes->push_back("the proxy setting is passed over: " + problem);
  }
  if (!choice.fromEnvironment) return choice;
  return ProxyChoiceFromEnvironment(
      [](const char* name) -> const char* { return std::getenv(name); }, notes);
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
