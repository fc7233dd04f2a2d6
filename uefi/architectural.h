// DXE architectural protocols. The firmware core installs the services they carry into the boot-
// and runtime-services tables; until a protocol is installed, the services it backs answer
// EFI_NOT_AVAILABLE_YET (or nothing at all). A driver never calls them: it waits for them in its
// dependency expression.
#pragma once

#include "uefi/types.h"

// GetVariable, GetNextVariableName and SetVariable of volatile variables.
constexpr EFI_GUID EFI_VARIABLE_ARCH_PROTOCOL_GUID = {
    0x1E5668E2, 0x8481, 0x11D4, {0xBC, 0xF1, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
// SetVariable of non-volatile variables.
constexpr EFI_GUID EFI_VARIABLE_WRITE_ARCH_PROTOCOL_GUID = {
    0x6441F818, 0x6362, 0x4E44, {0xB5, 0x70, 0x7D, 0xBA, 0x31, 0xDD, 0x24, 0x53}};
// The Stall boot service.
constexpr EFI_GUID EFI_METRONOME_ARCH_PROTOCOL_GUID = {
    0x26BACCB2, 0x6F42, 0x11D4, {0xBC, 0xE7, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
// The ResetSystem runtime service.
constexpr EFI_GUID EFI_RESET_ARCH_PROTOCOL_GUID = {
    0x27CFAC88, 0x46CC, 0x11D4, {0x9A, 0x38, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
