// A test that boots the images of the image build in QEMU: without them it is skipped, or failed
// under BLADECFG_REQUIRE_IMAGE (image_build.h).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "firmware/runner/qemu_boot.h"
#include "tests/support/image_build.h"

namespace testing_support {

class BootTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const std::string Missing = fw::MissingImage(); !Missing.empty()) {
      SKIP_WITHOUT_IMAGE(Missing);
    }
  }
};

} // namespace testing_support
