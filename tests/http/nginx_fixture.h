// Fixture for tests against a real web server: one private nginx for the whole suite, serving
// a 50 MB file, a page, a document and the same page under /nosniff/. Tests skip with a message
// when nginx is not installed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/http/nginx_server.h"

namespace quarry::testing {

class NginxTest : public ::testing::Test {
protected:
  static constexpr std::size_t kBigSize = 50u * 1024 * 1024;

  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  // The bytes of the served file `name` (read from the served folder).
  static std::string Served(const std::string& name);

  static std::unique_ptr<NginxServer> s_server;
  static std::string s_error;  // why the server is not there
};

}  // namespace quarry::testing
