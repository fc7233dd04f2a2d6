#!/usr/bin/env bash
# The BMC engineer's road on this machine, every BMC-side step a command you can copy:
#   1. build a FRU image from a mailbox description with bladecfg-mailbox,
#   2. start OpenIPMI's BMC simulator (ipmi_sim) with an empty FRU device 1 and a LAN channel,
#   3. write the image into FRU device 1 with ipmitool over the LAN,
#   4. boot the blade (OVMF under QEMU, the BMC behind its KCS interface) with BladeCfgDxe.efi,
#   5. read FRU device 1 back with ipmitool and decode the result records.
#
#   scripts/bmc-demo.sh [mailbox.json]     (default: tools/examples/platform-mailbox.json)
#
# The description is what `bladecfg-mailbox build` takes (README, "scenarios and mailbox images").
# The mailbox must be a platform mailbox for FRU device 1 of 4096 bytes. Everything lives in a
# temporary directory that is removed at the end; ipmi_sim is stopped by its process id.
set -euo pipefail
cd "$(dirname "$0")/.."
Root=$PWD
Description=$(realpath "${1:-tools/examples/platform-mailbox.json}")

scripts/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
echo "== building the driver image and the host tools"
cmake --workflow --preset image >/dev/null
cmake --preset host >/dev/null
cmake --build --preset host --target bladecfg-mailbox bladecfg-boot >/dev/null
Mailbox=$Root/build/host/tools/bladecfg-mailbox
Boot=$Root/build/host/firmware/bladecfg-boot

Work=$(mktemp -d "${TMPDIR:-/tmp}/bladecfg-bmc-demo-XXXXXX")
BmcPid=
Cleanup() {
  if [[ -n $BmcPid ]] && kill -0 "$BmcPid" 2>/dev/null; then
    kill "$BmcPid" 2>/dev/null || true
    wait "$BmcPid" 2>/dev/null || true
  fi
  rm -rf "$Work"
}
trap Cleanup EXIT
cd "$Work"

Run() {
  echo "\$ $*"
  "$@"
}

echo "== 1. the FRU image"
Run "$Mailbox" build "$Description" -o fru1.bin
if [[ $(stat -c %s fru1.bin) != 4096 ]]; then
  echo "bmc-demo: the image must be 4096 bytes (\"size\": 4096), FRU device 1's size here" >&2
  exit 1
fi

echo "== 2. the BMC: ipmi_sim with an empty FRU device 1"
Password=demo$$
head -c 4096 /dev/zero >bmc-fru1.bin
mkdir state
# ipmi_sim leaves at once when a port is taken: try other ports then.
for Try in 1 2 3 4 5; do
  LanPort=$((20000 + RANDOM % 20000))
  VmPort=$((LanPort + 1))
  cat >lan.conf <<EOF
name "blade"
set_working_mc 0x20
startlan 1
  addr 127.0.0.1 $LanPort
  priv_limit admin
  guid a0b1c2d3e4f5061728394a5b6c7d8e9f
endlan
serial kcs 127.0.0.1 $VmPort codec VM
user 2 true "admin" "$Password" admin 10 none md2 md5 straight
EOF
  cat >commands <<EOF
mc_setbmc 0x20
mc_add 0x20 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02 persist_sdr
mc_add_fru_data 0x20 1 4096 file 0 "$Work/bmc-fru1.bin"
mc_enable 0x20
EOF
  # At most ten minutes, whatever happens to this script.
  timeout 600 ipmi_sim -c lan.conf -f commands -s state -n >ipmi_sim.log 2>&1 &
  BmcPid=$!
  Ipmitool=(ipmitool -I lanplus -C 3 -H 127.0.0.1 -p "$LanPort" -U admin -P "$Password")
  for Poll in $(seq 50); do
    if ! kill -0 "$BmcPid" 2>/dev/null || "${Ipmitool[@]}" mc info >/dev/null 2>&1; then
      break
    fi
    sleep 0.1
  done
  if kill -0 "$BmcPid" 2>/dev/null; then
    break
  fi
  BmcPid=
done
if [[ -z $BmcPid ]]; then
  echo "bmc-demo: ipmi_sim did not start:" >&2
  cat ipmi_sim.log >&2
  exit 1
fi
cat lan.conf commands | sed 's/^/    /'

echo "== 3. the mailbox into the BMC over the LAN"
Run "${Ipmitool[@]}" fru write 1 fru1.bin 2>&1 | grep -v "Cipher Suites" || true
cmp -s fru1.bin bmc-fru1.bin || {
  echo "bmc-demo: the BMC's FRU file does not hold the image" >&2
  exit 1
}

echo "== 4. the blade boots (OVMF, QEMU's ipmi-bmc-extern linked to ipmi_sim)"
Run "$Boot" --bmc-port "$VmPort"

echo "== 5. the FRU device read back over the LAN and decoded"
Run "${Ipmitool[@]}" fru read 1 after.bin 2>&1 | grep -v "Cipher Suites" || true
Run "$Mailbox" decode after.bin
