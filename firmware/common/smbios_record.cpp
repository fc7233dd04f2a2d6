#include "firmware/common/smbios_record.h"

UINTN SmbiosRecordSize(const UINT8* Record, UINTN Limit) {
  if (Record == nullptr || Limit < SmbiosHeaderSize) {
    return 0;
  }
  const UINTN Formatted = Record[1];
  if (Formatted < SmbiosHeaderSize) {
    return 0;
  }
  // The string set ends at the first pair of NULs at or after the formatted area; an empty set is
  // exactly that pair.
  for (UINTN At = Formatted; At + 1 < Limit; ++At) {
    if (Record[At] == 0 && Record[At + 1] == 0) {
      return At + 2;
    }
  }
  return 0;
}
