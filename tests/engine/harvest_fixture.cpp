// Helpers for the whole-task tests; see harvest_fixture.h.
#include "tests/engine/harvest_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace quarry::testing {

SearchServiceProcess::~SearchServiceProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
}

std::string SearchServiceProcess::ScriptPath() {
  std::filesystem::path here(__FILE__);
  return (here.parent_path().parent_path() / "servers" / "search_service.py").string();
}

bool SearchServiceProcess::Start(const std::vector<std::string>& options) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  std::vector<std::string> args = {"python3", ScriptPath(), "--port", "0"};
  args.insert(args.end(), options.begin(), options.end());
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp("python3", argv.data());
    ::_exit(127);
  }
  m_pid = pid;
  ::close(pipeFds[1]);
  std::string line;
  pollfd waiter{pipeFds[0], POLLIN, 0};
  // The interpreter starts slowly on a busy machine.
  while (line.find('\n') == std::string::npos && ::poll(&waiter, 1, 30000) > 0) {
    char chunk[64];
    ssize_t got = ::read(pipeFds[0], chunk, sizeof(chunk));
    if (got <= 0) break;
    line.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  m_port = std::atoi(line.c_str());
  return m_port > 0;
}

int HttpGet(int port, const std::string& target, std::string* body) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char chunk[8192];
  ssize_t got;
  while ((got = ::recv(fd, chunk, sizeof(chunk), 0)) > 0) answer.append(chunk, got);
  ::close(fd);
  std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos || answer.size() < 12) return -1;
  if (body) *body = answer.substr(end + 4);
  return std::atoi(answer.c_str() + 9);
}

std::string TargetOf(const std::string& url) {
  std::size_t slash = url.find('/', url.find("://") + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

}  // namespace quarry::testing
