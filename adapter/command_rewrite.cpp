// Adapter command rewriting, by vendor, and the platform settings of an adapter list.
#include "adapter/command_rewrite.h"

#include "adapter/keyword_map.h"
#include "adapter/slot_table.h"
#include "adapter/vendors.h"
#include "core/driver_state.h"
#include "core/pool.h"
#include "core/variables.h"
#include "platform/active_cores.h"
#include "platform/identity.h"
#include "platform/keyword_table.h"
#include "platform/text.h"

namespace {

constexpr CHAR8 WideNetPort[] = "Set Netport";
constexpr UINT16 ShortNetPortLength = 5; // "SET N"
constexpr UINT16 WideningGrowth = sizeof(WideNetPort) - 1 - ShortNetPortLength;

// The PendingBits of positions that are ports 3 and 4 of their slot.
constexpr UINT32 ThirdAndFourthPorts[] = {0x100, 0x200, 0x40000, 0x80000};

template <UINTN N> BOOLEAN Contains(const UINT32 (&List)[N], UINT32 Value) {
  for (UINT32 Item : List) {
    if (Item == Value) {
      return TRUE;
    }
  }
  return FALSE;
}

// "SET N", a port digit 1 to 8 and a blank.
BOOLEAN IsShortNetPort(const CHAR8* Text) {
  UINT16 Length = 0;
  return TextStartsWith(Text, PrefixN.Text, &Length) && Text[Length] >= '1' &&
         Text[Length] <= '8' && Text[Length + 1] == ' ';
}

// Position of the port digit after "SET NETPORT", when the text has one from 1 to 7; 0 otherwise.
UINT16 PortDigitPosition(const CHAR8* Text) {
  UINT16 Length = 0;
  if (!TextStartsWith(Text, PrefixNetPort.Text, &Length)) {
    return 0;
  }
  return Text[Length] >= '1' && Text[Length] <= '7' ? Length : 0;
}

// Past the port digit and the one character after it (normally a blank), never past the NUL.
UINT16 AfterPortDigit(const CHAR8* Text, UINT16 Digit) {
  return static_cast<UINT16>(Digit + (Text[Digit + 1] != 0 ? 2 : 1));
}

// Vendor 0x14E4 addresses each function as port 1; its multi-function mode changes on some devices
// need a reset.
void RewriteFor14E4(CHAR8* Text, const AdapterSlot& Slot, UINT32 VendorDevice, UINT8* Flags) {
  const UINT16 Digit = PortDigitPosition(Text);
  if (Digit == 0) {
    return;
  }
  if (Text[Digit] - '1' != static_cast<UINT8>(Slot.Function)) {
    *Flags |= CommandFlagNoRecord;
    return;
  }
  Text[Digit] = '1';
  const CHAR8* Setting = Text + AfterPortDigit(Text, Digit);
  Setting += PositionAfterUnderscore(Setting);
  UINT16 Length = 0;
  if (TextStartsWith(Setting, PrefixMultiFunctionSf.Text, &Length) &&
      Contains(Vendor14E4SfModeResets, VendorDevice)) {
    *Flags |= CommandFlagReset;
  }
  if (TextStartsWith(Setting, PrefixMultiFunctionNpar.Text, &Length) &&
      Contains(Vendor14E4NparModeResets, VendorDevice)) {
    *Flags |= CommandFlagReset;
  }
}

// Vendor 0x8086 takes the setting without the port part, in its own keywords.
void RewriteFor8086(CHAR8* Text, const AdapterSlot& Slot, UINT8* Flags) {
  const UINT16 Digit = PortDigitPosition(Text);
  if (Digit == 0) {
    return;
  }
  const UINT8 Function = static_cast<UINT8>(Slot.Function);
  UINT8 Port = static_cast<UINT8>(Function + 1);
  if (Contains(ThirdAndFourthPorts, Slot.PendingBit) && Function <= 1) {
    Port = static_cast<UINT8>(Function + 3);
  }
  if (Text[Digit] - '0' != Port) {
    *Flags |= CommandFlagNoRecord;
    return;
  }
  ShiftTextLeft(Text, CommandWordLength, AfterPortDigit(Text, Digit));
  TranslateAdapterKeywords(Text);
}

// The two variables a platform setting of an adapter list works on, with their write marks.
struct AdapterListSettings {
  PoolBuffer System{SystemSetup.Size};
  PoolBuffer Blade{TalBladeData.Size};
  UINTN SystemSize = 0;
  UINTN BladeSize = 0;
  BOOLEAN WriteSystem = FALSE;
  BOOLEAN WriteBlade = FALSE;
};

EFI_STATUS ReadAdapterListSettings(AdapterListSettings& S) {
  if (EFI_ERROR(S.System.Status()) || EFI_ERROR(S.Blade.Status())) {
    return EFI_ERROR(S.System.Status()) ? S.System.Status() : S.Blade.Status();
  }
  EFI_STATUS Status = ReadPlatformVariable(SystemSetup, S.System.Data(), &S.SystemSize);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return ReadPlatformVariable(TalBladeData, S.Blade.Data(), &S.BladeSize);
}

// SystemSetup before TalBladeData; a failure leaves the second unwritten.
EFI_STATUS WriteAdapterListSettings(AdapterListSettings& S) {
  if (S.WriteSystem) {
    EFI_STATUS Status = WritePlatformVariable(SystemSetup, S.System.Data(), S.SystemSize);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return S.WriteBlade ? WritePlatformVariable(TalBladeData, S.Blade.Data(), S.BladeSize)
                      : EFI_SUCCESS;
}

// The UUID reaches the BMC and SMBIOS before TalBladeData is written; a failure of either leaves
// both variables as they were.
EFI_STATUS ApplyUuid(IPMI_TRANSPORT_PROTOCOL* Ipmi, const CHAR8* Value, AdapterListSettings& S) {
  UINT8* Uuid = S.Blade.Data() + TalBladeField::Uuid;
  StoreUuidText(Value, S.Blade.Data());
  EFI_STATUS Status = SendUuidToBmc(Ipmi, Uuid, UuidLength, 1);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = SetSmbiosSystemUuid(Uuid, UuidLength);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  S.WriteBlade = TRUE;
  return EFI_SUCCESS;
}

// Carries out the keyword at Keyword. Known is FALSE for a keyword that is not in the table.
EFI_STATUS ApplyPlatformSetting(IPMI_TRANSPORT_PROTOCOL* Ipmi, const CHAR8* Keyword, UINT32* Status,
                                UINT8* Flags, BOOLEAN* Known) {
  AdapterListSettings S;
  EFI_STATUS Result = ReadAdapterListSettings(S);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  UINT16 Length = 0;
  const PlatformKeyword* Row = LookupPlatformKeyword(Keyword, &Length);
  *Known = Row->Code != KeywordEnd;
  if (!*Known) {
    *Status = ClpStatusBadKeyword;
    return EFI_SUCCESS;
  }
  const CHAR8* Value = Keyword + Length;
  switch (Row->Code) {
  case KeywordActiveCoreAll: {
    const UINT8 Cores = GetCoresPerPackage();
    SetActiveCores(S.System.Data(), Cores, Cores, Flags, &S.WriteSystem);
    break;
  }
  case KeywordActiveCoreValue: {
    const UINT8 Cores = GetCoresPerPackage();
    SetActiveCores(S.System.Data(), Cores, ParseActiveCoreValue(Value, Cores), Flags,
                   &S.WriteSystem);
    break;
  }
  case KeywordUuidValue:
    Result = ApplyUuid(Ipmi, Value, S);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    break;
  case KeywordSerialValue:
    StoreSerialText(Value, S.Blade.Data());
    S.WriteBlade = TRUE;
    break;
  default:
    break; // the other platform keywords have no effect from an adapter list
  }
  return WriteAdapterListSettings(S);
}

// A platform setting in an adapter list: carried out only in the run after the arrival wait, and
// then not sent unless its keyword is unknown.
EFI_STATUS RunPlatformSetting(IPMI_TRANSPORT_PROTOCOL* Ipmi, const CHAR8* Keyword, UINT32* Status,
                              UINT8* Flags) {
  if ((*Flags & CommandFlagAfterWait) != 0) {
    BOOLEAN Known = TRUE;
    EFI_STATUS Result = ApplyPlatformSetting(Ipmi, Keyword, Status, Flags, &Known);
    if (EFI_ERROR(Result) || !Known) {
      return Result;
    }
  }
  *Flags |= CommandFlagNoRecord;
  if ((*Flags & CommandFlagReset) != 0) {
    Driver.RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  }
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS ExpandShortNetPort(CHAR8* Text) {
  const UINT16 Length = TextLength(Text);
  if (Length < ShortNetPortLength || Length > TextBufferSize - 1 - WideningGrowth) {
    return EFI_ABORTED;
  }
  // From the NUL back to the port digit, so the overlapping move is safe.
  for (UINT16 I = static_cast<UINT16>(Length + 1); I-- > ShortNetPortLength;) {
    Text[I + WideningGrowth] = Text[I];
  }
  CopyBytes(Text, WideNetPort, sizeof(WideNetPort) - 1);
  return EFI_SUCCESS;
}

EFI_STATUS RewriteAdapterCommand(IPMI_TRANSPORT_PROTOCOL* Ipmi, CHAR8* Text, UINT8 RowIndex,
                                 UINT32 VendorDevice, UINT32* Status, UINT8* Flags) {
  *Flags &= static_cast<UINT8>(~CommandFlagNoRecord);
  if (RowIndex >= AdapterSlotCount) {
    return EFI_INVALID_PARAMETER;
  }
  // A text that does not end within its buffer is refused before anything reads along it: the
  // steps below look for characters past a prefix, which would run off the buffer's end.
  if (TextLength(Text) >= TextBufferSize) {
    return EFI_INVALID_PARAMETER;
  }
  UINT16 Length = 0;
  if (TextStartsWith(Text, PrefixBootCfgSetting.Text, &Length) ||
      TextStartsWith(Text, PrefixB1.Text, &Length)) {
    return RunPlatformSetting(Ipmi, Text + Length, Status, Flags);
  }
  if (IsShortNetPort(Text)) {
    EFI_STATUS Result = ExpandShortNetPort(Text);
    if (EFI_ERROR(Result)) {
      return Result;
    }
  }
  const AdapterSlot& Slot = AdapterSlotTable[RowIndex];
  switch (static_cast<UINT16>(VendorDevice)) {
  case Vendor14E4:
    RewriteFor14E4(Text, Slot, VendorDevice, Flags);
    break;
  case Vendor8086:
    RewriteFor8086(Text, Slot, Flags);
    break;
  default:
    break; // sent as it is
  }
  return EFI_SUCCESS;
}
