// Running another program from a test, as a user would from a shell: its
// standard input comes from a string, its standard output and error are
// collected, and the wait is bounded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvel::test {

struct ProgramResult {
  int exit_code = -1;  // -1 when the program could not be started or was killed
  bool timed_out = false;
  std::string out;
  std::string err;
};

// RunProgram starts program with args (each passed as one argument), writes
// input to its standard input and closes it, and waits at most timeout_ms
// for it to end; a program still running then is killed (timed_out).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = {}, uint32_t timeout_ms = 60000);

// ProgramBesideTests returns the path of a program built beside the test
// programs (".exe" is added on Windows).
std::string ProgramBesideTests(const std::string& base_name);

}  // namespace tarvel::test
