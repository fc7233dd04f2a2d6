// Platform command lines: classification, keyword lookup, the action of each keyword on the three
// platform variables, and their write-back.
#include "platform/platform_command.h"

#include "core/byte_format.h"
#include "core/driver_state.h"
#include "core/failure.h"
#include "core/platform_info.h"
#include "core/pool.h"
#include "core/variables.h"
#include "platform/active_cores.h"
#include "platform/identity.h"
#include "platform/keyword_table.h"
#include "platform/power_restore.h"
#include "platform/text.h"

namespace {

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
// rules of their own below.
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

constexpr KeywordAction NoChange(UINT8 Code) {
  return {Code, Action::NoChange, FALSE, 0, 0, 0, 0, FALSE};
}
constexpr KeywordAction Enable(UINT8 Code, UINT32 Devices, BOOLEAN Gated = FALSE) {
  return {Code, Action::EnableDevices, Gated, Devices, 0, 0, 0, FALSE};
}
// HeldBackBy: the permanent-address bit that keeps a card enabled.
constexpr KeywordAction Disable(UINT8 Code, UINT32 Devices, UINT16 HeldBackBy = 0,
                                BOOLEAN Gated = FALSE) {
  return {Code, Action::DisableDevices, Gated, Devices, HeldBackBy, 0, 0, FALSE};
}
constexpr KeywordAction Ipl1(UINT8 Code, UINT8 Device) {
  return {Code, Action::SetIpl1Device, FALSE, 0, 0, 0, Device, FALSE};
}
constexpr KeywordAction SetFlag(UINT8 Code, UINT16 Flag, UINT32 Devices = 0) {
  return {Code, Action::SetNetBootFlag, FALSE, Devices, Flag, 0, 0, FALSE};
}
constexpr KeywordAction ClearFlag(UINT8 Code, UINT16 Flag) {
  return {Code, Action::ClearNetBootFlag, FALSE, 0, Flag, 0, 0, FALSE};
}
constexpr KeywordAction SetupByte(UINT8 Code, UINTN Offset, UINT8 Value, BOOLEAN Reset) {
  return {Code, Action::SetSystemSetupByte, FALSE, 0, 0, static_cast<UINT16>(Offset), Value, Reset};
}
constexpr KeywordAction Special(UINT8 Code, Action Kind, UINT8 Value = 0, BOOLEAN Gated = FALSE) {
  return {Code, Kind, Gated, 0, 0, 0, Value, FALSE};
}
constexpr UINTN Iov(UINT8 Bus) {
  return SystemSetupField::Iov1Bus1 + Bus;
} // 0..7

constexpr BOOLEAN Gated = TRUE;
constexpr BOOLEAN Resets = TRUE;
constexpr BOOLEAN NoReset = FALSE;

// One row per keyword code, in code order.
constexpr KeywordAction KeywordActions[PlatformKeywordCount] = {
    Enable(KeywordLom1Enable, Device::Lom1),
    Disable(KeywordLom1Disable, Device::Lom1),
    Enable(KeywordLom2Enable, Device::Lom2),
    Disable(KeywordLom2Disable, Device::Lom2),
    Enable(KeywordLom3Enable, Device::Lom3, Gated),
    Disable(KeywordLom3Disable, Device::Lom3, 0, Gated),
    Enable(KeywordLom4Enable, Device::Lom4, Gated),
    Disable(KeywordLom4Disable, Device::Lom4, 0, Gated),
    Special(KeywordIscsiEnable, Action::SetStorageBootMode, StorageBootIscsiOn),
    Special(KeywordIscsiDisable, Action::SetStorageBootMode, StorageBootIscsiOff),
    Enable(KeywordMez1Enable, Device::Mez1),
    Disable(KeywordMez1Disable, Device::Mez1, NetBootFlag::FcPermAddr11),
    Enable(KeywordMez2Enable, Device::Mez2),
    Disable(KeywordMez2Disable, Device::Mez2, NetBootFlag::FcPermAddr12),
    Enable(KeywordMez2BEnable, Device::Mez2B),
    Disable(KeywordMez2BDisable, Device::Mez2B, NetBootFlag::FcPermAddr12),
    Ipl1(KeywordIpl1Cd, 2),
    Ipl1(KeywordIpl1Floppy, 2), // floppy and CD share one value; 1 is never stored
    Ipl1(KeywordIpl1Key, 4),
    Ipl1(KeywordIpl1Network, Ipl1Network),
    Ipl1(KeywordIpl1Pci, 16),
    Ipl1(KeywordIpl1Usb, 32),
    Ipl1(KeywordIpl1Ide, 64),
    Special(KeywordSasEnable, Action::Sas),
    Special(KeywordSasDisable, Action::Sas),
    Special(KeywordSwRaidEnable, Action::SetSwRaidRequested, 1),
    Special(KeywordSwRaidDisable, Action::SetSwRaidRequested, 0),
    NoChange(KeywordHwRaidEnable),
    NoChange(KeywordHwRaidDisable),
    NoChange(KeywordIdeEnable),
    NoChange(KeywordIdeDisable),
    Enable(KeywordMez3Enable, Device::Mez3, Gated),
    Disable(KeywordMez3Disable, Device::Mez3, NetBootFlag::FcPermAddr21, Gated),
    Enable(KeywordMez4Enable, Device::Mez4, Gated),
    Disable(KeywordMez4Disable, Device::Mez4, NetBootFlag::FcPermAddr22, Gated),
    Enable(KeywordMez4BEnable, Device::Mez4B, Gated),
    Disable(KeywordMez4BDisable, Device::Mez4B, NetBootFlag::FcPermAddr22, Gated),
    Special(KeywordSio1Enable, Action::Sio1, 1, Gated),
    Special(KeywordSio1Disable, Action::Sio1, 0, Gated),
    Special(KeywordSio2Enable, Action::Refuse),
    Special(KeywordSio2Disable, Action::Refuse),
    NoChange(KeywordIpl1Default),
    SetFlag(KeywordPxePermAddrEnable, NetBootFlag::PxePermAddr),
    ClearFlag(KeywordPxePermAddrDisable, NetBootFlag::PxePermAddr),
    SetFlag(KeywordFcPermAddr11Enable, NetBootFlag::FcPermAddr11, Device::Mez1),
    ClearFlag(KeywordFcPermAddr11Disable, NetBootFlag::FcPermAddr11),
    SetFlag(KeywordFcPermAddr12Enable, NetBootFlag::FcPermAddr12, Device::Mez2 | Device::Mez2B),
    ClearFlag(KeywordFcPermAddr12Disable, NetBootFlag::FcPermAddr12),
    // Not gated: a permanent FC address keeps its card on whatever the platform refuses.
    SetFlag(KeywordFcPermAddr21Enable, NetBootFlag::FcPermAddr21, Device::Mez3),
    ClearFlag(KeywordFcPermAddr21Disable, NetBootFlag::FcPermAddr21),
    SetFlag(KeywordFcPermAddr22Enable, NetBootFlag::FcPermAddr22, Device::Mez4 | Device::Mez4B),
    ClearFlag(KeywordFcPermAddr22Disable, NetBootFlag::FcPermAddr22),
    SetupByte(KeywordSio1DacEnable, SystemSetupField::Sio1Dac, 1, Resets),
    SetupByte(KeywordSio1DacDisable, SystemSetupField::Sio1Dac, 0, Resets),
    NoChange(KeywordSio2DacEnable),
    NoChange(KeywordSio2DacDisable),
    Special(KeywordAcLinkStayOff, Action::AcLink, 0),
    Special(KeywordAcLinkStayOn, Action::AcLink, 2),
    Special(KeywordAcLinkLastState, Action::AcLink, 1),
    Special(KeywordActiveCoreAll, Action::ActiveCoreAll),
    Special(KeywordActiveCoreValue, Action::ActiveCoreCount),
    SetupByte(KeywordNumaEnable, SystemSetupField::Numa, 1, Resets),
    SetupByte(KeywordNumaDisable, SystemSetupField::Numa, 0, Resets),
    Special(KeywordUuidValue, Action::Uuid),
    Special(KeywordSerialValue, Action::Serial),
    SetFlag(KeywordOemDefault, NetBootFlag::PxePermAddr),
    SetFlag(KeywordDefault, NetBootFlag::PxePermAddr),
    SetupByte(KeywordIov1Bus1Enable, Iov(0), 1, NoReset),
    SetupByte(KeywordIov1Bus1Disable, Iov(0), 0, NoReset),
    SetupByte(KeywordIov1Bus2Enable, Iov(1), 1, NoReset),
    SetupByte(KeywordIov1Bus2Disable, Iov(1), 0, NoReset),
    SetupByte(KeywordIov1Bus3Enable, Iov(2), 1, NoReset),
    SetupByte(KeywordIov1Bus3Disable, Iov(2), 0, NoReset),
    SetupByte(KeywordIov1Bus4Enable, Iov(3), 1, NoReset),
    SetupByte(KeywordIov1Bus4Disable, Iov(3), 0, NoReset),
    SetupByte(KeywordIov2Bus1Enable, Iov(4), 1, NoReset),
    SetupByte(KeywordIov2Bus1Disable, Iov(4), 0, NoReset),
    SetupByte(KeywordIov2Bus2Enable, Iov(5), 1, NoReset),
    SetupByte(KeywordIov2Bus2Disable, Iov(5), 0, NoReset),
    SetupByte(KeywordIov2Bus3Enable, Iov(6), 1, NoReset),
    SetupByte(KeywordIov2Bus3Disable, Iov(6), 0, NoReset),
    SetupByte(KeywordIov2Bus4Enable, Iov(7), 1, NoReset),
    SetupByte(KeywordIov2Bus4Disable, Iov(7), 0, NoReset),
    Special(KeywordConRedirectEnable, Action::ConRedirect, 2),
    Special(KeywordConRedirectDisable, Action::ConRedirect, 0),
    Special(KeywordFcoeValue, Action::Fcoe),
    Special(KeywordClpFailurePauseEnable, Action::SetClpFailurePause, 1),
    Special(KeywordClpFailurePauseDisable, Action::SetClpFailurePause, 0),
    Special(KeywordEmFailurePauseEnable, Action::EmFailurePause),
    NoChange(KeywordEmFailurePauseDisable),
};

constexpr bool ActionsFollowCodes() {
  for (UINTN I = 0; I < PlatformKeywordCount; ++I) {
    if (KeywordActions[I].Code != I) {
      return false;
    }
  }
  return true;
}
static_assert(ActionsFollowCodes(), "one action row per keyword code, in code order");

// The three variables of one command, read fresh, with their write marks.
struct PlatformSettings {
  PoolBuffer System{SystemSetup.Size};
  PoolBuffer Server{ServerSetup.Size};
  PoolBuffer Blade{TalBladeData.Size};
  UINTN SystemSize = 0;
  UINTN ServerSize = 0;
  UINTN BladeSize = 0;
  BOOLEAN WriteSystem = FALSE;
  BOOLEAN WriteServer = FALSE;
  BOOLEAN WriteBlade = FALSE;
};

EFI_STATUS ReadSettings(PlatformSettings& S) {
  struct {
    const PlatformVariable& Var;
    PoolBuffer& Buffer;
    UINTN& Size;
  } const Reads[] = {
      {SystemSetup, S.System, S.SystemSize},
      {ServerSetup, S.Server, S.ServerSize},
      {TalBladeData, S.Blade, S.BladeSize},
  };
  for (const auto& R : Reads) {
    if (EFI_ERROR(R.Buffer.Status())) {
      return R.Buffer.Status();
    }
    EFI_STATUS Status = ReadPlatformVariable(R.Var, R.Buffer.Data(), &R.Size);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

// SystemSetup before ServerSetup before TalBladeData; the first failure stops the rest.
EFI_STATUS WriteSettings(PlatformSettings& S) {
  struct {
    BOOLEAN Wanted;
    const PlatformVariable& Var;
    PoolBuffer& Buffer;
    UINTN Size;
  } const Writes[] = {
      {S.WriteSystem, SystemSetup, S.System, S.SystemSize},
      {S.WriteServer, ServerSetup, S.Server, S.ServerSize},
      {S.WriteBlade, TalBladeData, S.Blade, S.BladeSize},
  };
  for (const auto& W : Writes) {
    if (!W.Wanted) {
      continue;
    }
    EFI_STATUS Status = WritePlatformVariable(W.Var, W.Buffer.Data(), W.Size);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

// Everything one keyword's action works on.
struct CommandContext {
  IPMI_TRANSPORT_PROTOCOL* Ipmi;
  const CHAR8* Value; // the text after the keyword
  PlatformSettings& Settings;
  UINT8* Flags;
  UINT32* Status;
};

// Moves Devices' bits into the mask at To and out of the mask at From, so that a device is never
// asked to be both enabled and disabled.
void MoveDeviceBits(UINT8* Blade, UINT32 Devices, UINTN To, UINTN From) {
  WriteLe32(Blade + To, ReadLe32(Blade + To) | Devices);
  WriteLe32(Blade + From, ReadLe32(Blade + From) & ~Devices);
}

void EnableDevices(UINT8* Blade, UINT32 Devices) {
  MoveDeviceBits(Blade, Devices, TalBladeField::DeviceEnableMask, TalBladeField::DeviceDisableMask);
}

void DisableDevices(UINT8* Blade, UINT32 Devices) {
  MoveDeviceBits(Blade, Devices, TalBladeField::DeviceDisableMask, TalBladeField::DeviceEnableMask);
}

UINT16 NetBootFlags(const UINT8* Blade) {
  return ReadLe16(Blade + TalBladeField::NetBootFlags);
}

void SetNetBootFlags(UINT8* Blade, UINT16 Flags) {
  WriteLe16(Blade + TalBladeField::NetBootFlags, Flags);
}

BOOLEAN NetBootFlagSet(const UINT8* Blade, UINT16 Flag) {
  return (NetBootFlags(Blade) & Flag) != 0;
}

void SetStorageBootMode(UINT8* Blade, UINT16 Mode) {
  SetNetBootFlags(
      Blade, static_cast<UINT16>((NetBootFlags(Blade) & ~NetBootFlag::StorageBootMode) | Mode));
}

// Stores Value into a SystemSetup byte when it differs; TRUE when it did.
BOOLEAN ChangeSystemByte(PlatformSettings& S, UINTN Offset, UINT8 Value) {
  UINT8& Byte = S.System.Data()[Offset];
  if (Byte == Value) {
    return FALSE;
  }
  Byte = Value;
  S.WriteSystem = TRUE;
  return TRUE;
}

void RequestReset(CommandContext& C) {
  *C.Flags |= CommandFlagReset;
}

// SAS on, SAS off, or SAS with software RAID when SWRAID=ENABLE came first. Only a SasMode change
// needs a reset; SwRaid alone does not.
void ApplySas(CommandContext& C, UINT8 Code) {
  UINT8 SasMode = 1;
  UINT8 SwRaid = 0;
  if (Driver.SwRaidRequested) {
    SasMode = 3;
    SwRaid = 1;
  } else if (Code == KeywordSasEnable) {
    SasMode = 2;
  }
  if (ChangeSystemByte(C.Settings, SystemSetupField::SasMode, SasMode)) {
    RequestReset(C);
  }
  ChangeSystemByte(C.Settings, SystemSetupField::SwRaid, SwRaid);
}

// SIO1 switches LOM3, LOM4 and the mezzanine cards behind it together, except the cards that a
// permanent FC address keeps on. Its Sio1Dac change needs no reset (unlike SIO1DAC's).
void ApplySio1(CommandContext& C, UINT8 On) {
  UINT8* Blade = C.Settings.Blade.Data();
  if (On) {
    EnableDevices(Blade, Device::Lom3 | Device::Lom4 | Device::Mez3 | Device::Mez4 | Device::Mez4B);
  } else {
    DisableDevices(Blade, Device::Lom3 | Device::Lom4);
    if (!NetBootFlagSet(Blade, NetBootFlag::FcPermAddr21)) {
      DisableDevices(Blade, Device::Mez3);
    }
    if (!NetBootFlagSet(Blade, NetBootFlag::FcPermAddr22)) {
      DisableDevices(Blade, Device::Mez4 | Device::Mez4B);
    }
  }
  C.Settings.WriteBlade = TRUE;
  ChangeSystemByte(C.Settings, SystemSetupField::Sio1Dac, On);
}

void ApplyAcLink(CommandContext& C, UINT8 Policy) {
  UINT8& AcLink = C.Settings.Server.Data()[ServerSetupField::AcLink];
  if (AcLink == Policy) {
    return;
  }
  AcLink = Policy;
  UpdatePowerRestorePolicy(C.Ipmi, C.Settings.Server.Data(), C.Settings.System.Data());
  RequestReset(C);
  C.Settings.WriteSystem = TRUE;
  C.Settings.WriteServer = TRUE;
}

void ApplyConRedirect(CommandContext& C, UINT8 Mode) {
  UINT8* System = C.Settings.System.Data();
  if (System[SystemSetupField::ConRedirect] == Mode) {
    return;
  }
  System[SystemSetupField::ConRedirect] = Mode;
  System[SystemSetupField::ConRedirectAux1] = 0;
  System[SystemSetupField::ConRedirectAux2] = Mode != 0 ? 1 : 0;
  RequestReset(C);
  C.Settings.WriteSystem = TRUE;
}

// Every action kind has its case, so that the compiler sees one left out. An action on
// TalBladeData rewrites it even when the value was already there.
void ApplyAction(CommandContext& C, const KeywordAction& A) {
  PlatformSettings& S = C.Settings;
  UINT8* Blade = S.Blade.Data();
  switch (A.Kind) {
  case Action::NoChange:
    return;
  case Action::EnableDevices:
    EnableDevices(Blade, A.Devices);
    S.WriteBlade = TRUE;
    return;
  case Action::DisableDevices:
    if (NetBootFlagSet(Blade, A.NetBootBit)) {
      return; // a permanent FC address keeps the card on: nothing to write
    }
    DisableDevices(Blade, A.Devices);
    S.WriteBlade = TRUE;
    return;
  case Action::SetIpl1Device:
    Blade[TalBladeField::Ipl1Device] = A.Value;
    S.WriteBlade = TRUE;
    return;
  case Action::SetStorageBootMode:
    SetStorageBootMode(Blade, A.Value);
    WriteLe32(Blade + TalBladeField::FcoeValue, 0);
    S.WriteBlade = TRUE;
    return;
  case Action::SetNetBootFlag:
    EnableDevices(Blade, A.Devices);
    SetNetBootFlags(Blade, static_cast<UINT16>(NetBootFlags(Blade) | A.NetBootBit));
    S.WriteBlade = TRUE;
    return;
  case Action::ClearNetBootFlag:
    SetNetBootFlags(Blade, static_cast<UINT16>(NetBootFlags(Blade) & ~A.NetBootBit));
    S.WriteBlade = TRUE;
    return;
  case Action::SetClpFailurePause:
    Blade[TalBladeField::ClpFailurePause] = A.Value;
    S.WriteBlade = TRUE;
    return;
  case Action::Refuse:
    *C.Status = ClpStatusRefused;
    return;
  case Action::SetSystemSetupByte:
    if (ChangeSystemByte(S, A.Offset, A.Value) && A.Reset) {
      RequestReset(C);
    }
    return;
  case Action::Sas:
    ApplySas(C, A.Code);
    return;
  case Action::SetSwRaidRequested:
    Driver.SwRaidRequested = A.Value;
    return;
  case Action::Sio1:
    ApplySio1(C, A.Value);
    return;
  case Action::AcLink:
    ApplyAcLink(C, A.Value);
    return;
  case Action::ActiveCoreAll: {
    const UINT8 Cores = GetCoresPerPackage();
    SetActiveCores(S.System.Data(), Cores, Cores, C.Flags, &S.WriteSystem);
    return;
  }
  case Action::ActiveCoreCount: {
    const UINT8 Cores = GetCoresPerPackage();
    SetActiveCores(S.System.Data(), Cores, ParseActiveCoreValue(C.Value, Cores), C.Flags,
                   &S.WriteSystem);
    return;
  }
  case Action::Uuid:
    StoreUuidText(C.Value, Blade);
    S.WriteBlade = TRUE;
    return;
  case Action::Serial:
    StoreSerialText(C.Value, Blade);
    S.WriteBlade = TRUE;
    return;
  case Action::ConRedirect:
    ApplyConRedirect(C, A.Value);
    return;
  case Action::Fcoe:
    WriteLe32(Blade + TalBladeField::FcoeValue, HexToUint32(C.Value));
    SetStorageBootMode(Blade, StorageBootFcoe);
    S.WriteBlade = TRUE;
    return;
  case Action::EmFailurePause:
    // Straight to the status-code listener: not a failure report, so neither ClpFailurePause
    // nor CLPFailureFlag has a say.
    SendStatusCode(EFI_ERROR_CODE, EmFailurePauseCode, 0, nullptr, nullptr);
    return;
  }
}

// Where the keyword starts in a platform command line, or 0 when the line is not one.
UINT16 PlatformKeywordStart(const CHAR8* Text) {
  UINT16 Length = 0;
  if (TextStartsWith(Text, PrefixN.Text, &Length)) {
    return 0; // "SET NETPORT" and every other "SET N" line belong to the adapters
  }
  if (TextStartsWith(Text, PrefixBootCfgSetting.Text, &Length) ||
      TextStartsWith(Text, PrefixB1.Text, &Length)) {
    return Length;
  }
  return 0;
}

// Platform item 29 refuses some device keywords on this platform. Answers whether the action may go
// on; a failing query is returned through Status.
BOOLEAN PassesGate(PLATFORM_INFO_PROTOCOL* Info, EFI_STATUS* Status) {
  UINT64 Refused = 0;
  *Status = Info->Query(PlatformInfoDeviceSettingsRefused, &Refused);
  return !EFI_ERROR(*Status) && Refused == 0;
}

} // namespace

EFI_STATUS ExecutePlatformCommand(IPMI_TRANSPORT_PROTOCOL* Ipmi, const CHAR8* Text, UINT32* Status,
                                  UINT8* Flags) {
  *Flags &= static_cast<UINT8>(~CommandFlagNoRecord);
  PLATFORM_INFO_PROTOCOL* Info = nullptr;
  EFI_STATUS Result = LocatePlatformInfo(&Info);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  const UINT16 KeywordStart = PlatformKeywordStart(Text);
  if (KeywordStart == 0) {
    *Flags |= CommandFlagNoRecord;
    *Status = ClpStatusDone;
    return EFI_SUCCESS;
  }
  UINT16 KeywordLength = 0;
  const PlatformKeyword* Keyword = LookupPlatformKeyword(Text + KeywordStart, &KeywordLength);
  if (Keyword->Code == KeywordEnd) {
    *Status = ClpStatusBadKeyword;
    return EFI_SUCCESS;
  }

  PlatformSettings Settings;
  Result = ReadSettings(Settings);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  *Status = ClpStatusDone;
  const KeywordAction& Action = KeywordActions[Keyword->Code];
  if (Action.Gated) {
    if (!PassesGate(Info, &Result)) {
      if (EFI_ERROR(Result)) {
        return Result;
      }
      *Status = ClpStatusRefused;
      return EFI_SUCCESS;
    }
  }
  CommandContext Context{Ipmi, Text + KeywordStart + KeywordLength, Settings, Flags, Status};
  ApplyAction(Context, Action);
  Result = WriteSettings(Settings);
  return EFI_ERROR(Result) ? Result : EFI_SUCCESS;
}
