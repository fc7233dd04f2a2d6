// A fuzz input for RewriteAdapterCommand on its own: the row, the vendor/device word, the command
// flags, what fails around a platform setting, and the command text.
//
//   byte 0      row of the adapter slot table (any value: past the table is refused)
//   byte 1      vendor (VendorPick): 0 0x8086, 1 0x14E4, 2 0x10DF, 3 the u16 that follows
//   u16         device id
//   byte        CommandFlags on entry
//   byte        failures, by bit: 0 SystemSetup read, 1 TalBladeData read, 2 SystemSetup write,
//               3 TalBladeData write, 4 the BMC's UUID message, 5 no SMBIOS edit protocol, 6 the
//               pool's first allocation
//   byte        cores per package (0: 8)
//   the rest    the text: at most 256 bytes in the 256-byte buffer, zero-filled behind; 256 bytes
//               without a NUL leave it unterminated
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/blade_input.h"
#include "uefi/types.h"

namespace fuzz {

constexpr size_t CommandBufferSize = 256;

struct RewriteInput {
  uint8_t Row = 0;
  VendorPick Vendor;
  uint16_t Device = 0;
  uint8_t Flags = 0;
  uint8_t Failures = 0;
  uint8_t Cores = 0;
  std::vector<uint8_t> Text; // at most CommandBufferSize bytes

  UINT32 VendorDevice() const;
};

// The failure bits.
enum RewriteFailure : uint8_t {
  FailSystemRead = 1,
  FailBladeRead = 2,
  FailSystemWrite = 4,
  FailBladeWrite = 8,
  FailUuidMessage = 16,
  NoSmbiosEdit = 32,
  FailPool = 64,
};

RewriteInput DecodeRewrite(const uint8_t* Data, size_t Size);
std::vector<uint8_t> EncodeRewrite(const RewriteInput& Input);

// The 256-byte command buffer the text is handed in.
std::array<uint8_t, CommandBufferSize> CommandBuffer(const RewriteInput& Input);

} // namespace fuzz
