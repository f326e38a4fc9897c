// A private nginx for tests and benchmarks: Debian's /usr/sbin/nginx in the foreground, one
// process, on a free 127.0.0.1 port, with its configuration, pid file, logs, temporary paths
// and served files all inside a temporary folder that Stop() removes. Files are placed under
// Root(); a location /nosniff/ adds the X-Content-Type-Options header and a charset to pages.
// A caller may add configuration lines of its own to the server block before Start, and have
// the same files served over TLS on a second port.
// Header-only so that the benchmarks can use it without the test framework.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/child_server.h"
#include "tests/support/loopback.h"

extern char** environ;

namespace quarry::testing {

class NginxServer {
public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";

  NginxServer() = default;
  ~NginxServer() { Stop(); }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  static bool Available() { return ::access(kBinary, X_OK) == 0; }

  // Lines placed inside the server block (locations of the caller's own); call before Start.
  void SetExtraServerConfig(const std::string& lines) { m_extra = lines; }
  // Also serves the same folder over TLS on a second port with this certificate and key (PEM
  // files); call before Start.
  void EnableTls(const std::string& certificate, const std::string& key) {
    m_certificate = certificate;
    m_key = key;
  }

  // Makes the folder and starts nginx; true once it accepts connections. On failure `error`
  // says why (the error log's content when nginx itself refused to start).
  bool Start(std::string* error) {
    char pattern[] = "/tmp/quarry-nginx-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return Fail(error, "cannot make a temporary folder");
    m_prefix = std::string(pattern) + "/";
    std::filesystem::create_directories(m_prefix + "www/nosniff");
    std::filesystem::create_directories(m_prefix + "tmp");
    // A port found free may be taken before nginx binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
      m_port = FreeLoopbackPort();
      if (m_port <= 0) continue;
      m_tlsPort = m_certificate.empty() ? 0 : FreeLoopbackPort();
      if (m_tlsPort < 0 || m_tlsPort == m_port) continue;
      WriteConfig();
      if (Launch() && WaitUntilListening()) return true;
      Halt();
    }
    return Fail(error, "nginx did not start: " + ReadFile(m_prefix + "error.log"));
  }

  // Ends nginx and removes the folder with everything in it.
  void Stop() {
    Halt();
    if (!m_prefix.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(m_prefix, ignored);
      m_prefix.clear();
    }
  }

  int Port() const { return m_port; }
  // The TLS port, 0 when EnableTls was not called.
  int TlsPort() const { return m_tlsPort; }
  // The served folder, ending with '/'.
  std::string Root() const { return m_prefix + "www/"; }

private:
  static bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
  }

  void WriteConfig() {
    const std::string& p = m_prefix;
    std::ofstream conf(p + "nginx.conf", std::ios::trunc);
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "pid " << p << "nginx.pid;\nerror_log " << p << "error.log warn;\n"
         << "events { worker_connections 1024; }\n"
         << "http {\n  access_log off;\n"
         << "  client_body_temp_path " << p << "tmp/body;\n  proxy_temp_path " << p
         << "tmp/proxy;\n"
         << "  fastcgi_temp_path " << p << "tmp/fastcgi;\n  uwsgi_temp_path " << p << "tmp/uwsgi;\n"
         << "  scgi_temp_path " << p << "tmp/scgi;\n"
         << "  types { text/html html; text/plain txt; application/msword doc; application/pdf "
            "pdf; }\n"
         << "  default_type application/octet-stream;\n"
         << "  sendfile on;\n  keepalive_timeout 5;\n"
         << "  server {\n    listen 127.0.0.1:" << m_port << ";\n    root " << p << "www;\n"
         << TlsConfig()
         << "    location /nosniff/ { add_header X-Content-Type-Options nosniff; charset utf-8; }\n"
         << m_extra << "  }\n}\n";
  }

  std::string TlsConfig() const {
    if (m_tlsPort == 0) return "";
    return "    listen 127.0.0.1:" + std::to_string(m_tlsPort) + " ssl;\n    ssl_certificate " +
           m_certificate + ";\n    ssl_certificate_key " + m_key + ";\n";
  }

  bool Launch() {
    std::string conf = m_prefix + "nginx.conf";
    std::string log = m_prefix + "error.log";
    std::string output = m_prefix + "stderr.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const char* argv[] = {kBinary,      "-p", m_prefix.c_str(), "-c",
                          conf.c_str(), "-e", log.c_str(),      nullptr};
    pid_t pid = -1;
    int result =
        ::posix_spawn(&pid, kBinary, &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) return false;
    m_pid = pid;
    return true;
  }

  bool WaitUntilListening() { return WaitUntilChildListens(&m_pid, m_port); }
  void Halt() { HaltChild(&m_pid); }


  std::string m_prefix;
  std::string m_extra;
  std::string m_certificate;
  std::string m_key;
  int m_port = 0;
  int m_tlsPort = 0;
  pid_t m_pid = -1;
};

}  // namespace quarry::testing
