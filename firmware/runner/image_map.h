// The public symbols of an EFI image, from the map lld-link writes beside it (BladeCfgDxe.map):
// what the code at an offset from the image's base is, for the harness's reports of procedure
// addresses.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace fw {

// Offset from the image base (RVA) -> symbol name as the map spells it (decorated C++ names
// included). Lines that are not symbol lines are passed over; a map without a preferred load
// address gives nothing.
std::map<uint32_t, std::string> ReadImageMap(const std::string& Text);

// The map of BladeCfgDxe.efi in the image build the boots use; empty when there is none.
std::map<uint32_t, std::string> DriverImageMap();

} // namespace fw
