// Sizes and checks of SMBIOS records as the firmware's SMBIOS protocol holds them: the formatted
// area, then NUL-terminated strings, then one more NUL (two NULs when there are no strings).
#pragma once

#include "uefi/types.h"

// The largest record handed across SmbiosEditProtocol, whose sizes are 16-bit.
constexpr UINTN SmbiosRecordMax = 0xFFFF;
constexpr UINTN SmbiosHeaderSize = 4;

// Size of the whole record at Record, looking at no more than Limit bytes; 0 when the formatted
// area is shorter than a header or the string set does not end within Limit.
UINTN SmbiosRecordSize(const UINT8* Record, UINTN Limit);

inline UINT16 SmbiosRecordHandle(const UINT8* Record) {
  return static_cast<UINT16>(Record[2] | (Record[3] << 8));
}
