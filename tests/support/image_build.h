// The image tests and the firmware boots read what the image preset built. Without that build
// they are skipped and say why, so that the host workflow passes on a fresh clone by itself; with
// BLADECFG_REQUIRE_IMAGE set in the environment (scripts/test.sh sets it once it has built the
// image) a missing image fails them instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testing_support {

inline bool ImageRequired() {
  const char* Value = std::getenv("BLADECFG_REQUIRE_IMAGE");
  return Value != nullptr && *Value != '\0' && std::string(Value) != "0";
}

} // namespace testing_support

// In a test's SetUp or body: skips it, or fails it when the image is required, naming Missing.
#define SKIP_WITHOUT_IMAGE(Missing)                                                                \
  do {                                                                                             \
    if (testing_support::ImageRequired()) {                                                        \
      FAIL() << (Missing);                                                                         \
    }                                                                                              \
    GTEST_SKIP() << (Missing) << " (skipped: no image build; set BLADECFG_REQUIRE_IMAGE=1 "        \
                 << "to fail instead)";                                                            \
  } while (false)
