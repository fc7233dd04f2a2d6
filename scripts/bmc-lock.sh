#!/usr/bin/env bash
# The BMC's half of a mailbox lock, played from outside over the BMC's LAN channel with ipmitool's
# raw Read and Write FRU Data requests: the BMC raises BmcLockFlag and gives the turn to the host
# (LockTurn 0), enters once the host neither holds nor wants the mailbox, holds it until the host
# asks for it, keeps it HOLD seconds longer, then yields (BmcLockFlag 0). With HOLD "forever" it
# never yields; end it with a signal.
#
#   scripts/bmc-lock.sh FRU HEADER HOLD IPMITOOL-ARGS...
#   scripts/bmc-lock.sh 1 512 3 -I lanplus -C 3 -H 127.0.0.1 -p 623 -U admin -P secret
#
# HEADER is the mailbox header's offset (512, 768, ...); the lock bytes follow it at HEADER + 28
# (LockTurn), + 29 (BmcLockFlag) and + 30 (HostLockFlag). Every step prints one line.
set -euo pipefail

if (($# < 4)); then
  sed -n '2,13p' "$0" >&2
  exit 2
fi
Fru=$1 Header=$2 Hold=$3
shift 3
Ipmitool=(ipmitool "$@")
# How long the BMC waits for the host to leave or to ask before it gives up (seconds).
WaitLimit=${BMC_LOCK_WAIT_LIMIT:-120}

Say() { echo "$(date +%H:%M:%S.%N | cut -c1-12) $*"; }

# Writes one byte at a FRU offset.
WriteByte() {
  local Offset=$1 Value=$2
  "${Ipmitool[@]}" raw 0x0a 0x12 "$Fru" $((Offset & 0xFF)) $((Offset >> 8)) "$Value" >/dev/null
}

# Prints LockTurn, BmcLockFlag and HostLockFlag as three numbers.
ReadLock() {
  local Offset=$((Header + 28)) Words
  Words=$("${Ipmitool[@]}" raw 0x0a 0x11 "$Fru" $((Offset & 0xFF)) $((Offset >> 8)) 3)
  read -r Count Turn Bmc Host <<<"$Words"
  if [[ $Count != 03 ]]; then
    Say "the BMC read $Count bytes of the lock instead of 3" >&2
    return 1
  fi
  echo "$((16#$Turn)) $((16#$Bmc)) $((16#$Host))"
}

# Polls every 0.2 s until the condition on the lock bytes holds; fails past the wait limit.
WaitFor() {
  local What=$1 Condition=$2 Polls=$((WaitLimit * 5)) Lock Turn Bmc Host
  for ((I = 0; I < Polls; ++I)); do
    Lock=$(ReadLock)
    read -r Turn Bmc Host <<<"$Lock"
    if eval "$Condition"; then
      Say "$What (LockTurn $Turn, BmcLockFlag $Bmc, HostLockFlag $Host)"
      return 0
    fi
    sleep 0.2
  done
  Say "gave up waiting: $What" >&2
  return 1
}

WriteByte $((Header + 29)) 1
WriteByte $((Header + 28)) 0
Say "BMC asks: BmcLockFlag 1, LockTurn 0"
WaitFor "BMC holds the mailbox" '((Host == 0 || Turn != 0))'
WaitFor "the host asks for it" '((Host == 1))'
if [[ $Hold == forever ]]; then
  Say "BMC keeps the mailbox"
  while true; do sleep 1; done
fi
sleep "$Hold"
Lock=$(ReadLock)
read -r Turn Bmc Host <<<"$Lock"
Say "before yielding: LockTurn $Turn, BmcLockFlag $Bmc, HostLockFlag $Host"
WriteByte $((Header + 29)) 0
Say "BMC yields: BmcLockFlag 0"
