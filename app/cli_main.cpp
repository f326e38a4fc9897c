// quarry-cli: Quarry's engine without a window, for terminals and scripts.
#include <cstdio>
#include <string>
#include <vector>

#include "app/common_options.h"
#include "platform/home.h"

namespace {

const char kUsage[] =
    "Usage: quarry-cli [--home DIR] [--web-host H] [--image-host H] COMMAND [OPTIONS]\n"
    "\n"
    "Harvests files of one kind from a web search engine, as the Quarry window does.\n"
    "\n"
    "Commands:\n"
    "  --help        show this text\n"
    "\n"
    "Common options (each also read from the environment variable in brackets):\n"
    "  --home DIR        the home folder with sys/ and DownData/ [QUARRY_HOME]\n"
    "  --web-host H      web-search host, may carry a port [QUARRY_WEB_HOST]\n"
    "  --image-host H    image-search host, may carry a port [QUARRY_IMAGE_HOST]\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  quarry::CommonOptions options;
  std::string error;
  if (!quarry::TakeCommonOptions(args, &options, &error)) {
    std::fprintf(stderr, "quarry-cli: %s\n", error.c_str());
    return 2;
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  std::fprintf(stderr, "quarry-cli: unknown command '%s'\n%s", args[0].c_str(), kUsage);
  return 2;
}
