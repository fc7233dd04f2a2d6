// The machine the adapter boots run on: QEMU's q35 with PCI Express root ports where the adapter
// slot table expects its bridges, the PCI functions a boot needs behind them, and the devices that
// drive the two platform input levels.
//
// The root ports are 00:02.0, 00:02.2, 00:03.0 and 00:03.1 on the main root, and 41:01.0,
// 41:06.0, 41:08.0 and 41:09.0 on a second root (pxb-pcie) whose bus number is 0x41. OVMF numbers
// the buses behind them itself: 1, 2, 3 and 4, then 0x42, 0x43, 0x44 and 0x45.
#pragma once

#include <string>
#include <vector>

namespace fw {

// One function of a device at device number 0 behind a root port: the root port's location as
// the slot table writes it ("00:03.0"), the function number, and QEMU's device model: e1000e
// (8086:10D3), e1000 (8086:100E), e1000-82545em (8086:100F), virtio-rng-pci (1AF4:1044), ...
struct SlotFunction {
  std::string Bridge;
  unsigned Function = 0;
  std::string Model;
};

// The platform input levels. With nothing at their ports they read all ones: the adapters ready,
// waiting enabled. A 16550 UART at 0x508 puts its modem-control register on port 0x50C, so that
// the adapter-ready input is its DTR output: 0 after reset until the harness raises it. A 16550
// at 0x548 makes bit 9 of port 0x548 its interrupt-enable bit 1, which stays 0: waiting disabled.
struct InputLevels {
  bool AdapterReadyLow = false;
  bool WaitDisabled = false;
};

// QEMU arguments for the root ports and Functions. A function behind a bridge the table does not
// have, a function number above 7, a model that is not a plain device name, or two functions at one
// place give a failure text instead (empty on success). Function 0 of a device with more functions
// is made a multi-function device; a device without function 0 is left as asked, as a machine
// whose firmware cannot see it.
std::string SlotMachineArguments(const std::vector<SlotFunction>& Functions,
                                 std::vector<std::string>* Arguments);

std::vector<std::string> InputLevelArguments(const InputLevels& Levels);

} // namespace fw
