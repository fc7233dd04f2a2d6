#!/usr/bin/env bash
# Builds bladecfg-sim and runs the driver in the simulated blade (its built-in default blade; any
# arguments go to bladecfg-sim).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
cmake --workflow --preset sim
exec build/host/tools/bladecfg-sim "$@"
