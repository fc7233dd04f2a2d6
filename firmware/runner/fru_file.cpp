#include "firmware/runner/fru_file.h"

#include <algorithm>

namespace fw {

std::vector<uint8_t> FruFile(const std::map<unsigned, mailbox_format::MailboxImage>& Mailboxes,
                             unsigned Count) {
  std::vector<uint8_t> File(static_cast<size_t>(FruAreaSize) * Count, 0);
  for (const auto& [Device, Image] : Mailboxes) {
    if (Device >= Count || Image.Size != FruAreaSize) {
      throw mailbox_format::MailboxFormatError(
          "a mailbox image must fill one of the FRU areas of the file");
    }
    const std::vector<uint8_t> Bytes = mailbox_format::EncodeMailboxImage(Image);
    std::copy(Bytes.begin(), Bytes.end(), File.begin() + static_cast<long>(Device) * FruAreaSize);
  }
  return File;
}

} // namespace fw
