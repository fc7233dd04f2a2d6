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
#include "platform/keyword_actions.h"
#include "platform/keyword_table.h"
#include "platform/power_restore.h"
#include "platform/text.h"

namespace {

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

// Platform item 29 refuses some device keywords on this platform. Answers whether the action may go
// on; a failing query is returned through Status.
BOOLEAN PassesGate(PLATFORM_INFO_PROTOCOL* Info, EFI_STATUS* Status) {
  UINT64 Refused = 0;
  *Status = Info->Query(PlatformInfoDeviceSettingsRefused, &Refused);
  return !EFI_ERROR(*Status) && Refused == 0;
}

} // namespace

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
