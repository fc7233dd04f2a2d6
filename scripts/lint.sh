#!/usr/bin/env bash
# The lint CI runs (scripts/test.sh calls it): every C++ file git knows of, tracked or new and not
# ignored, formatted as .clang-format says; and clang-tidy with the checks of .clang-tidy over the
# driver's sources (core/, mailbox/, platform/, adapter/) and their headers, compiled as the host
# build compiles them.
set -euo pipefail
cd "$(dirname "$0")/.."

Failed=0

Files=()
while IFS= read -r -d '' File; do
  [[ -f "$File" ]] && Files+=("$File")
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${Files[@]}"; then
  echo "lint: the files above differ from .clang-format; clang-format -i fixes them" >&2
  Failed=1
fi

# clang-tidy reads the compile commands of the host build, configured afresh so that they list
# every source of DRIVER_SOURCES.
cmake --preset host >/dev/null
Sources=()
while IFS= read -r -d '' File; do
  [[ -f "$File" ]] && Sources+=("$File")
done < <(git ls-files -z --cached --others --exclude-standard -- \
  'core/*.cpp' 'mailbox/*.cpp' 'platform/*.cpp' 'adapter/*.cpp')
# Only the findings are shown, not the count of warnings suppressed in system headers.
if ! clang-tidy -p build/host --quiet "${Sources[@]}" 2> >(grep -v 'warnings\? generated\.$' >&2); then
  echo "lint: clang-tidy found the problems above in the driver's sources" >&2
  Failed=1
fi

if ((Failed)); then
  exit 1
fi
echo "lint: ${#Files[@]} files formatted, ${#Sources[@]} driver sources pass clang-tidy"
