#include "firmware/runner/image_map.h"

#include <filesystem>
#include <sstream>

#include "firmware/runner/host_os.h"

namespace fw {

std::map<uint32_t, std::string> ReadImageMap(const std::string& Text) {
  constexpr const char* BaseLine = "Preferred load address is ";
  std::map<uint32_t, std::string> Symbols;
  const size_t At = Text.find(BaseLine);
  if (At == std::string::npos) {
    return Symbols;
  }
  const uint64_t Base =
      std::stoull(Text.substr(At + std::string(BaseLine).size(), 16), nullptr, 16);
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    // " 0001:00000030       DriverEntry                0000000140001030     entry.cpp.obj"
    std::istringstream Words(Line);
    std::string Place, Name, Address;
    if (!(Words >> Place >> Name >> Address) || Place.size() != 13 || Place[4] != ':' ||
        Address.size() != 16 ||
        Address.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      continue;
    }
    const uint64_t Value = std::stoull(Address, nullptr, 16);
    if (Value >= Base && Value - Base <= UINT32_MAX) {
      Symbols[static_cast<uint32_t>(Value - Base)] = Name;
    }
  }
  return Symbols;
}

std::map<uint32_t, std::string> DriverImageMap() {
  const std::filesystem::path Map =
      std::filesystem::path(BLADECFG_FIRMWARE_IMAGE_DIR) / "BladeCfgDxe.map";
  return ReadImageMap(ReadFile(Map));
}

} // namespace fw
