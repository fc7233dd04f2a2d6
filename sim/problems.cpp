#include "sim/problems.h"

#include <cstdio>

namespace sim {
namespace {

void PrintProblem(const std::string& Message) {
  std::fprintf(stderr, "simulated blade: %s\n", Message.c_str());
}

ProblemHandler Handler_ = PrintProblem;

} // namespace

ProblemHandler SetProblemHandler(ProblemHandler Handler) {
  ProblemHandler Previous = Handler_;
  Handler_ = Handler != nullptr ? Handler : PrintProblem;
  return Previous;
}

void ReportProblem(const std::string& Message) {
  Handler_(Message);
}

} // namespace sim
