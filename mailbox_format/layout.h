// The command mailbox as a BMC lays it out in a FRU device, written down for the host tools, the
// simulated BMC and the tests. The driver keeps its own description (core/byte_format.h): the two
// meet only in the bytes, so a wrong offset on either side shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "uefi/types.h"

namespace mailbox_format {

constexpr size_t FruAddressSpace = 0x10000; // FRU offsets are 16-bit

// The header: "$FIP", four reserved bytes, eight big-endian list offsets, the big-endian result
// area offset and a last word that makes the 14 words add up to 0. It lies at one of the
// candidates 512, 768, ... 2304.
constexpr UINT16 MailboxFirstOffset = 512;
constexpr UINT16 MailboxStride = 256;
constexpr size_t MailboxCandidates = 8;
constexpr size_t HeaderSize = 28;
constexpr uint8_t Signature[4] = {'$', 'F', 'I', 'P'};
constexpr size_t ReservedField = 4;
constexpr size_t ListOffsetField = 8; // list J's offset is at 8 + 2 J
constexpr size_t ResultAreaField = 24;
constexpr size_t ChecksumWordField = 26;

// The lock right behind the header: LockTurn, BmcLockFlag, HostLockFlag.
constexpr size_t MailboxLockBytes = 3;
constexpr size_t LockTurnOffset = 28; // from the header's start
constexpr size_t BmcLockFlagOffset = 29;
constexpr size_t HostLockFlagOffset = 30;

// Command lists: records of a big-endian id and a NUL-terminated text, ended by the end id.
constexpr size_t MailboxCommandLists = 8;
constexpr size_t CommandIdSize = 2;
constexpr UINT16 CommandEndId = 0xFFFF;
constexpr size_t MailboxTextMax = 255;        // the host reads a text into 256 bytes with its NUL
constexpr size_t MailboxCommandsPerList = 32; // the host carries out no more of a list

// The result area: per list 32 records of a big-endian id and a little-endian status word.
constexpr size_t ResultRecordSize = 6;
constexpr size_t ResultRecordsPerList = 32;
constexpr size_t ResultListStride = ResultRecordSize * ResultRecordsPerList;
constexpr size_t ResultAreaSize = ResultListStride * MailboxCommandLists;
constexpr uint8_t OverflowMarker[4] = {0xFD, 0x00, 0x00, 0x00};

inline size_t ResultRecordOffset(size_t ResultArea, size_t List, size_t Index) {
  return ResultArea + ResultListStride * List + ResultRecordSize * Index;
}

inline UINT16 GetBe16(const std::vector<uint8_t>& Bytes, size_t At) {
  return static_cast<UINT16>((Bytes[At] << 8) | Bytes[At + 1]);
}
inline void PutBe16(std::vector<uint8_t>& Bytes, size_t At, UINT16 Value) {
  Bytes[At] = static_cast<uint8_t>(Value >> 8);
  Bytes[At + 1] = static_cast<uint8_t>(Value);
}

} // namespace mailbox_format
