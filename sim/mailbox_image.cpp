#include "sim/mailbox_image.h"

#include <stdexcept>

#include "sim/bmc.h"

namespace sim {

namespace {

void PutBe16(std::vector<uint8_t>& Bytes, size_t At, UINT16 Value) {
  Bytes[At] = static_cast<uint8_t>(Value >> 8);
  Bytes[At + 1] = static_cast<uint8_t>(Value);
}

// The header's last word is free for the BMC to use; it makes the 14 words add up to 0.
void SealChecksum(std::vector<uint8_t>& Header, bool Bad) {
  UINT16 Sum = 0;
  for (size_t I = 0; I + 2 < Header.size(); I += 2) {
    Sum = static_cast<UINT16>(Sum + ((Header[I] << 8) | Header[I + 1]));
  }
  PutBe16(Header, 26, static_cast<UINT16>(0x10000 - Sum + (Bad ? 1 : 0)));
}

} // namespace

std::vector<uint8_t> EncodeMailboxHeader(const std::array<UINT16, MailboxCommandLists>& ListOffsets,
                                         UINT16 ResultAreaOffset, bool BadChecksum) {
  std::vector<uint8_t> Header(sizeof(MailboxHeader), 0);
  Header[0] = '$';
  Header[1] = 'F';
  Header[2] = 'I';
  Header[3] = 'P';
  Header[4] = 0x01; // format version, as BMCs fill it; the host ignores it
  for (size_t J = 0; J < ListOffsets.size(); ++J) {
    PutBe16(Header, 8 + 2 * J, ListOffsets[J]);
  }
  PutBe16(Header, 24, ResultAreaOffset);
  SealChecksum(Header, BadChecksum);
  return Header;
}

std::vector<uint8_t> EncodeCommandList(const std::vector<MailboxCommand>& Commands,
                                       bool Terminate) {
  std::vector<uint8_t> Bytes;
  for (const MailboxCommand& Command : Commands) {
    Bytes.push_back(static_cast<uint8_t>(Command.Id >> 8));
    Bytes.push_back(static_cast<uint8_t>(Command.Id));
    Bytes.insert(Bytes.end(), Command.Text.begin(), Command.Text.end());
    Bytes.push_back(0);
  }
  if (Terminate) {
    Bytes.push_back(0xFF);
    Bytes.push_back(0xFF);
  }
  return Bytes;
}

MailboxLayout WriteMailbox(Bmc& Bmc, UINT8 FruId, const MailboxContents& Contents) {
  if (Contents.Lists.size() > MailboxCommandLists) {
    throw std::invalid_argument("a mailbox holds at most eight command lists");
  }
  MailboxLayout Layout{};
  Layout.HeaderOffset = Contents.HeaderOffset;
  size_t Next = Contents.HeaderOffset + sizeof(MailboxHeader) + 4; // lock bytes and a spare
  std::vector<std::pair<size_t, std::vector<uint8_t>>> Pieces;
  for (size_t J = 0; J < Contents.Lists.size(); ++J) {
    std::vector<uint8_t> List = EncodeCommandList(Contents.Lists[J], Contents.TerminateLists);
    if (List.empty()) {
      continue;
    }
    Layout.ListOffsets[J] = static_cast<UINT16>(Next);
    Pieces.emplace_back(Next, std::move(List));
    Next += Pieces.back().second.size();
  }
  // BMCs start the result area on a paragraph boundary.
  size_t ResultArea =
      Contents.ResultAreaOffset != 0 ? Contents.ResultAreaOffset : (Next + 15) & ~size_t{15};
  Layout.ResultAreaOffset = Contents.NoResultArea ? 0 : static_cast<UINT16>(ResultArea);
  Layout.End = ResultArea + ResultListStride * MailboxCommandLists;
  if (Layout.End > Bmc.Fru(FruId).size() || Layout.End > 0x10000) {
    throw std::invalid_argument("the mailbox does not fit its FRU device");
  }

  std::vector<uint8_t> Header =
      EncodeMailboxHeader(Layout.ListOffsets, Layout.ResultAreaOffset, Contents.BadChecksum);
  Header.insert(Header.end(), {0, 0, 0}); // LockTurn, BmcLockFlag, HostLockFlag
  Bmc.WriteFru(FruId, Contents.HeaderOffset, Header);
  for (const auto& [Offset, Bytes] : Pieces) {
    Bmc.WriteFru(FruId, static_cast<UINT16>(Offset), Bytes);
  }
  Bmc.WriteFru(FruId, static_cast<UINT16>(ResultArea),
               std::vector<uint8_t>(ResultListStride * MailboxCommandLists, 0xFF));
  return Layout;
}

ResultRecordValue ReadResultRecord(const Bmc& Bmc, UINT8 FruId, UINT16 ResultAreaOffset, UINT8 List,
                                   UINT8 Index) {
  std::vector<uint8_t> B =
      Bmc.ReadFru(FruId, ResultRecordOffset(ResultAreaOffset, List, Index), ResultRecordSize);
  return {
      static_cast<UINT16>((B[0] << 8) | B[1]),
      static_cast<UINT32>(B[2] | (B[3] << 8) | (B[4] << 16) | (static_cast<UINT32>(B[5]) << 24))};
}

} // namespace sim
