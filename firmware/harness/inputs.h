// The platform input levels as the harness drives and reads them. Where the machine has a 16550
// UART whose modem-control register sits at the adapter-ready port (firmware/runner/
// slot_machine.h), bit 0 of that port is its DTR output, which the harness raises and lowers.
#pragma once

#include "uefi/types.h"

void DriveReadyInput(bool Level);
// Raises the input from a one-shot timer at TPL_NOTIFY, Milliseconds from now. False (reported)
// when the timer cannot be set.
bool ArmReadyInputRise(UINT64 Milliseconds);
// ready-wait line: waits for the input as the driver's notification does.
void WaitForReadyInput(UINT64 Milliseconds);
// inputs line: both ports read as 32 bits, and whether the timed rise has come.
void ReportInputs(const char* Tag);
