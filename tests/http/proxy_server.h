// Real proxies for the proxy tests, from Debian: tinyproxy (HTTP, with optional Basic
// credentials and a filter that refuses hosts) and dante's danted (SOCKS5, refusing by rule the
// targets of one port, and with optional credentials). Each runs in the foreground on a free
// 127.0.0.1 port with its configuration and logs in a temporary folder that Stop() removes;
// both drop to nobody for their work when started by root.
//
// danted checks SOCKS5 credentials against the system's accounts, not against a list of its
// own: MakeSocksAccount makes a dedicated account for it, which takes root.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/child_server.h"
#include "tests/support/loopback.h"

extern char** environ;

namespace quarry::testing {

class ProxyServer {
public:
  enum class Kind { Http, Socks5 };
  static constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
  static constexpr const char* kDanted = "/usr/sbin/danted";

  explicit ProxyServer(Kind kind) : m_kind(kind) {}
  ~ProxyServer() { Stop(); }
  ProxyServer(const ProxyServer&) = delete;
  ProxyServer& operator=(const ProxyServer&) = delete;

  static bool Available(Kind kind) {
    return ::access(kind == Kind::Http ? kTinyproxy : kDanted, X_OK) == 0;
  }

  // The account whose name and password danted takes, this test's alone.
  static constexpr const char* kSocksUser = "quarry-socks-test";
  static constexpr const char* kSocksPassword = "qu4rry-s0cks";

  // Makes kSocksUser (a system account without home or shell) when it is missing and sets its
  // password. False, with why, when not root or when it could not be done.
  static bool MakeSocksAccount(std::string* error) {
    if (::geteuid() != 0)
      return Fail(error,
                  "danted checks SOCKS5 credentials against a system account, which "
                  "only root can make; run the tests as root to check them");
    // Another test process may be making it at the same moment: then it is there afterwards.
    if (::getpwnam(kSocksUser) == nullptr &&
        Run({"/usr/sbin/useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
             kSocksUser},
            "") != 0 &&
        ::getpwnam(kSocksUser) == nullptr)
      return Fail(error, std::string("useradd could not make the account ") + kSocksUser);
    // chpasswd gives up when another holds the password files' lock: tried a few times.
    const std::string line = std::string(kSocksUser) + ":" + kSocksPassword + "\n";
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (Run({"/usr/sbin/chpasswd"}, line) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return Fail(error, std::string("chpasswd could not set the password of ") + kSocksUser);
  }

  // The proxy asks for credentials: HTTP, the Basic `user` and `password`; SOCKS5, those of a
  // system account (MakeSocksAccount), whatever is passed. Call before Start.
  void RequireCredentials(const std::string& user, const std::string& password) {
    m_user = user;
    m_password = password;
  }
  // Targets on this port are refused by the proxy's rules (tinyproxy refuses every tunnel
  // then, as it only lists the ports it allows); call before Start.
  void RefusePort(int port) { m_refusedPort = port; }

  bool Start(std::string* error) {
    char pattern[] = "/tmp/quarry-proxy-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return Fail(error, "cannot make a temporary folder");
    m_folder = std::string(pattern) + "/";
    std::filesystem::permissions(m_folder, std::filesystem::perms::all);  // read by nobody
    for (int attempt = 0; attempt < 5; ++attempt) {
      m_port = FreeLoopbackPort();
      if (m_port <= 0) continue;
      WriteConfig();
      if (Launch() && WaitUntilListening()) return true;
      Halt();
    }
    return Fail(error, "the proxy did not start: " + ReadFile(m_folder + "stderr.log"));
  }

  void Stop() {
    Halt();
    if (!m_folder.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(m_folder, ignored);
      m_folder.clear();
    }
  }

  int Port() const { return m_port; }

private:
  static bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
  }

  // Runs `argv` (its program by path) with `input` on its standard input; its exit status, or
  // -1 when it did not run.
  static int Run(std::vector<const char*> argv, const std::string& input) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr,
                                      const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    // A short line fits the pipe's buffer: the write does not wait for the reader.
    const bool written = spawned == 0 && ::write(pipeFds[1], input.data(), input.size()) ==
                                             static_cast<ssize_t>(input.size());
    ::close(pipeFds[1]);
    if (spawned != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !written) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void WriteConfig() {
    std::ofstream conf(m_folder + "proxy.conf", std::ios::trunc);
    if (m_kind == Kind::Http) {
      conf << "User nobody\nGroup nogroup\nPort " << m_port << "\nListen 127.0.0.1\n"
           << "Timeout 30\nLogLevel Info\nMaxClients 32\n";
      if (!m_user.empty()) conf << "BasicAuth " << m_user << " " << m_password << "\n";
      // CONNECT is allowed to the listed ports only: port 1 serves nothing here.
      if (m_refusedPort != 0) conf << "ConnectPort 1\n";
      return;
    }
    // With credentials, the privileged root reads the password database to check them.
    conf << "logoutput: stderr\ninternal: 127.0.0.1 port = " << m_port << "\n"
         << "external: 127.0.0.1\nsocksmethod: " << (m_user.empty() ? "none" : "username")
         << "\nuser.privileged: root\n"
         << "user.unprivileged: nobody\n"
         << "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n";
    if (m_refusedPort != 0)
      conf << "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 port = " << m_refusedPort << " }\n";
    conf << "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n";
  }

  bool Launch() {
    const std::string conf = m_folder + "proxy.conf";
    const std::string output = m_folder + "stderr.log";
    const std::string pidFile = m_folder + "proxy.pid";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<const char*> argv;
    const char* binary = m_kind == Kind::Http ? kTinyproxy : kDanted;
    if (m_kind == Kind::Http) {
      argv = {binary, "-d", "-c", conf.c_str(), nullptr};
    } else {
      argv = {binary, "-f", conf.c_str(), "-p", pidFile.c_str(), nullptr};
    }
    pid_t pid = -1;
    const int result = ::posix_spawn(&pid, binary, &actions, nullptr,
                                     const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) return false;
    m_pid = pid;
    return true;
  }

  bool WaitUntilListening() { return WaitUntilChildListens(&m_pid, m_port); }
  void Halt() { HaltChild(&m_pid); }


  Kind m_kind;
  std::string m_folder;
  std::string m_user;
  std::string m_password;
  int m_refusedPort = 0;
  int m_port = 0;
  pid_t m_pid = -1;
};

}  // namespace quarry::testing
