#include "fuzz/adapter_setup.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <string>

namespace fuzz {

namespace {

constexpr uint64_t Tick = 100 * 1000; // the unit of the input's times, 100 ms
constexpr uint64_t Hour = 3600ull * 1000 * 1000;
// The BMC's own delays of blade_setup.cpp at their longest: 64 behaviours of 255 ticks.
constexpr uint64_t MostBmcDelays = 64 * 255 * Tick;
constexpr size_t MostBridges = 12;
constexpr size_t MostDevices = 24;
constexpr size_t MostStarts = 16;
constexpr uint8_t MostApplicationProcessors = 63;
constexpr uint16_t NoVendor = 0xFFFF; // what an empty location reads

EFI_STATUS StatusOf(uint8_t Choice) {
  return (Choice & 0x10) != 0 ? FuzzStatuses[Choice & 15] : EFI_SUCCESS;
}

// The bridges and devices, as a tree: each bridge's secondary bus above its own bus and used by no
// other bridge, each address described once.
void SetUpTopology(const AdapterInput& Input, sim::PciBus& Pci, AdapterFacts& Facts) {
  std::set<sim::PciAddress> Described;
  std::set<uint8_t> Secondaries;
  std::vector<uint8_t> Buses; // of the bridges described, in order
  for (const BridgeSection& B : Input.Bridges) {
    const sim::PciAddress At = B.At();
    if (Buses.size() == MostBridges || B.SecondaryBus <= At.Bus || Described.count(At) != 0 ||
        Secondaries.count(B.SecondaryBus) != 0) {
      continue;
    }
    Pci.Bridge(At, B.SecondaryBus);
    Described.insert(At);
    Secondaries.insert(B.SecondaryBus);
    Buses.push_back(B.SecondaryBus);
    for (size_t P = 0; P < std::size(BridgePositions); ++P) {
      if (BridgePositions[P] == At) {
        Facts.SecondaryBus[P] = B.SecondaryBus;
      }
    }
  }
  size_t Devices = 0;
  for (const DeviceSection& D : Input.Devices) {
    if (Buses.empty() || Devices == MostDevices || D.Vendor.Id() == NoVendor) {
      continue;
    }
    const uint8_t Bus = Buses[D.Bridge % Buses.size()];
    for (uint8_t F = 0; F < D.Functions; ++F) {
      const sim::PciAddress At(Bus, D.Device, F);
      if (Described.insert(At).second) {
        Pci.Function(At, D.Vendor.Id(), D.DeviceId);
      }
    }
    ++Devices;
  }
}

void SetUpDrivers(const AdapterInput& Input, sim::AdapterDrivers& Drivers) {
  for (uint8_t D = 0; D < AdapterDriverCount; ++D) {
    Drivers.Add("driver" + std::to_string(D));
  }
  for (const ExecuteAnswer& A : Input.Answers) {
    const sim::ClpAnswer Answer{A.StatusWord, StatusOf(A.Status)};
    if (A.Call == 0) {
      Drivers[A.Driver].AnswerByDefault(Answer);
    } else {
      Drivers[A.Driver].AnswerCall(A.Call, Answer);
    }
  }
}

void SetUpProcessors(const MpSection& Mp, sim::Blade& Blade) {
  Blade.Mp.SetApplicationProcessors(std::min(Mp.Processors, MostApplicationProcessors));
  if (Mp.StartupFails) {
    Blade.Mp.FailStartupAllAPs(FuzzStatuses[Mp.Status % 16], -1);
  }
  for (UINTN Cpu = 0; Cpu < Blade.Mp.ProcessorCount(); ++Cpu) {
    Blade.Platform.SetProcessorMsr(Cpu, sim::ClockModulationMsr, Mp.ClockModulation);
  }
}

// The levels as the input changes them; then, after the last change and the last start, the
// adapter-ready input rises for good.
uint64_t SetUpLevels(const AdapterInput& Input, uint64_t LastStart, sim::Platform& Platform) {
  uint64_t Last = std::max<uint64_t>(Input.Blade.AdapterReadyAfter * Tick, LastStart);
  for (const LevelChange& L : Input.Levels) {
    const bool WaitEnable = (L.Input & 1) != 0;
    Platform.SetInputLevel(WaitEnable ? sim::AdapterWaitInputPort : sim::AdapterReadyInputPort,
                           WaitEnable ? sim::AdapterWaitInputBit : sim::AdapterReadyInputBit,
                           (L.Input & 2) != 0, L.At * Tick);
    Last = std::max<uint64_t>(Last, L.At * Tick);
  }
  Platform.SetInputLevel(sim::AdapterReadyInputPort, sim::AdapterReadyInputBit, true, Last + Tick);
  return Last + Tick;
}

} // namespace

sim::BladeOptions AdapterOptionsFor(const AdapterInput& Input) {
  sim::BladeOptions Options = OptionsFor(Input.Blade);
  Options.InstallMpServices = Input.Mp.Present;
  return Options;
}

AdapterFacts SetUpAdapters(const AdapterInput& Input, sim::Blade& Blade) {
  AdapterFacts Facts;
  std::fill(std::begin(Facts.SecondaryBus), std::end(Facts.SecondaryBus), 0xFF);
  Facts.Blade = SetUp(Input.Blade, Blade);
  SetUpTopology(Input, Blade.Pci, Facts);
  SetUpDrivers(Input, Blade.Adapters);
  SetUpProcessors(Input.Mp, Blade);

  const std::vector<sim::PciAddress> WithPciIo = Blade.Pci.FirmwareOrder();
  for (const StartSection& S : Input.Starts) {
    if (Facts.Starts.size() < MostStarts &&
        std::find(WithPciIo.begin(), WithPciIo.end(), S.On) != WithPciIo.end()) {
      Facts.Starts.push_back({S.Driver, S.On, S.At * Tick});
    }
  }
  std::stable_sort(Facts.Starts.begin(), Facts.Starts.end(),
                   [](const AdapterStart& A, const AdapterStart& B) { return A.At < B.At; });
  Facts.CompletionAt = Facts.Starts.empty() ? 0 : Facts.Starts.back().At;
  const uint64_t Latest = SetUpLevels(Input, Facts.CompletionAt, Blade.Platform);
  Blade.Firmware.Clock.SetWatchdog(Latest + MostBmcDelays + (2 + Facts.Starts.size()) * Hour);
  return Facts;
}

} // namespace fuzz
