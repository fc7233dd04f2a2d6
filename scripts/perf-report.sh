#!/usr/bin/env bash
# The performance report, measured side by side in one run; it reports numbers and judges none.
#   1. The simulated blade: host time of one platform pass for lists of 1, 12 and 32 commands, and
#      of the worst adapter boot's arrivals (24 positions, every mailbox full; the time of one
#      adapter pass over a full mailbox); the driver's IPMI requests against the fewest the
#      mailboxes allow (the ratio, the floor by purpose, and any surplus request by name).
#   2. OVMF under QEMU: the driver's platform pass for 12 and 32 commands against the same
#      requests sent bare by the harness in the same boot.
#   3. The image: its size and sections now, and in the tree before the adapter subsystem.
# Usage: scripts/perf-report.sh [BEFORE-COMMIT]   (default 95fe845)
set -euo pipefail
cd "$(dirname "$0")/.."

Before="${1:-95fe845}"
scripts/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

echo "Building the image and the host tools..."
cmake --workflow --preset image >/dev/null
cmake --preset host >/dev/null
cmake --build --preset host --target bladecfg-bench bladecfg-perf-boot >/dev/null

echo
echo "== 1. Simulated blade (host time per pass or boot; pass_time is host CPU time per full"
echo "      adapter mailbox pass; virtual time is the simulated waiting)"
build/host/tests/bladecfg-bench --benchmark_filter='BM_PlatformPass|BM_WorstCaseAdapterBoot' \
  --benchmark_min_time=0.5 --benchmark_counters_tabular=true 2>/dev/null
echo
build/host/tests/bladecfg-bench --ipmi-floor

echo
echo "== 2. OVMF under QEMU"
build/host/tests/bladecfg-perf-boot --boots 3 12 32 || echo "  (the boots did not all report)"

echo
echo "== 3. The image"
ObjDump="$(command -v llvm-objdump || command -v llvm-objdump-14)"
Sections() {
  echo "  $1: $(stat -c %s "$2") bytes"
  "$ObjDump" -h "$2" | while read -r Index Name Size _; do
    [[ "$Index" =~ ^[0-9]+$ ]] && printf '    %-8s %6d bytes\n' "$Name" "$((16#$Size))"
  done
}
Sections "now ($(git rev-parse --short HEAD)$(git diff --quiet HEAD || echo ', with changes'))" \
  build/image/BladeCfgDxe.efi
# The older tree is built once, in a folder of its own under build/.
Old="build/perf/$Before"
if [[ ! -f "$Old/build/image/BladeCfgDxe.efi" ]]; then
  rm -rf "$Old" && mkdir -p "$Old"
  git archive "$Before" | tar -x -C "$Old"
  (cd "$Old" && cmake --workflow --preset image >/dev/null)
fi
Sections "before the adapter subsystem ($Before)" "$Old/build/image/BladeCfgDxe.efi"
