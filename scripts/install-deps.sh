#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need. Quick and silent when all of them are
# there already, so every other script runs it first.
set -euo pipefail

Packages=(
  cmake make g++                  # the host build: simulated blade, tools, tests
  clang lld                       # the EFI image: clang++ and lld-link
  libclang-rt-14-dev              # libFuzzer and clang's sanitizer runtimes, for the fuzz build
  llvm                            # llvm-readobj and llvm-objdump, for looking into the image
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev # the tools: scenario and mailbox files, command lines
  clang-format clang-tidy         # scripts/lint.sh
  qemu-system-x86 ovmf            # booting the image in real firmware
  openipmi ipmitool               # a BMC program (ipmi_sim) and its LAN client for the bmc tests
  libopenipmi-dev                 # the headers of ipmi_sim's modules
)

Missing=()
for Package in "${Packages[@]}"; do
  if [[ "$(dpkg-query -W -f='${db:Status-Status}' "$Package" 2>/dev/null)" != installed ]]; then
    Missing+=("$Package")
  fi
done
if ((${#Missing[@]} == 0)); then
  exit 0
fi

AsRoot=()
if ((EUID != 0)); then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: root or sudo is needed to install: ${Missing[*]}" >&2
    exit 1
  fi
  AsRoot=(sudo)
fi

echo "install-deps: installing ${Missing[*]}"
"${AsRoot[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${AsRoot[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${Missing[@]}"
