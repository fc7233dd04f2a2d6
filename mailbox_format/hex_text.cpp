#include "mailbox_format/hex_text.h"

#include <cstdio>

namespace mailbox_format {

std::string HexNumber(uint64_t Value, int Digits) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

std::string HexBytesText(const std::vector<uint8_t>& Bytes, const char* Separator) {
  std::string Out;
  for (uint8_t B : Bytes) {
    char Pair[4];
    std::snprintf(Pair, sizeof(Pair), "%02X", B);
    Out += (Out.empty() ? "" : Separator) + std::string(Pair);
  }
  return Out;
}

std::string GuidText(const EFI_GUID& G) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", G.Data1,
                G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3], G.Data4[4],
                G.Data4[5], G.Data4[6], G.Data4[7]);
  return Text;
}

} // namespace mailbox_format
