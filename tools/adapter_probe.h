// The driver's adapter rewriting called outside a boot, as the tools ask it what each adapter
// position receives: a simulated blade lends the boot services whose pool the rewriting takes its
// scratch buffers from.
#pragma once

#include <string>

#include "sim/blade.h"
#include "uefi/types.h"

namespace tools {

// The driver's service tables point at a simulated blade of its own while this lives, and the
// driver-wide state (the AdapterSlotTable's FruId column included) starts and ends as loaded. Not
// nested: the inner one would leave the tables pointing nowhere.
class DriverSandbox {
public:
  DriverSandbox();
  ~DriverSandbox();
  DriverSandbox(const DriverSandbox&) = delete;
  DriverSandbox& operator=(const DriverSandbox&) = delete;

private:
  sim::Blade Blade_;
};

// What the adapter at AdapterSlotTable row Row, of vendor and device VendorDevice, receives for a
// command line, outside the arrival wait. Needs a DriverSandbox.
struct RewriteOutcome {
  bool Sent = false;  // the rewriting succeeded and the line goes to this adapter
  bool Reset = false; // the adapter needs a reset after it
  std::string Text;   // the line as the adapter receives it
  EFI_STATUS Status = EFI_SUCCESS;
  UINT32 Word = 0; // the status word the rewriting preset
};
RewriteOutcome RewriteForPosition(const std::string& Text, UINT8 Row, UINT32 VendorDevice);

// The bridge of a row as bus:device.function, in hexadecimal.
std::string BridgeName(UINT8 Row);

} // namespace tools
