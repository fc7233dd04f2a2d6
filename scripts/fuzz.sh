#!/usr/bin/env bash
# A fuzz campaign of a chosen length:
#
#   scripts/fuzz.sh [SECONDS] [TARGET] [LIBFUZZER-OPTIONS...]
#   scripts/fuzz.sh TARGET [SECONDS] [LIBFUZZER-OPTIONS...]
#
# TARGET is platform, adapter or rewrite (fuzz/TARGET_fuzz.cpp). Builds the fuzz preset, then
# fuzzes TARGET (default platform) for SECONDS (default 600) from the seed corpus in the tree, with
# its dictionary, as one job at low priority. New inputs collect in
# build/fuzz/campaign/TARGET/corpus (the tree's corpus is left alone), inputs that found a fault in
# build/fuzz/campaign/TARGET/artifacts, libFuzzer's log in build/fuzz/campaign/TARGET/fuzz-0.log.
# FUZZ_NICE sets its niceness (default 2: behind builds and tests, without starving).
# An input that found a fault belongs in fuzz/regressions/TARGET once the fault is fixed, so that
# scripts/test.sh replays it for ever. Pass -runs=N to stop after N executions instead.
set -euo pipefail
cd "$(dirname "$0")/.."

Seconds=600
Target=platform
if [[ "${1:-}" =~ ^[a-z]+$ ]]; then
  Target="$1"
  shift
  if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    Seconds="$1"
    shift
  fi
else
  Seconds="${1:-600}"
  Target="${2:-platform}"
  shift $(($# < 2 ? $# : 2))
fi

scripts/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${Target}_fuzz"

Work="build/fuzz/campaign/$Target"
mkdir -p "$Work/corpus" "$Work/artifacts"
# The campaign runs a copy, so that rebuilding meanwhile does not disturb it.
cp "build/fuzz/fuzz/${Target}_fuzz" "$Work/${Target}_fuzz"
Seeds="$PWD/fuzz/corpus/$Target"
# What past campaigns reached, merged, starts the next one too (when the tree holds it).
Campaigns=()
if [[ -d "$PWD/fuzz/campaigns/$Target" ]]; then
  Campaigns=("$PWD/fuzz/campaigns/$Target")
fi
Dict="$PWD/fuzz/$Target.dict"
cd "$Work"
# A command text fills at most its 256-byte buffer; a blade takes room.
MaxLen=16384
if [[ "$Target" == rewrite ]]; then
  MaxLen=300
fi
echo "fuzz: $Target for $Seconds s; log in $Work/fuzz-0.log"
# A small quarantine still catches a use after free within one boot, and saves page faults.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
nice -n "${FUZZ_NICE:-2}" "./${Target}_fuzz" -jobs=1 -workers=1 -max_total_time="$Seconds" -dict="$Dict" \
  -max_len="$MaxLen" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$PWD/artifacts/" "$@" corpus "$Seeds" "${Campaigns[@]}"
tail -n 20 fuzz-0.log
