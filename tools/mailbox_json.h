// The readable form of a mailbox image, shared by the scenario files of bladecfg-sim and the
// mailbox image tool: JSON with command lists as ids and texts. Decoding an image gives the same
// form back, with what the decoder saw under "decoded"; building that form again gives the same
// bytes.
//
//   {
//     "size": 4096, "header_offset": 512,
//     "lists": [
//       [ {"id": "0x0001", "text": "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
//         {"id": "0x0002", "text": "SET B1 OEMTAL_NUMA=DISABLE"} ]
//     ]
//   }
#pragma once

#include <nlohmann/json.hpp>

#include "mailbox_format/mailbox_image.h"
#include "tools/json_view.h"

namespace tools {

// Reads a mailbox description; refuses what the mailbox format cannot hold (naming the place), and
// checks that the pieces fit together.
mailbox_format::MailboxImage MailboxFromJson(const JsonView& View);

// The description of a decoded image, with the decoder's findings under "decoded" (which
// MailboxFromJson ignores).
nlohmann::ordered_json MailboxToJson(const mailbox_format::DecodedMailbox& Decoded);

// The name of a record's status word, or the OverflowMarker that covers record 0.
std::string RecordMeaning(const mailbox_format::DecodedMailbox& Decoded,
                          const mailbox_format::PlacedResultRecord& Record);

// A command text as JSON: "text" when it is printable ASCII, else its bytes as "hex". BMC texts are
// bytes, not UTF-8; either way the document stays valid and the text comes back unchanged.
void PutCommandText(nlohmann::ordered_json& Json, const std::string& Text);

// A command text for reading: the text itself when it is printable ASCII, else its bytes in
// brackets.
std::string ReadableText(const std::string& Text);

// A readable listing of a decoded image: header, lists with their records, notes.
std::string DescribeMailbox(const mailbox_format::DecodedMailbox& Decoded);

} // namespace tools
