// The adapter side of a bladecfg-sim scenario: the PCI topology, the adapter drivers with their
// scripted answers and the virtual times at which they start, MP services, the input levels over
// time and the BMC's answers to the OEM wait messages. Read from the scenario file with the same
// checks as the rest of it, and set up in the simulated blade.
//
//   "pci": {"bridges": [{"at": "00:02.0", "secondary_bus": 4,
//                        "devices": [{"device": 0, "vendor": "0x8086", "device_id": "0x10FB",
//                                     "functions": 4}]}]},
//   "adapter_drivers": [{"name": "net8086", "starts": [{"on": "04:00.0", "at_ms": 200}],
//                        "answers": [{"text": "SET BootEnable=ENABLE", "status_word": "0xF002"}]}],
//   "mp_services": {"processors": 8},
//   "bmc": {"wait_messages": [{"message": "ends", "code": "0xC0"}]}
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/adapter_drivers.h"
#include "sim/pci_bus.h"
#include "tools/json_view.h"

namespace sim {
class Blade;
}

namespace tools {

struct PciBridgeSetup {
  sim::PciAddress At;
  UINT8 SecondaryBus;
};

struct PciFunctionSetup {
  sim::PciAddress At;
  UINT16 VendorId;
  UINT16 DeviceId;
};

struct PciSetup {
  std::vector<PciBridgeSetup> Bridges;
  // Every function with a type-0 header, in the order described: the order of their PCI I/O
  // handles unless PciIoOrder gives another.
  std::vector<PciFunctionSetup> Functions;
  std::optional<std::vector<sim::PciAddress>> PciIoOrder;
};

// One scripted answer of an adapter driver's Execute: for its call number Call, or for a command
// text (as the driver receives it) Times times (-1: every time).
struct ClpAnswerSetup {
  std::optional<unsigned> Call;
  std::optional<std::string> Text;
  int Times = -1;
  sim::ClpAnswer Answer;
};

struct AdapterStartSetup {
  sim::PciAddress On;
  uint64_t AtMicroseconds;
};

struct AdapterDriverSetup {
  std::string Name;
  std::optional<sim::ClpAnswer> DefaultAnswer;
  std::vector<ClpAnswerSetup> Answers;
  std::vector<AdapterStartSetup> Starts;
};

struct MpSetup {
  bool Present = true;
  std::optional<UINTN> Processors; // the boot processor included
  std::optional<EFI_STATUS> StartupFailure;
  std::optional<UINT64> ClockModulation; // IA32_CLOCK_MODULATION of every processor at power-on
};

// An input level from a virtual time on.
struct InputChange {
  uint64_t AtMicroseconds;
  bool High;
};

// The BMC's answer to the wait-begins or wait-ends message: a completion code or a transport
// status, for the next Times such messages.
struct WaitMessageAnswer {
  enum class Which { Begins, Ends, Either };
  Which Message;
  std::optional<UINT8> Code;
  std::optional<EFI_STATUS> Status;
  int Times;
};

struct AdapterSetup {
  PciSetup Pci;
  std::vector<AdapterDriverSetup> Drivers;
  MpSetup Mp;
  std::vector<InputChange> AdapterReadyChanges; // "adapter_ready" given as changes over time
  std::vector<InputChange> WaitEnableChanges;
  std::vector<WaitMessageAnswer> WaitAnswers;
};

// The readers, each for one key of the scenario file.
void PciFromJson(const JsonView& V, AdapterSetup& Setup);
void AdapterDriversFromJson(const JsonView& V, AdapterSetup& Setup);
void MpServicesFromJson(const JsonView& V, AdapterSetup& Setup);
std::vector<InputChange> InputChangesFromJson(const JsonView& V);
WaitMessageAnswer WaitMessageAnswerFromJson(const JsonView& V);

// "bb:dd.f" in hexadecimal; anything else fails at V's place.
sim::PciAddress PciAddressFromJson(const JsonView& V);

// The function described at Address, if any.
const PciFunctionSetup* FindPciFunction(const PciSetup& Pci, sim::PciAddress Address);

// Builds the topology, the drivers with their scripts, the processors and the input levels in
// Blade (whose MP services the caller installed or left out). The drivers are added in order, so
// driver I of the setup is Blade.Adapters[I].
void SetUpAdapters(sim::Blade& Blade, const AdapterSetup& Setup);

// True when the request is the wait-begins (Begins) or wait-ends message.
bool IsWaitMessage(UINT8 NetFn, UINT8 Cmd, const UINT8* Data, UINT8 Size, bool Begins);

} // namespace tools
