// Builds command mailboxes in the simulated BMC's FRU devices the way a BMC lays them out, and
// reads back the host's result records. Used by tests and by the tools.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mailbox/mailbox.h"

namespace sim {

class Bmc;

struct MailboxCommand {
  UINT16 Id;
  std::string Text;
};

struct MailboxContents {
  UINT16 HeaderOffset = MailboxFirstOffset;
  // Command lists 0 to 7; an absent or empty-and-unterminated list gets offset 0 in the header.
  std::vector<std::vector<MailboxCommand>> Lists;
  // End every list with id 0xFFFF (a BMC always does; tests of the overflow rule may not).
  bool TerminateLists = true;
  // 0 places the result area right behind the command lists.
  UINT16 ResultAreaOffset = 0;
  bool NoResultArea = false;
  bool BadChecksum = false;
};

struct MailboxLayout {
  UINT16 HeaderOffset;
  std::array<UINT16, MailboxCommandLists> ListOffsets;
  UINT16 ResultAreaOffset;
  size_t End; // first byte past the result area
};

// The 28 header bytes with a valid checksum (unless asked otherwise).
std::vector<uint8_t> EncodeMailboxHeader(const std::array<UINT16, MailboxCommandLists>& ListOffsets,
                                         UINT16 ResultAreaOffset, bool BadChecksum = false);

// The bytes of one command list: id, text, NUL per command, then 0xFFFF when terminated.
std::vector<uint8_t> EncodeCommandList(const std::vector<MailboxCommand>& Commands, bool Terminate);

// Writes header, lock bytes (all 0), lists and a result area of 0xFF bytes into the FRU device,
// growing nothing: the device must be large enough.
MailboxLayout WriteMailbox(Bmc& Bmc, UINT8 FruId, const MailboxContents& Contents);

struct ResultRecordValue {
  UINT16 Id;
  UINT32 Status;
  bool operator==(const ResultRecordValue& O) const { return Id == O.Id && Status == O.Status; }
};

ResultRecordValue ReadResultRecord(const Bmc& Bmc, UINT8 FruId, UINT16 ResultAreaOffset, UINT8 List,
                                   UINT8 Index);

} // namespace sim
