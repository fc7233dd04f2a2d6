// The FRU data file of QEMU's BMC simulator: FRU device k is the k-th area of the file.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "mailbox_format/mailbox_image.h"

namespace fw {

constexpr unsigned FruAreaSize = 4096;

// Devices 0 to Count - 1, each FruAreaSize bytes: the mailbox image given for it, or zeros.
std::vector<uint8_t> FruFile(const std::map<unsigned, mailbox_format::MailboxImage>& Mailboxes,
                             unsigned Count = 3);

} // namespace fw
