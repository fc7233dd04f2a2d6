#include "mailbox_format/result_records.h"

#include <algorithm>

namespace mailbox_format {

std::vector<uint8_t> EncodeResultRecord(const ResultRecordValue& Record) {
  const UINT32 S = Record.Status;
  return {static_cast<uint8_t>(Record.Id >> 8),
          static_cast<uint8_t>(Record.Id),
          static_cast<uint8_t>(S),
          static_cast<uint8_t>(S >> 8),
          static_cast<uint8_t>(S >> 16),
          static_cast<uint8_t>(S >> 24)};
}

ResultRecordValue DecodeResultRecord(const uint8_t* B) {
  return {
      static_cast<UINT16>((B[0] << 8) | B[1]),
      static_cast<UINT32>(B[2] | (B[3] << 8) | (B[4] << 16) | (static_cast<UINT32>(B[5]) << 24))};
}

bool RecordUnwritten(const uint8_t* Bytes) {
  return std::all_of(Bytes, Bytes + ResultRecordSize, [](uint8_t V) { return V == 0xFF; });
}

std::string StatusWordName(UINT32 Status) {
  switch (Status) {
  case 0x0E00:
    return "Done";
  case 0xFD02:
    return "BadKeyword";
  case 0xF502:
    return "Refused";
  case 0xFFFFFFFF:
    return "not written";
  }
  // Adapters answer with their own words; any of these bits means the command failed.
  return (Status & 0xF0FF) != 0 ? "failed" : "done";
}

} // namespace mailbox_format
