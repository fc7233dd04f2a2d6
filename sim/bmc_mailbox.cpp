#include "sim/bmc_mailbox.h"

#include "sim/bmc.h"

namespace sim {

namespace mf = mailbox_format;

mf::MailboxLayout WriteMailbox(Bmc& Bmc, UINT8 FruId, const mf::MailboxImage& Image) {
  return mf::WriteMailboxInto(Bmc.Fru(FruId), Image);
}

mf::MailboxLayout WriteMailbox(Bmc& Bmc, UINT8 FruId, const MailboxContents& Contents) {
  if (Contents.Lists.size() > mf::MailboxCommandLists) {
    throw mf::MailboxFormatError("a mailbox holds at most eight command lists");
  }
  mf::MailboxImage Image;
  Image.Size = Bmc.Fru(FruId).size();
  Image.HeaderOffset = Contents.HeaderOffset;
  for (size_t J = 0; J < Contents.Lists.size(); ++J) {
    if (!Contents.Lists[J].empty() || Contents.TerminateLists) {
      Image.Lists[J] = mf::MailboxList{Contents.Lists[J], Contents.TerminateLists, std::nullopt};
    }
  }
  if (Contents.NoResultArea) {
    Image.ResultAreaOffset = 0;
  } else if (Contents.ResultAreaOffset != 0) {
    Image.ResultAreaOffset = Contents.ResultAreaOffset;
  }
  if (Contents.BadChecksum) {
    const mf::MailboxLayout Layout = mf::PlaceMailbox(Image);
    const std::vector<uint8_t> Header =
        mf::EncodeMailboxHeader(Layout.ListOffsets, Layout.ResultAreaOffset, /*BadChecksum=*/true);
    Image.ChecksumWord = mf::GetBe16(Header, mf::ChecksumWordField);
  }
  return WriteMailbox(Bmc, FruId, Image);
}

mf::ResultRecordValue ReadResultRecord(const Bmc& Bmc, UINT8 FruId, UINT16 ResultAreaOffset,
                                       UINT8 List, UINT8 Index) {
  const std::vector<uint8_t> Bytes =
      Bmc.ReadFru(FruId, static_cast<UINT16>(mf::ResultRecordOffset(ResultAreaOffset, List, Index)),
                  mf::ResultRecordSize);
  return mf::DecodeResultRecord(Bytes.data());
}

} // namespace sim
