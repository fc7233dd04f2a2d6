// The BMC's side of a mailbox lock: held over virtual time, or reacting to what the host does with
// its own flag.
#include <string>

#include "mailbox_format/layout.h"
#include "sim/bmc.h"
#include "sim/problems.h"

namespace sim {

namespace mf = mailbox_format;

void Bmc::HoldMailboxLock(UINT8 FruId, UINT16 HeaderOffset, uint64_t Until) {
  WriteFru(FruId, HeaderOffset + mf::BmcLockFlagOffset, {1});
  WriteFru(FruId, HeaderOffset + mf::LockTurnOffset, {1});
  if (Until != UINT64_MAX) {
    ScheduleFruWrite(FruId, HeaderOffset + mf::BmcLockFlagOffset, 0, Until);
  }
}

void Bmc::ReactToLock(UINT8 FruId, UINT16 HeaderOffset, LockReaction Reaction,
                      unsigned AfterRequests) {
  auto It = Frus_.find(FruId);
  if (It == Frus_.end() || HeaderOffset + mf::HostLockFlagOffset >= It->second.size()) {
    ReportProblem("no lock bytes at header offset " + std::to_string(HeaderOffset) +
                  " of FRU device " + std::to_string(FruId));
    return;
  }
  if (Reaction != LockReaction::TakeWhileHostHolds) {
    HoldMailboxLock(FruId, HeaderOffset, UINT64_MAX);
  }
  LockWatches_.push_back(LockWatch{FruId, HeaderOffset, Reaction, AfterRequests});
}

// Looks at the lock bytes as the BMC's firmware would between two requests.
void Bmc::ReactToHost() {
  for (LockWatch& W : LockWatches_) {
    if (W.Done) {
      continue;
    }
    std::vector<uint8_t>& Device = Frus_[W.FruId];
    if (W.HeaderOffset + mf::HostLockFlagOffset >= Device.size()) {
      continue; // the device was replaced by a smaller one
    }
    uint8_t* Lock = Device.data() + W.HeaderOffset + mf::LockTurnOffset;
    uint8_t& Turn = Lock[0];
    uint8_t& BmcFlag = Lock[mf::BmcLockFlagOffset - mf::LockTurnOffset];
    const bool HostAsks = Lock[mf::HostLockFlagOffset - mf::LockTurnOffset] != 0;
    if (!W.Caused) {
      W.Caused =
          W.Reaction == LockReaction::TakeWhileHostHolds ? HostAsks && BmcFlag == 0 : HostAsks;
      if (!W.Caused) {
        continue;
      }
    }
    if (W.AfterRequests > 0) {
      --W.AfterRequests;
      continue;
    }
    switch (W.Reaction) {
    case LockReaction::HandTurnBack:
      Turn = 0;
      break;
    case LockReaction::YieldWhenAsked:
      BmcFlag = 0;
      break;
    case LockReaction::TakeWhileHostHolds:
      BmcFlag = 1;
      Turn = 0;
      break;
    }
    W.Done = true;
  }
}

} // namespace sim
