// CLP status words the platform commands answer with, and the CommandFlags bits that a command run
// shares with the executors it calls.
#pragma once

#include "uefi/types.h"

constexpr UINT32 ClpStatusDone = 0x0E00;       // accepted (also when nothing had to change)
constexpr UINT32 ClpStatusBadKeyword = 0xFD02; // a platform command with an unknown keyword
constexpr UINT32 ClpStatusRefused = 0xF502;    // not allowed now, or not allowed at all

// CommandFlags bits.
constexpr UINT8 CommandFlagNoRecord = 0x01;  // the line is not this executor's: no result record
constexpr UINT8 CommandFlagReset = 0x02;     // a change needs a reset at the end of the run
constexpr UINT8 CommandFlagAfterWait = 0x40; // an adapter run that follows the arrival wait
