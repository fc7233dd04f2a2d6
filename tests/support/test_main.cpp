// Test entry: whatever misuse the simulated blade detects (a pool leak, a double free) fails the
// running test.
#include <gtest/gtest.h>

#include "sim/problems.h"

namespace {
void FailTest(const std::string& Message) {
  ADD_FAILURE() << "simulated blade: " << Message;
}
} // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  sim::SetProblemHandler(FailTest);
  return RUN_ALL_TESTS();
}
