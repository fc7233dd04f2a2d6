// The power-restore policy: ServerSetup's AcLink as the command set it, told to the BMC, with the
// value last sent cached in SystemSetup's AcLinkCache (which numbers the policies differently).
#pragma once

#include "core/protocols.h"

// Sends Set Power Restore Policy when AcLink maps to another cache value than AcLinkCache holds,
// and stores that value into SystemSetup's working copy. The request's result is not examined.
void UpdatePowerRestorePolicy(IPMI_TRANSPORT_PROTOCOL* Ipmi, const UINT8* ServerSetupData,
                              UINT8* SystemSetupData);
