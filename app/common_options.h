// The options both executables share: where the home folder is and which search hosts to use.
// Each has an environment variable that stands in when the option is not given.
#pragma once

#include <string>
#include <vector>

namespace quarry {

struct CommonOptions {
  std::string home;       // --home DIR or QUARRY_HOME; empty: the default home
  std::string webHost;    // --web-host H or QUARRY_WEB_HOST; empty: the default host
  std::string imageHost;  // --image-host H or QUARRY_IMAGE_HOST; empty: the default host
};

// Removes the shared options (both "--opt value" and "--opt=value") from `args` and fills
// `options`, falling back to the environment. False with a message when an option lacks its
// value.
bool TakeCommonOptions(std::vector<std::string>& args, CommonOptions* options, std::string* error);

}  // namespace quarry
