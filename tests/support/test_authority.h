// A certificate authority made at test time with the openssl command, and a server certificate
// it signs for "localhost" and 127.0.0.1 (and the partial wildcard "w*.quarry.test", which no
// client should take for "www.quarry.test"), all in a temporary folder removed at the end. The TLS
// tests and benchmarks serve with the server pair and trust the authority through the client's
// extra-authority option; a second TestAuthority stands for one the client does not trust.
// Header-only so that the benchmarks can use it without the test framework.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace quarry::testing {

class TestAuthority {
public:
  TestAuthority() = default;
  ~TestAuthority() {
    if (!m_folder.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(m_folder, ignored);
    }
  }
  TestAuthority(const TestAuthority&) = delete;
  TestAuthority& operator=(const TestAuthority&) = delete;

  // Makes the authority and the server pair; false with the reason in `error`.
  bool Make(std::string* error) {
    char pattern[] = "/tmp/quarry-ca-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return Fail(error, "cannot make a temporary folder");
    m_folder = std::string(pattern) + "/";
    const std::string curve = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    {
      std::ofstream ext(m_folder + "server.ext");
      ext << "subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:w*.quarry.test\nbasicConstraints=CA:"
             "FALSE\n"
          << "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n";
    }
    const bool made = Run("req -x509" + curve + " -keyout " + m_folder + "ca.key -out " +
                          Authority() + " -days 3 -subj '/CN=Quarry Test Authority'" +
                          " -addext basicConstraints=critical,CA:TRUE" +
                          " -addext keyUsage=critical,keyCertSign,cRLSign") &&
                      Run("req" + curve + " -keyout " + Key() + " -out " + m_folder +
                          "server.csr -subj /CN=localhost") &&
                      Run("x509 -req -in " + m_folder + "server.csr -CA " + Authority() +
                          " -CAkey " + m_folder + "ca.key -CAcreateserial -out " + Certificate() +
                          " -days 3 -extfile " + m_folder + "server.ext");
    return made || Fail(error, "openssl could not make the test certificates");
  }

  std::string Authority() const { return m_folder + "ca.pem"; }
  std::string Certificate() const { return m_folder + "server.pem"; }
  std::string Key() const { return m_folder + "server.key"; }

private:
  static bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
  }

  static bool Run(const std::string& arguments) {
    return std::system(("openssl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
  }

  std::string m_folder;
};

}  // namespace quarry::testing
