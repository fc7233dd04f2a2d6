// FRU data access over IPMI: raw chunk reads and writes with a busy retry, and the transfers built
// on them, which split every transfer into requests of at most 16 data bytes. Offsets are 16-bit
// and wrap.
#pragma once

#include "core/protocols.h"
#include "uefi/tables.h"

// The delay between busy retries; every caller passes the Stall boot service (microseconds).
typedef EFI_STALL FruDelay;

constexpr UINT8 FruChunkMax = 16;
constexpr UINT8 FruBusyAttempts = 10;
constexpr UINTN FruBusyDelayMicroseconds = 30;

// One Read FRU Data request. Response holds Count + 1 bytes: the count returned, then the data.
// Succeeds only with the whole answer: a count byte other than Count, or an answer whose size as
// the transport delivered it is not Count + 1, is a short count (a failure report, EFI_ABORTED).
EFI_STATUS ReadFruChunk(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                        UINT16 Offset, UINT8 Count, UINT8* Response);

// One Write FRU Data request of at most 16 bytes.
EFI_STATUS WriteFruChunk(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                         UINT16 Offset, UINT8 Count, const UINT8* Data);

// Reads Count bytes into Destination.
EFI_STATUS ReadFruBytes(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                        UINT16 Offset, UINT8 Count, UINT8* Destination);

// Reads the big-endian UINT16 at Offset (0 when the read fails).
EFI_STATUS ReadFruBe16(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                       UINT16 Offset, UINT16* Value);

// Brings Count FRU bytes to Source's values; a chunk that already holds them is only read.
EFI_STATUS UpdateFruBytes(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                          UINT16 Offset, UINT8 Count, const UINT8* Source);

// Reads a NUL-terminated text into Destination, which holds Capacity bytes. Length receives the
// characters plus one for the NUL. A text with no NUL within Capacity bytes is refused
// (EFI_ABORTED, with a failure report) after reading no more than Capacity bytes.
EFI_STATUS ReadFruText(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                       UINT16 Offset, UINT16* Length, UINT8* Destination, UINT16 Capacity);
