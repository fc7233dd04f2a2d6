#!/usr/bin/env bash
# Everything CI checks: the lint (formatting and clang-tidy), then the EFI image, then every test in
# the host build (whose image tests read that image) and again with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets, which replay their seed corpora and regression
# inputs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-2}"
# The image is built first, so the tests that read it must find it: a missing image fails them
# here rather than skipping them as a host build on its own does.
export BLADECFG_REQUIRE_IMAGE=1

scripts/lint.sh

# A CMake workflow holds a single configure step, so each build is its own workflow.
cmake --workflow --preset image
cmake --workflow --preset host
cmake --workflow --preset asan
cmake --workflow --preset fuzz
