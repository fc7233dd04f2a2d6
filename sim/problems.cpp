#include "sim/problems.h"

#include <cstdio>

namespace sim {
namespace {

void PrintProblem(const std::string& Message) {
  std::fprintf(stderr, "simulated blade: %s\n", Message.c_str());
}

ProblemHandler Handler_ = PrintProblem;
ProblemCollector* Collecting_ = nullptr;

void Collect(const std::string& Message) {
  Collecting_->Messages.push_back(Message);
}

} // namespace

ProblemHandler SetProblemHandler(ProblemHandler Handler) {
  ProblemHandler Previous = Handler_;
  Handler_ = Handler != nullptr ? Handler : PrintProblem;
  return Previous;
}

void ReportProblem(const std::string& Message) {
  Handler_(Message);
}

ProblemCollector::ProblemCollector()
    : PreviousHandler_(SetProblemHandler(Collect)), PreviousCollector_(Collecting_) {
  Collecting_ = this;
}

ProblemCollector::~ProblemCollector() {
  Collecting_ = PreviousCollector_;
  SetProblemHandler(PreviousHandler_);
}

} // namespace sim
