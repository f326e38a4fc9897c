// The options both executables share: where the home folder is, which search hosts to use, the
// proxy to go through and, for tests and local stand-ins, an extra certificate authority to
// trust. Each has an
// environment variable that stands in when the option is not given. Also the live mode's pacing
// that tests shorten.
#pragma once

#include <string>
#include <vector>

#include "engine/live_road.h"
#include "engine/settings_file.h"
#include "engine/task_runner.h"
#include "http/proxy.h"

namespace quarry {

struct CommonOptions {
  std::string home;           // --home DIR or QUARRY_HOME; empty: the default home
  std::string webHost;        // --web-host H or QUARRY_WEB_HOST; empty: the default host
  std::string imageHost;      // --image-host H or QUARRY_IMAGE_HOST; empty: the default host
  std::string testAuthority;  // --test-authority FILE or QUARRY_TEST_AUTHORITY: a PEM authority
                              // trusted beside the system's (tests); empty: none
  std::string proxy;          // --proxy URL (checked); empty: the setting, else the environment
};

// Removes the shared options (both "--opt value" and "--opt=value") from `args` and fills
// `options`, falling back to the environment; a relative home is made absolute. False with a
// message when an option lacks its value.
// A test authority that is given is trusted from here on; false with a message when its file
// holds no certificate.
bool TakeCommonOptions(std::vector<std::string>& args, CommonOptions* options, std::string* error);

// The proxies of the tasks: --proxy when given, else the proxy setting of the INI file
// `profile`, else http_proxy, https_proxy and no_proxy. A setting or variable that does not
// read as a proxy is passed over, and why is added to `notes`.
ProxyChoice ProxiesOf(const CommonOptions& options, const std::string& profile,
                      std::vector<std::string>* notes);

// `path` made absolute against the current folder when it is relative: the task files keep the
// folders a task saves into, and a later run started elsewhere (the window, "resume") must find
// the same folder and database. An absolute path, or one whose current folder cannot be learnt,
// is returned as given.
std::string AbsolutePath(const std::string& path);

// The live pacing with QUARRY_TEST_PAGE_INTERVAL_MS and QUARRY_TEST_REFUSAL_PAUSE_MS (whole
// milliseconds) in place of the real interval and pause when they are set: the end-to-end tests
// see a refusal pause and end without waiting five minutes.
LivePacing LivePacingFromEnvironment();

}  // namespace quarry
