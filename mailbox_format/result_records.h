// Result records as the host writes them into the result area, and the names of the status words
// they hold.
#pragma once

#include <cstdint>
#include <string>

#include "mailbox_format/layout.h"

namespace mailbox_format {

struct ResultRecordValue {
  UINT16 Id;
  UINT32 Status;
  bool operator==(const ResultRecordValue& O) const { return Id == O.Id && Status == O.Status; }
};

// The six bytes of a record: id high, id low, then the status lowest byte first.
std::vector<uint8_t> EncodeResultRecord(const ResultRecordValue& Record);
ResultRecordValue DecodeResultRecord(const uint8_t* Bytes);

// A record slot the host has not written holds six 0xFF bytes.
bool RecordUnwritten(const uint8_t* Bytes);

// "Done", "BadKeyword", "Refused" for the platform's words, "not written" for 0xFFFFFFFF, and for
// an adapter's word "failed" or "done" as it has any of the failure bits 0xF0FF.
std::string StatusWordName(UINT32 Status);

} // namespace mailbox_format
