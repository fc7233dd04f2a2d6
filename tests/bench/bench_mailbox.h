// The platform list the performance measurements run, in the simulated blade and in OVMF alike:
// Commands commands that cycle through keywords of every kind of action, none of which resets.
#pragma once

#include <string>
#include <vector>

#include "mailbox_format/mailbox_image.h"

namespace bench {

inline std::vector<mailbox_format::MailboxCommand> PlatformCommands(int Commands) {
  static const char* const Keywords[] = {"OEMTAL_LOM1=ENABLE",
                                         "OEMTAL_MEZ2=DISABLE",
                                         "OEMTAL_IPL1=NETWORK",
                                         "OEMTAL_IOV1_BUS2=ENABLE",
                                         "OEMTAL_ISCSI=ENABLE",
                                         "OEMTAL_SERIAL=SN0123456789",
                                         "OEMTAL_UUID=00112233445566778899AABBCCDDEEFF",
                                         "OEMTAL_FCOE=0000BEEF"};
  std::vector<mailbox_format::MailboxCommand> List;
  for (int I = 0; I < Commands; ++I) {
    List.push_back(
        {static_cast<UINT16>(I + 1), std::string("SET BOOTCFGSETTING1 ") + Keywords[I % 8]});
  }
  return List;
}

} // namespace bench
