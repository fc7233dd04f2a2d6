// Collects the problems the simulated blade reports while it lives, instead of failing the test:
// for tests whose point is that a problem is detected.
#pragma once

#include <string>
#include <vector>

#include "sim/problems.h"

namespace testing_support {

class ProblemLog {
public:
  ProblemLog() : Previous_(sim::SetProblemHandler(Record)) { Sink = &Messages; }
  ~ProblemLog() {
    sim::SetProblemHandler(Previous_);
    Sink = nullptr;
  }
  ProblemLog(const ProblemLog&) = delete;
  ProblemLog& operator=(const ProblemLog&) = delete;

  std::vector<std::string> Messages;

private:
  static void Record(const std::string& M) { Sink->push_back(M); }
  static inline std::vector<std::string>* Sink = nullptr;
  sim::ProblemHandler Previous_;
};

} // namespace testing_support
