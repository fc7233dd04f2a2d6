// Hexadecimal text for numbers, bytes and GUIDs, as the tools, the simulated blade and the firmware
// runner write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "uefi/types.h"

namespace mailbox_format {

// "0x" and at least Digits uppercase digits: HexNumber(0x1F, 4) is "0x001F".
std::string HexNumber(uint64_t Value, int Digits);

// Uppercase pairs with Separator between them: "01 0A FF" by default.
std::string HexBytesText(const std::vector<uint8_t>& Bytes, const char* Separator = " ");

// The registry form, uppercase: "3C095E8C-7653-11E1-A8EB-080027FA6E7F".
std::string GuidText(const EFI_GUID& Guid);

} // namespace mailbox_format
