// Carries out one platform command line ("SET BOOTCFGSETTING1 " or "SET B1 " and a keyword of the
// PlatformKeywordTable) on TalBladeData and the two Setup variables.
#pragma once

#include "core/protocols.h"
#include "platform/command_status.h"

// Status receives ClpStatusDone, ClpStatusBadKeyword or ClpStatusRefused. A line that is not a
// platform command sets CommandFlagNoRecord (cleared at every call) and is done; a change that
// needs a reset sets CommandFlagReset (never cleared here). Returns EFI_SUCCESS for every outcome,
// or the status of a failing firmware service (platform information, a variable read or write),
// after which the caller abandons its run.
EFI_STATUS ExecutePlatformCommand(IPMI_TRANSPORT_PROTOCOL* Ipmi, const CHAR8* Text, UINT32* Status,
                                  UINT8* Flags);

// Where the keyword starts in a platform command line, or 0 when the line is not one: a line that
// begins with "SET N" belongs to the adapters whatever follows.
UINT16 PlatformKeywordStart(const CHAR8* Text);
