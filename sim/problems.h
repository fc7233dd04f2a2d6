// Where the simulated blade reports misuse it detects (pool leaks, double frees, bad arguments).
// Tests install a handler that fails the running test; the tools print to stderr.
#pragma once

#include <string>

namespace sim {

using ProblemHandler = void (*)(const std::string& Message);

// Installs Handler (nullptr: the default, which prints to stderr) and returns the one it replaces,
// so a test can catch an expected problem and put the previous handler back.
ProblemHandler SetProblemHandler(ProblemHandler Handler);
void ReportProblem(const std::string& Message);

} // namespace sim
