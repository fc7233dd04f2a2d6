// The notification that runs each time an adapter driver installs AdapterClpProtocol.
#pragma once

#include "uefi/tables.h"

void EFIAPI HandleAdapterArrival(EFI_EVENT Event, void* Context);
