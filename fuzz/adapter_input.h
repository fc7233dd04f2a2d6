// A fuzz input for adapter arrivals: the blade of blade_input.h (FRU devices with their mailboxes,
// variables, platform answers, missing protocols, failures, the BMC's misbehaviour) and, in
// sections of their own, the PCI topology, the adapter drivers' answers, the input levels over
// virtual time, the MP services, and when which adapter driver starts on which function.
//
//   'X' bridge     position (below 8: the bridge of the adapter slot table's positions in the
//                  order of BridgePositions; otherwise the bus, device and function bytes that
//                  follow), secondary bus
//   'D' device     bridge (the nth 'X', modulo their count), device number, vendor (0: 0x8086,
//                  1: 0x14E4, 2: 0x10DF, 3: the u16 that follows), u16 device id, functions (1-8)
//   'E' answer     driver, call number (0: every call without an answer of its own), u16 status
//                  word, EFI status (bit 4 set: FuzzStatuses[low 4 bits]; else EFI_SUCCESS)
//   'L' level      input (bit 0: 0 adapter ready, 1 wait enable; bit 1: high), at (x 100 ms)
//   'Q' processors bits (0: no MP services, 1: StartupAllAPs fails with FuzzStatuses[status]),
//                  application processors, status, IA32_CLOCK_MODULATION at power-on
//   'Y' start      driver (0-3), bus, device, function, at (x 100 ms)
//
// Every other tag is one of blade_input.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/blade_input.h"
#include "sim/pci_bus.h"

namespace fuzz {

// The bridges above the adapter slot table's positions.
extern const sim::PciAddress BridgePositions[8];

constexpr uint8_t AdapterDriverCount = 4;

struct BridgeSection {
  uint8_t Position = 0;
  sim::PciAddress Other; // the bridge when Position is 8 or more
  uint8_t SecondaryBus = 0;

  sim::PciAddress At() const;
};

struct DeviceSection {
  uint8_t Bridge = 0;
  uint8_t Device = 0;
  VendorPick Vendor;
  uint16_t DeviceId = 0;
  uint8_t Functions = 1;
};

struct ExecuteAnswer {
  uint8_t Driver = 0;
  uint8_t Call = 0;
  uint16_t StatusWord = 0x0500;
  uint8_t Status = 0;
};

struct LevelChange {
  uint8_t Input = 0; // bit 0: wait enable rather than adapter ready; bit 1: high
  uint8_t At = 0;
};

struct MpSection {
  bool Present = true;
  bool StartupFails = false;
  uint8_t Processors = 3; // application processors
  uint8_t Status = 0;
  uint8_t ClockModulation = 0;
};

struct StartSection {
  uint8_t Driver = 0;
  sim::PciAddress On;
  uint8_t At = 0;
};

struct AdapterInput {
  BladeInput Blade;
  std::vector<BridgeSection> Bridges;
  std::vector<DeviceSection> Devices;
  std::vector<ExecuteAnswer> Answers;
  std::vector<LevelChange> Levels;
  MpSection Mp;
  std::vector<StartSection> Starts;
};

AdapterInput DecodeAdapter(const uint8_t* Data, size_t Size);
std::vector<uint8_t> EncodeAdapter(const AdapterInput& Input);

} // namespace fuzz
