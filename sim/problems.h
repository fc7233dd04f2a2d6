// Where the simulated blade reports misuse it detects (pool leaks, double frees, bad arguments).
// Tests install a handler that fails the running test; the tools print to stderr.
#pragma once

#include <string>
#include <vector>

namespace sim {

using ProblemHandler = void (*)(const std::string& Message);

// Installs Handler (nullptr: the default, which prints to stderr) and returns the one it replaces,
// so a test can catch an expected problem and put the previous handler back.
ProblemHandler SetProblemHandler(ProblemHandler Handler);
void ReportProblem(const std::string& Message);

// Collects the problems reported while it lives instead of passing them on: for runs that show
// them afterwards, and for tests whose point is that a problem is detected. Collectors nest; the
// newest one collects.
class ProblemCollector {
public:
  ProblemCollector();
  ~ProblemCollector();
  ProblemCollector(const ProblemCollector&) = delete;
  ProblemCollector& operator=(const ProblemCollector&) = delete;

  std::vector<std::string> Messages;

private:
  ProblemHandler PreviousHandler_;
  ProblemCollector* PreviousCollector_;
};

} // namespace sim
