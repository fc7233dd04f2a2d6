// The seed corpora of the fuzz targets, written by make-seeds: inputs that each start the fuzzer
// somewhere worth going.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/blade_input.h"
#include "mailbox_format/mailbox_image.h"

namespace fuzz {

struct Seed {
  std::string Name; // the file's name
  std::vector<uint8_t> Bytes;
};

// The FRU section of device Id holding Image: its bytes from the header to the last piece.
FruSection MailboxSection(uint8_t Id, const mailbox_format::MailboxImage& Image);

std::vector<Seed> PlatformSeeds();
std::vector<Seed> AdapterSeeds();
std::vector<Seed> RewriteSeeds();

} // namespace fuzz
