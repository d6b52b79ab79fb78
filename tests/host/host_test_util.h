// Small helpers for the tests that drive modules through their exports.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/host_harness.h"

namespace tarvel::test {

// ParseState splits the probe's "key=value;..." state text.
inline std::map<std::string, std::string> ParseState(const std::string& text) {
  std::map<std::string, std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string pair = text.substr(start, end - start);
    size_t eq = pair.find('=');
    if (eq != std::string::npos) out[pair.substr(0, eq)] = pair.substr(eq + 1);
    start = end + 1;
  }
  return out;
}

// Command runs one command on an instance and returns its result.
inline int32_t Command(const LoadedModule& m, uint32_t id, const char* command) {
  HostCall call(id, command);
  return m->ExecutePluginCommand(call);
}

// State asks the probe module for an instance's state.
inline std::map<std::string, std::string> State(const LoadedModule& m, uint32_t id) {
  HostCall call(id, "PROBE-STATE");
  call.WithResult();
  EXPECT_EQ(m->ExecutePluginCommand(call), 0);
  return ParseState(call.Result());
}

// A fixture that loads the probe module.
class ProbeModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.ok()) << module.error(); }
  LoadedModule module{ProbeModulePath()};
};

class ProductModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.ok()) << module.error(); }
  LoadedModule module{ProductModulePath()};
};

}  // namespace tarvel::test
