#include "tools/adapter_probe.h"

#include <algorithm>
#include <cstdio>

#include "adapter/command_rewrite.h"
#include "adapter/slot_table.h"
#include "core/driver_state.h"
#include "core/entry.h"
#include "platform/text.h"

namespace tools {

DriverSandbox::DriverSandbox() {
  ResetDriverState();
  RestoreAdapterSlotTable();
  InitServiceTables(Blade_.Firmware.ImageHandle(), Blade_.Firmware.SystemTable());
}

DriverSandbox::~DriverSandbox() {
  ResetDriverState();
  RestoreAdapterSlotTable();
}

RewriteOutcome RewriteForPosition(const std::string& Text, UINT8 Row, UINT32 VendorDevice) {
  // The line as the host holds it: in a zero-filled buffer of the host's size.
  CHAR8 Buffer[TextBufferSize] = {};
  std::copy_n(Text.begin(), std::min<size_t>(Text.size(), TextBufferSize - 1), Buffer);
  UINT8 Flags = 0; // not after the arrival wait: nothing here touches a variable
  RewriteOutcome O;
  O.Status = RewriteAdapterCommand(nullptr, Buffer, Row, VendorDevice, &O.Word, &Flags);
  O.Sent = !EFI_ERROR(O.Status) && (Flags & CommandFlagNoRecord) == 0;
  O.Reset = (Flags & CommandFlagReset) != 0;
  O.Text = Buffer;
  return O;
}

std::string BridgeName(UINT8 Row) {
  const UINT32 Address = AdapterSlotTable[Row].BridgeAddress;
  char Name[16];
  std::snprintf(Name, sizeof(Name), "%02X:%02X.%X", unsigned(Address >> 16 & 0xFF),
                unsigned(Address >> 11 & 0x1F), unsigned(Address >> 8 & 0x7));
  return Name;
}

} // namespace tools
