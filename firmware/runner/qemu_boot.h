// Boots the harness in OVMF under QEMU: a fresh directory with the FAT drive (harness, stand-ins,
// driver image, scenario), the FRU data file for QEMU's BMC simulator (or a link to a BMC program)
// and the OVMF variable store; QEMU runs under `timeout` with a hard limit and never outlives the
// runner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/runner/slot_machine.h"

namespace fw {

enum class MachineLayout {
  Plain,
  // Root ports where the adapter slot table expects its bridges, with SlotFunctions behind them
  // (firmware/runner/slot_machine.h).
  AdapterSlots,
};

struct BootRequest {
  std::string Scenario;
  // The BMC: QEMU's own simulator, whose FRU device k is bytes [k * FruAreaSize, (k + 1) *
  // FruAreaSize) of FruData; or, when ExternalBmcPort is set, a BMC program that listens on that
  // TCP port of the loopback address for QEMU's ipmi-bmc-extern link (FruData is then unused).
  std::vector<uint8_t> FruData;
  unsigned FruAreaSize = 4096;
  uint16_t ExternalBmcPort = 0;
  // Empty: a fresh copy of the pristine OVMF variable store, dropped after the boot. Otherwise
  // the store file to boot with, made from the pristine copy when it does not exist and kept, so
  // that the next boot finds the non-volatile variables this one left.
  std::string VariableStore;
  MachineLayout Layout = MachineLayout::Plain;
  std::vector<SlotFunction> SlotFunctions; // with MachineLayout::AdapterSlots
  InputLevels Inputs;
  unsigned TimeoutSeconds = 60;
};

struct BootResult {
  // Empty when QEMU ran; otherwise why it could not (a missing program, firmware or image).
  std::string SetupFailure;
  int ExitStatus = -1;
  bool TimedOut = false;
  double Seconds = 0;  // from QEMU's start to its exit
  std::string Report;  // what the harness wrote to the debug console
  std::string Console; // the end of QEMU's serial console, for diagnosis
};

// The paths on the drive that scenarios load.
constexpr const char* IpmiTransportImage = "\\BLADE\\IpmiTransportDxe.efi";
constexpr const char* PlatformInfoImage = "\\BLADE\\PlatformInfoDxe.efi";
constexpr const char* SmbiosEditImage = "\\BLADE\\SmbiosEditDxe.efi";
constexpr const char* AdapterClpImage = "\\BLADE\\AdapterClpDxe.efi";
constexpr const char* DriverImage = "\\BLADE\\BladeCfgDxe.efi";

BootResult BootInQemu(const BootRequest& Request);

// Empty when every image a boot needs is there; otherwise which one is missing and how to build it.
std::string MissingImage();

} // namespace fw
