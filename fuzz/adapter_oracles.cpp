#include "fuzz/adapter_oracles.h"

#include <algorithm>
#include <string>

#include "fuzz/oracles.h"

namespace fuzz {

namespace {

// The adapter slot table's 24 positions as the design lists them: the bridge (its place in
// BridgePositions) and the function on the bridge's secondary bus.
struct Position {
  uint8_t Bridge;
  uint8_t Function;
};
constexpr Position SlotPositions[24] = {
    {0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}, {3, 1},
    {4, 0}, {4, 1}, {5, 0}, {5, 1}, {5, 2}, {5, 3}, {6, 0}, {6, 1}, {6, 2}, {6, 3}, {7, 0}, {7, 1}};

constexpr size_t MostAdaptersPerRun = 32;
constexpr size_t Lists = 8;
constexpr size_t WaitMessages = 2;
constexpr size_t ResultAreaRead = 1;
constexpr size_t ListOffsetRead = 1;
constexpr size_t Release = 2; // HostLockFlag read and cleared
constexpr size_t TextBufferSize = 256;

// The requests of one adapter's pass over the mailbox of Device.
size_t AdapterRequests(const BladeFacts& Facts, const std::vector<uint8_t>& Device) {
  size_t Requests = SearchRequests + LockRequests + ResultAreaRead + Release;
  for (size_t List = 0; List < Lists; ++List) {
    Requests +=
        ListOffsetRead + ListRequests(&Device, Facts.ContentsChange, List, 1) + OverflowRequests;
  }
  return Requests;
}

std::string Text(const sim::ExecuteCall& C) {
  return "call " + std::to_string(C.Number) + " (\"" + C.Text.substr(0, 40) + "\")";
}

} // namespace

bool KnownPosition(const AdapterFacts& Facts, sim::PciAddress Location) {
  return std::any_of(std::begin(SlotPositions), std::end(SlotPositions), [&](const Position& P) {
    return Facts.SecondaryBus[P.Bridge] == Location.Bus && P.Function == Location.Function;
  });
}

size_t ArrivalRequestBound(const BladeFacts& Facts, sim::Bmc& Bmc) {
  size_t PerAdapter = 0;
  for (UINT8 Fru : Bmc.FruIds()) {
    PerAdapter = std::max(PerAdapter, AdapterRequests(Facts, Bmc.Fru(Fru)));
  }
  return SearchRequests + WaitMessages + MostAdaptersPerRun * PerAdapter;
}

std::vector<size_t> ExecuteCounts(sim::Blade& Blade) {
  std::vector<size_t> Counts;
  for (size_t D = 0; D < Blade.Adapters.Count(); ++D) {
    Counts.push_back(Blade.Adapters[D].Calls().size());
  }
  return Counts;
}

void CheckArrival(const sim::BootOutcome& Outcome, sim::Blade& Blade, size_t Driver,
                  const std::vector<size_t>& CountsBefore) {
  const std::string Who = "the arrival of driver " + std::to_string(Driver);
  Expect(!Outcome.Hang, Who + " hung: " + Outcome.HangReason);
  Expect(Outcome.Returned || Outcome.Reset, Who + " neither returned nor reset the system");
  if (Outcome.Reset) {
    const auto& Resets = Blade.Firmware.Resets();
    Expect(Resets.size() == 1 && Resets[0].Type == EfiResetCold,
           Who + " ended the boot without one recorded cold reset");
  }
  Expect(Blade.Firmware.Pool.LiveCount() == 0,
         std::to_string(Blade.Firmware.Pool.LiveCount()) + " pool buffers left after " + Who);
  const std::vector<size_t> Counts = ExecuteCounts(Blade);
  for (size_t D = 0; D < Counts.size(); ++D) {
    Expect(D == Driver || Counts[D] == CountsBefore[D],
           "driver " + std::to_string(D) + "'s Execute called in " + Who);
  }
}

void CheckExecuteCalls(sim::Blade& Blade, const AdapterFacts& Facts) {
  for (size_t D = 0; D < Blade.Adapters.Count(); ++D) {
    for (const sim::ExecuteCall& C : Blade.Adapters[D].Calls()) {
      const std::string Who = "driver " + std::to_string(D) + "'s Execute " + Text(C);
      Expect(C.Location.has_value(), Who + " with a handle that carries no PCI I/O");
      Expect(KnownPosition(Facts, *C.Location),
             Who + " for " + C.Location->Text() + ", no position of the adapter slot table");
      Expect(C.Terminated, Who + " with a text that does not end within its buffer");
      Expect(C.Text.size() < TextBufferSize, Who + " with a text longer than its buffer");
      Expect(C.ResponseZeroed, Who + " with a response buffer that was not zeroed");
    }
  }
}

} // namespace fuzz
