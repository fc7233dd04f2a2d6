// What each platform keyword does: one row per keyword code, in code order, beside the
// PlatformKeywordTable. Simple actions are described entirely by their row (the devices, the
// NetBootFlags bit, the SystemSetup byte and value); the others name a rule of their own, which
// ExecutePlatformCommand carries out.
#pragma once

#include "platform/keyword_table.h"

// Device bits of DeviceEnableMask and DeviceDisableMask.
namespace Device {
constexpr UINT32 Lom1 = 0x1;
constexpr UINT32 Lom2 = 0x2;
constexpr UINT32 Mez1 = 0xC;
constexpr UINT32 Mez2 = 0xC0;
constexpr UINT32 Mez2B = 0x300;
constexpr UINT32 Lom3 = 0x400;
constexpr UINT32 Lom4 = 0x800;
constexpr UINT32 Mez3 = 0x3000;
constexpr UINT32 Mez4 = 0x30000;
constexpr UINT32 Mez4B = 0xC0000;
} // namespace Device

// NetBootFlags storage boot modes (a whole nibble).
constexpr UINT16 StorageBootIscsiOn = 0x9;
constexpr UINT16 StorageBootIscsiOff = 0xA;
constexpr UINT16 StorageBootFcoe = 0xE;

// The shapes of keyword action. The simple ones are driven entirely by their row; the rest have
// rules of their own in ExecutePlatformCommand.
enum class Action : UINT8 {
  NoChange,
  Refuse,             // never allowed, whatever the platform state
  EnableDevices,      // Devices into DeviceEnableMask, out of DeviceDisableMask
  DisableDevices,     // the reverse, skipped while NetBootBit (a permanent address) is set
  SetIpl1Device,      // Ipl1Device = Value
  SetStorageBootMode, // NetBootFlags nibble = Value, FcoeValue = 0
  SetNetBootFlag,     // NetBootFlags |= NetBootBit, after enabling Devices
  ClearNetBootFlag,   // NetBootFlags &= ~NetBootBit
  SetSystemSetupByte, // SystemSetup byte Offset = Value if changed; Reset says whether it resets
  SetClpFailurePause, // ClpFailurePause = Value
  Sas,                // SasMode and SwRaid, depending on SwRaidRequested
  SetSwRaidRequested, // driver-wide only
  Sio1,               // several devices and Sio1Dac
  AcLink,             // ServerSetup AcLink = Value and the power-restore policy
  ActiveCoreAll,
  ActiveCoreCount,
  Uuid,
  Serial,
  ConRedirect, // console redirection on (Value 2) or off (Value 0)
  Fcoe,
  EmFailurePause,
};

struct KeywordAction {
  UINT8 Code;
  Action Kind;
  BOOLEAN Gated;     // refused while platform item 29 answers nonzero
  UINT32 Devices;    // DeviceEnableMask / DeviceDisableMask bits
  UINT16 NetBootBit; // the NetBootFlags bit the action sets, clears or is held back by
  UINT16 Offset;
  UINT8 Value;
  BOOLEAN Reset;
};

extern const KeywordAction KeywordActions[PlatformKeywordCount];
