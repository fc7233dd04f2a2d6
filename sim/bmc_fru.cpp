// The BMC's FRU devices: Read and Write FRU Data, and the writes the BMC makes on its own as
// virtual time passes (its side of the mailbox lock).
#include <algorithm>
#include <string>

#include "sim/bmc.h"
#include "sim/firmware.h"
#include "sim/problems.h"

namespace sim {
namespace {

constexpr UINT8 CompletionOk = 0x00;
constexpr UINT8 CompletionBadLength = 0xC7;
constexpr UINT8 CompletionNotPresent = 0xCB;
constexpr UINT8 CompletionBadField = 0xCC;

// Mailbox header bytes the lock lives in.
constexpr UINT16 LockTurnOffset = 28;
constexpr UINT16 BmcLockFlagOffset = 29;

UINT16 RequestOffset(const std::vector<uint8_t>& Request) {
  return static_cast<UINT16>(Request[1] | (Request[2] << 8));
}

} // namespace

void Bmc::AddFruDevice(UINT8 FruId, size_t Size, UINT8 Fill) {
  Frus_[FruId] = std::vector<uint8_t>(Size, Fill);
}

bool Bmc::HasFruDevice(UINT8 FruId) const {
  return Frus_.count(FruId) != 0;
}

std::vector<uint8_t>& Bmc::Fru(UINT8 FruId) {
  ApplyScheduledWrites();
  auto It = Frus_.find(FruId);
  if (It == Frus_.end()) {
    ReportProblem("FRU device " + std::to_string(FruId) + " does not exist");
    static std::vector<uint8_t> Absent;
    Absent.clear();
    return Absent;
  }
  return It->second;
}

void Bmc::WriteFru(UINT8 FruId, UINT16 Offset, const std::vector<uint8_t>& Bytes) {
  std::vector<uint8_t>& Device = Fru(FruId);
  if (Offset + Bytes.size() > Device.size()) {
    ReportProblem("write of " + std::to_string(Bytes.size()) + " bytes at " +
                  std::to_string(Offset) + " runs past the end of FRU device " +
                  std::to_string(FruId));
    return;
  }
  std::copy(Bytes.begin(), Bytes.end(), Device.begin() + Offset);
}

std::vector<uint8_t> Bmc::ReadFru(UINT8 FruId, UINT16 Offset, size_t Count) const {
  auto It = Frus_.find(FruId);
  if (It == Frus_.end()) {
    ReportProblem("FRU device " + std::to_string(FruId) + " does not exist");
    return {};
  }
  // What the device holds now, including BMC writes already due but not yet applied.
  std::vector<uint8_t> Device = It->second;
  for (const auto& W : Scheduled_) {
    if (W.At <= Clock_.Now() && W.FruId == FruId && W.Offset < Device.size()) {
      Device[W.Offset] = W.Value;
    }
  }
  const size_t Begin = std::min<size_t>(Offset, Device.size());
  const size_t End = std::min(Device.size(), Begin + Count);
  return std::vector<uint8_t>(Device.begin() + Begin, Device.begin() + End);
}

void Bmc::ScheduleFruWrite(UINT8 FruId, UINT16 Offset, UINT8 Value, uint64_t At) {
  // Kept in time order; writes due at the same moment land in the order they were scheduled.
  auto Later = std::upper_bound(Scheduled_.begin(), Scheduled_.end(), At,
                                [](uint64_t T, const ScheduledFruWrite& W) { return T < W.At; });
  Scheduled_.insert(Later, ScheduledFruWrite{At, FruId, Offset, Value});
}

void Bmc::HoldMailboxLock(UINT8 FruId, UINT16 HeaderOffset, uint64_t Until) {
  WriteFru(FruId, HeaderOffset + BmcLockFlagOffset, {1});
  WriteFru(FruId, HeaderOffset + LockTurnOffset, {1});
  if (Until != UINT64_MAX) {
    ScheduleFruWrite(FruId, HeaderOffset + BmcLockFlagOffset, 0, Until);
  }
}

void Bmc::ApplyScheduledWrites() {
  auto Due = Scheduled_.begin();
  for (; Due != Scheduled_.end() && Due->At <= Clock_.Now(); ++Due) {
    auto It = Frus_.find(Due->FruId);
    if (It == Frus_.end() || Due->Offset >= It->second.size()) {
      ReportProblem("scheduled BMC write to FRU device " + std::to_string(Due->FruId) + " offset " +
                    std::to_string(Due->Offset) + ", which does not exist");
      continue;
    }
    It->second[Due->Offset] = Due->Value;
  }
  Scheduled_.erase(Scheduled_.begin(), Due);
}

UINT8 Bmc::FruInventoryInfo(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out) {
  if (Request.size() != 1) {
    return CompletionBadLength;
  }
  auto It = Frus_.find(Request[0]);
  if (It == Frus_.end()) {
    return CompletionNotPresent;
  }
  const size_t Size = It->second.size();
  Out = {static_cast<uint8_t>(Size), static_cast<uint8_t>(Size >> 8), 0}; // accessed by bytes
  return CompletionOk;
}

UINT8 Bmc::ReadFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out) {
  if (Request.size() != 4) {
    return CompletionBadLength;
  }
  auto It = Frus_.find(Request[0]);
  if (It == Frus_.end()) {
    return CompletionNotPresent;
  }
  const std::vector<uint8_t>& Device = It->second;
  const size_t Offset = RequestOffset(Request);
  if (Offset >= Device.size()) {
    return CompletionBadField;
  }
  const size_t Count = std::min<size_t>(Request[3], Device.size() - Offset);
  Out.push_back(static_cast<uint8_t>(Count));
  Out.insert(Out.end(), Device.begin() + Offset, Device.begin() + Offset + Count);
  return CompletionOk;
}

UINT8 Bmc::WriteFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out) {
  if (Request.size() < 3) {
    return CompletionBadLength;
  }
  auto It = Frus_.find(Request[0]);
  if (It == Frus_.end()) {
    return CompletionNotPresent;
  }
  std::vector<uint8_t>& Device = It->second;
  const size_t Offset = RequestOffset(Request);
  if (Offset >= Device.size()) {
    return CompletionBadField;
  }
  const size_t Count = std::min(Request.size() - 3, Device.size() - Offset);
  std::copy(Request.begin() + 3, Request.begin() + 3 + Count, Device.begin() + Offset);
  Out.push_back(static_cast<uint8_t>(Count));
  return CompletionOk;
}

} // namespace sim
