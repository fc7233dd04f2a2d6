// The simulated BMC's side of a command mailbox: writing one into a FRU device as a BMC fills it,
// and reading back the records the host wrote.
#pragma once

#include <vector>

#include "mailbox_format/mailbox_image.h"

namespace sim {

class Bmc;

// A mailbox of lists in order, all terminated or none: the short form most tests need.
struct MailboxContents {
  UINT16 HeaderOffset = mailbox_format::MailboxFirstOffset;
  // Command lists 0 to 7; an empty-and-unterminated list gets offset 0 in the header.
  std::vector<std::vector<mailbox_format::MailboxCommand>> Lists;
  bool TerminateLists = true;
  // 0 places the result area right behind the command lists.
  UINT16 ResultAreaOffset = 0;
  bool NoResultArea = false;
  bool BadChecksum = false;
};

// Writes header, lock bytes (all 0), lists and a result area of 0xFF bytes into the FRU device,
// growing nothing: the device must be large enough.
mailbox_format::MailboxLayout WriteMailbox(Bmc& Bmc, UINT8 FruId, const MailboxContents& Contents);
mailbox_format::MailboxLayout WriteMailbox(Bmc& Bmc, UINT8 FruId,
                                           const mailbox_format::MailboxImage& Image);

mailbox_format::ResultRecordValue
ReadResultRecord(const Bmc& Bmc, UINT8 FruId, UINT16 ResultAreaOffset, UINT8 List, UINT8 Index);

} // namespace sim
