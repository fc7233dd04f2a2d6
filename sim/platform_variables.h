// The platform variables as the blade's other firmware keeps them: names, vendor GUIDs, documented
// sizes and attributes. Written down here rather than taken from the driver, so that a driver that
// names or sizes a variable wrongly fails to find it.
#pragma once

#include <cstddef>

#include "uefi/types.h"

namespace sim {

struct VariableSpec {
  const char16_t* Name;
  EFI_GUID Guid;
  size_t Size;
  UINT32 Attributes; // 6: boot-service and runtime access; 7: non-volatile as well
};

namespace vars {

constexpr EFI_GUID TalBladeDataGuid = {
    0x3C095E8C, 0x7653, 0x11E1, {0xA8, 0xEB, 0x08, 0x00, 0x27, 0xFA, 0x6E, 0x7F}};
constexpr EFI_GUID SystemSetupGuid = {
    0xEC87D643, 0xEBA4, 0x4BB5, {0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9}};
constexpr EFI_GUID ServerSetupGuid = {
    0x01239999, 0xFC0E, 0x4B6E, {0x9E, 0x79, 0xD5, 0x4D, 0x5D, 0xB6, 0xCD, 0x20}};

constexpr VariableSpec TalBladeData = {u"TalBladeData", TalBladeDataGuid, 280, 6};
constexpr VariableSpec SystemSetup = {u"Setup", SystemSetupGuid, 731, 7};
constexpr VariableSpec ServerSetup = {u"Setup", ServerSetupGuid, 102, 7};
constexpr VariableSpec CLPFailureFlag = {u"CLPFailureFlag", TalBladeDataGuid, 1, 6};
constexpr VariableSpec ClpCommandFruIdList = {u"ClpCommandFruIdList", TalBladeDataGuid, 6, 6};

} // namespace vars
} // namespace sim
