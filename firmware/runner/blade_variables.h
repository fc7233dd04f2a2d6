// The platform variables a boot starts from, as the runner creates them: names, vendor GUIDs,
// attributes and sizes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

constexpr char TalBladeDataGuid[] = "3C095E8C-7653-11E1-A8EB-080027FA6E7F";
constexpr char SystemSetupGuid[] = "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9";
constexpr char ServerSetupGuid[] = "01239999-FC0E-4B6E-9E79-D54D5DB6CD20";
constexpr uint32_t VolatileAttributes = 6;    // TalBladeData, CLPFailureFlag
constexpr uint32_t NonVolatileAttributes = 7; // the two Setup variables
constexpr size_t TalBladeDataSize = 280;
constexpr size_t SystemSetupSize = 731;
constexpr size_t ServerSetupSize = 102;

} // namespace fw
