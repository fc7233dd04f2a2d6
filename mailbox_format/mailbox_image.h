// Command mailboxes as a BMC lays them out in its FRU devices: building FRU images from command
// lists, and decoding FRU images (or dumps) back into header, lists and result records. Used by the
// simulated BMC, the tools, the firmware runner and the tests.
//
//   mailbox_format::MailboxImage Image;                          // 4096 bytes, header at 512
//   Image.Lists[0] = mailbox_format::MailboxList{{{0x0001, "SET B1 OEMTAL_NUMA=ENABLE"}}};
//   std::vector<uint8_t> Bytes = mailbox_format::EncodeMailboxImage(Image); // a plain FRU file
//   mailbox_format::DecodedMailbox Back = mailbox_format::DecodeMailboxImage(Bytes);
//   // Back.Image encodes to Bytes again
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mailbox_format/layout.h"
#include "mailbox_format/result_records.h"

namespace mailbox_format {

// What the mailbox format cannot hold, or a layout that does not fit its FRU device.
class MailboxFormatError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

struct MailboxCommand {
  UINT16 Id;
  std::string Text; // 8-bit text without its NUL
};

struct MailboxList {
  std::vector<MailboxCommand> Commands;
  // A BMC always ends a list with id 0xFFFF; tests of the overflow rule may leave it off.
  bool Terminated = true;
  // Where the list starts; when unset it goes right behind the previous piece.
  std::optional<UINT16> Offset{};
};

// A result record somewhere in the result area (an unwritten record is all 0xFF bytes).
struct PlacedResultRecord {
  UINT8 List;
  UINT8 Index;
  ResultRecordValue Record;
};

// Bytes the mailbox description does not cover (other FRU areas, damaged lists), kept so that a
// decoded image builds back to the same bytes.
struct RawBytes {
  size_t Offset;
  std::vector<uint8_t> Bytes;
};

// A whole FRU device image holding one mailbox.
struct MailboxImage {
  size_t Size = 4096;
  UINT8 Fill = 0;
  UINT16 HeaderOffset = MailboxFirstOffset;
  // Header bytes 4..7: the host ignores them but counts them in the checksum.
  std::array<uint8_t, 4> HeaderReserved = {0x01, 0x00, 0x00, 0x00};
  // The header's last word; when unset it is computed so that the checksum holds.
  std::optional<UINT16> ChecksumWord;
  std::array<uint8_t, MailboxLockBytes> Lock = {0, 0, 0};
  // Lists 0 to 7; an unset list has offset 0 in the header.
  std::array<std::optional<MailboxList>, MailboxCommandLists> Lists;
  // Unset: right behind the lists on a paragraph boundary. 0: no result area.
  std::optional<UINT16> ResultAreaOffset;
  std::vector<PlacedResultRecord> Results;
  std::vector<RawBytes> Raw; // written last, over everything else
};

// Where the pieces of a mailbox go.
struct MailboxLayout {
  UINT16 HeaderOffset;
  std::array<UINT16, MailboxCommandLists> ListOffsets;
  std::array<size_t, MailboxCommandLists> ListSizes; // bytes, the end id included
  UINT16 ResultAreaOffset;
  size_t End; // first byte past the last piece
};

// The 28 header bytes with a valid checksum (unless asked otherwise).
std::vector<uint8_t> EncodeMailboxHeader(const std::array<UINT16, MailboxCommandLists>& ListOffsets,
                                         UINT16 ResultAreaOffset, bool BadChecksum = false);

// The bytes of one command list: id, text, NUL per command, then 0xFFFF when terminated.
std::vector<uint8_t> EncodeCommandList(const std::vector<MailboxCommand>& Commands, bool Terminate);

// Places the pieces, refusing (MailboxFormatError) what the format cannot hold: a header offset
// that is no candidate, more than eight lists' worth, a text over 255 characters or with a NUL, the
// end id used as a command id, pieces that overlap or reach past the image or offset 65535.
MailboxLayout PlaceMailbox(const MailboxImage& Image);

// The FRU image: Fill bytes, the mailbox, unwritten (0xFF) result records, the records given, and
// the raw bytes. Refuses what PlaceMailbox refuses, and records or raw bytes that do not fit.
std::vector<uint8_t> EncodeMailboxImage(const MailboxImage& Image);

// Writes the mailbox of Image into Bytes (which must be at least Image.Size long), leaving every
// byte outside its pieces as it was. Returns the layout.
MailboxLayout WriteMailboxInto(std::vector<uint8_t>& Bytes, const MailboxImage& Image);

// What a decoded list or record looks like to the host, for reports.
struct DecodedList {
  UINT8 Number;
  UINT16 Offset;
  std::vector<UINT16> CommandOffsets; // where each record starts
  bool Terminated;
  std::string Problem; // why the walk stopped early, if it did
  bool Overflow;       // the OverflowMarker sits at the start of its result area
};

struct DecodedMailbox {
  MailboxImage Image; // encodes back to exactly the decoded bytes
  bool ChecksumValid;
  UINT16 ChecksumWord;
  std::vector<DecodedList> Lists;
  std::vector<std::string> Notes; // what looked odd (overlaps, damaged lists)
};

// Finds the mailbox as the host does (the first "$FIP" among the eight candidates) and decodes it.
// Throws MailboxFormatError when no candidate holds the signature or the image is larger than a
// FRU device. A bad checksum is decoded all the same and shows in ChecksumValid.
DecodedMailbox DecodeMailboxImage(const std::vector<uint8_t>& Bytes);

} // namespace mailbox_format
