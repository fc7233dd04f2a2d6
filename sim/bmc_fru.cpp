// The BMC's FRU devices: Read and Write FRU Data, and the writes the BMC makes on its own, as
// virtual time passes or between two requests.
#include <algorithm>
#include <map>
#include <string>

#include "sim/bmc.h"
#include "sim/firmware.h"
#include "sim/problems.h"

namespace sim {
namespace {

using FruDevices = std::map<UINT8, std::vector<uint8_t>>;

// The device and offset a Read or Write FRU Data request names (FRU id, offset low, offset high),
// or the completion code that refuses it.
UINT8 LocateFruData(FruDevices& Frus, const std::vector<uint8_t>& Request,
                    std::vector<uint8_t>*& Device, size_t& Offset) {
  auto It = Frus.find(Request[0]);
  if (It == Frus.end()) {
    return ipmi::CompletionNotPresent;
  }
  Device = &It->second;
  Offset = static_cast<UINT16>(Request[1] | (Request[2] << 8));
  return Offset < Device->size() ? ipmi::CompletionOk : ipmi::CompletionBadField;
}

} // namespace

void Bmc::AddFruDevice(UINT8 FruId, size_t Size, UINT8 Fill) {
  Frus_[FruId] = std::vector<uint8_t>(Size, Fill);
}

bool Bmc::HasFruDevice(UINT8 FruId) const {
  return Frus_.count(FruId) != 0;
}

std::vector<UINT8> Bmc::FruIds() const {
  std::vector<UINT8> Ids;
  for (const auto& Device : Frus_) {
    Ids.push_back(Device.first);
  }
  return Ids;
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

void Bmc::ScheduleFruWriteBefore(const RequestMatch& Before, UINT8 FruId, UINT16 Offset,
                                 std::vector<uint8_t> Bytes) {
  Triggered_.push_back(TriggeredWrite{Before, FruId, Offset, std::move(Bytes)});
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

void Bmc::ApplyTriggeredWrites(const IpmiRequest& Request) {
  for (auto It = Triggered_.begin(); It != Triggered_.end();) {
    if (!Applies(It->Before, It->Seen, Request)) {
      ++It;
      continue;
    }
    WriteFru(It->FruId, It->Offset, It->Bytes);
    It = Triggered_.erase(It);
  }
}

UINT8 Bmc::FruInventoryInfo(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out) {
  if (Request.size() != 1) {
    return ipmi::CompletionBadLength;
  }
  auto It = Frus_.find(Request[0]);
  if (It == Frus_.end()) {
    return ipmi::CompletionNotPresent;
  }
  const size_t Size = It->second.size();
  Out = {static_cast<uint8_t>(Size), static_cast<uint8_t>(Size >> 8), 0}; // accessed by bytes
  return ipmi::CompletionOk;
}

UINT8 Bmc::ReadFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out) {
  if (Request.size() != 4) {
    return ipmi::CompletionBadLength;
  }
  std::vector<uint8_t>* Device = nullptr;
  size_t Offset = 0;
  if (UINT8 Code = LocateFruData(Frus_, Request, Device, Offset); Code != ipmi::CompletionOk) {
    return Code;
  }
  const size_t Count = std::min<size_t>(Request[3], Device->size() - Offset);
  Out.push_back(static_cast<uint8_t>(Count));
  Out.insert(Out.end(), Device->begin() + Offset, Device->begin() + Offset + Count);
  return ipmi::CompletionOk;
}

UINT8 Bmc::WriteFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out,
                        bool Store) {
  if (Request.size() < 3) {
    return ipmi::CompletionBadLength;
  }
  std::vector<uint8_t>* Device = nullptr;
  size_t Offset = 0;
  if (UINT8 Code = LocateFruData(Frus_, Request, Device, Offset); Code != ipmi::CompletionOk) {
    return Code;
  }
  const size_t Count = std::min(Request.size() - 3, Device->size() - Offset);
  if (Store) {
    std::copy(Request.begin() + 3, Request.begin() + 3 + Count, Device->begin() + Offset);
  }
  Out.push_back(static_cast<uint8_t>(Count));
  return ipmi::CompletionOk;
}

} // namespace sim
