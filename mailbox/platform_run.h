// The platform command run: command list 0 of the platform mailbox, carried out line by line with
// up to three executions each, a result record per platform command, the overflow marker for a
// list longer than 32, and the reset a command asked for.
#pragma once

#include "core/protocols.h"

constexpr UINT8 PlatformCommandExecutions = 3;

// Takes the mailbox lock at HeaderOffset and keeps it on every way out (the completion signal
// releases it). EFI_SUCCESS when every command came back done or there was nothing to run;
// EFI_ABORTED when a command failed three times or the run was cut short by a FRU access or a
// firmware failure; the pool's status when no text buffer could be had. Resets the system (and
// does not return) when a command needs it and the run was not cut short.
EFI_STATUS RunPlatformCommands(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId,
                               UINT16 HeaderOffset);
