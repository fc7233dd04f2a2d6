// The adapter command run.
#include "adapter/adapter_run.h"

#include "adapter/command_rewrite.h"
#include "adapter/next_adapter.h"
#include "adapter/pci_config.h"
#include "adapter/slot_table.h"
#include "adapter/vendors.h"
#include "core/driver_state.h"
#include "core/failure.h"
#include "core/platform_info.h"
#include "core/pool.h"
#include "core/variables.h"
#include "mailbox/mailbox.h"

namespace {

// What one run works with: its working storage and the adapter being served.
struct AdapterRun {
  IPMI_TRANSPORT_PROTOCOL* Transport;
  FruDelay Delay;
  UINT8* Text;                  // CommandTextCapacity bytes
  UINT8* Response;              // AdapterResponseSize bytes
  ADAPTER_CLP_PROTOCOL* Served; // the interface copy Execute receives
  ADAPTER_CLP_EXECUTE Execute;  // the arriving adapter's, for every adapter of the run
  UINT32 VendorDevice;          // the arriving adapter's, for every adapter of the run
  UINT8* Flags;
  UINT8 Row;
  UINT8 FruId;
};

EFI_STATUS ReadBe16At(AdapterRun& R, UINT16 Offset, UINT16* Value) {
  return ReadFruBe16(R.Transport, R.Delay, R.FruId, Offset, Value);
}

// The command whose record starts at Record: its text read, rewritten for the adapter served and,
// unless it is not for this adapter, sent and answered with a result record at ResultOffset. Next
// receives the offset of the record after it.
EFI_STATUS RunCommand(AdapterRun& R, UINT16 Record, UINT16 Id, UINT16 ResultOffset, UINT16* Next) {
  // Zero behind every text, and nothing of an earlier answer in the response.
  ZeroBytes(R.Text, CommandTextCapacity);
  ZeroBytes(R.Response, AdapterResponseSize);
  UINT16 Length = 0;
  EFI_STATUS Status =
      ReadFruText(R.Transport, R.Delay, R.FruId, static_cast<UINT16>(Record + CommandTextField),
                  &Length, R.Text, CommandTextCapacity);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *Next = static_cast<UINT16>(Record + CommandTextField + Length);
  UINT32 Word = 0;
  CHAR8* Text = reinterpret_cast<CHAR8*>(R.Text);
  Status = RewriteAdapterCommand(R.Transport, Text, R.Row, R.VendorDevice, &Word, R.Flags);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // Not for this adapter: its slot keeps what another adapter's pass wrote there.
  if ((*R.Flags & CommandFlagNoRecord) != 0) {
    return EFI_SUCCESS;
  }
  Status = R.Execute(R.Served, Text, reinterpret_cast<CHAR8*>(R.Response), &Word);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if ((Word & AdapterStatusFailedBits) != 0) {
    ReportClpFailure(); // and recorded all the same; the run goes on
  }
  return WriteResultRecord(R.Transport, R.Delay, R.FruId, ResultOffset, Id, Word);
}

// List List, from its first record at Record, with its results in the list's block of the result
// area. Overflow is set when the list holds more than 32 commands: the marker goes over its first
// record and no later list is run for this adapter.
EFI_STATUS RunList(AdapterRun& R, UINT16 Record, UINT16 ResultArea, UINT8 List, BOOLEAN* Overflow) {
  for (UINT8 Index = 0; Index < MailboxCommandsPerList; ++Index) {
    UINT16 Id = 0;
    EFI_STATUS Status = ReadBe16At(R, Record, &Id);
    if (EFI_ERROR(Status) || Id == CommandEndId) {
      return Status;
    }
    UINT16 Next = Record;
    Status = RunCommand(R, Record, Id, ResultRecordOffset(ResultArea, List, Index), &Next);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Record = Next;
  }
  UINT16 Id = 0;
  EFI_STATUS Status = ReadBe16At(R, Record, &Id);
  if (EFI_ERROR(Status) || Id == CommandEndId) {
    return Status;
  }
  *Overflow = TRUE;
  return UpdateFruBytes(R.Transport, R.Delay, R.FruId, ResultRecordOffset(ResultArea, List, 0),
                        sizeof(OverflowMarker), OverflowMarker);
}

// The adapter of row R.Row: its mailbox locked, its lists run, the lock released unless the
// mailbox is the platform's own, and its FRU device taken off ClpCommandFruIdList. A mailbox
// without a result area runs nothing, stays locked and keeps its FRU device listed; NoResultArea
// tells the caller to serve no more adapters.
EFI_STATUS ServeAdapter(AdapterRun& R, UINT16 MailboxOffset, BOOLEAN* NoResultArea) {
  EFI_STATUS Status = LockMailbox(R.Transport, R.FruId, MailboxOffset);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT16 ResultArea = 0;
  Status = ReadBe16At(R, static_cast<UINT16>(MailboxOffset + ResultAreaOffsetField), &ResultArea);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (ResultArea == 0) {
    *NoResultArea = TRUE;
    return EFI_SUCCESS;
  }
  for (UINT8 List = 0; List < MailboxCommandLists; ++List) {
    UINT16 First = 0;
    Status =
        ReadBe16At(R, static_cast<UINT16>(MailboxOffset + CommandListOffsetField(List)), &First);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (First == 0) {
      continue; // its result block stays untouched
    }
    BOOLEAN Overflow = FALSE;
    Status = RunList(R, First, ResultArea, List, &Overflow);
    if (EFI_ERROR(Status) || Overflow) {
      break;
    }
  }
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // The platform's own mailbox stays locked until the completion signal releases it.
  if (R.FruId != PlatformMailboxFru && R.FruId != PlatformMailboxFruAlternate) {
    Status = UnlockMailbox(R.Transport, R.FruId, MailboxOffset);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  ClearPendingFruId(R.FruId);
  return EFI_SUCCESS;
}

// Where the run stands after an adapter: the next adapter's location, and the bits still pending.
struct RunPosition {
  UINTN Bus;
  UINTN Device;
  UINTN Function;
  UINT32 Pending;
};

// Serves the arriving adapter and then, while bits remain in the vendor's pending mask, the next
// pending adapter of the vendor, at most AdapterRunMaxAdapters in all. A failure of the work on a
// mailbox is EFI_ABORTED; a failing search for the next adapter or its mailbox passes its status
// up. No adapter left to find ends the run like an empty mask, the remaining bits kept.
EFI_STATUS ServeAdapters(AdapterRun& R, UINT16 Vendor, RunPosition& At, MailboxHeader* Header,
                         UINT16 MailboxOffset) {
  for (UINT8 Served = 1;; ++Served) {
    R.FruId = AdapterSlotTable[R.Row].FruId;
    BOOLEAN NoResultArea = FALSE;
    if (EFI_ERROR(ServeAdapter(R, MailboxOffset, &NoResultArea))) {
      return EFI_ABORTED;
    }
    if (NoResultArea || At.Pending == 0) {
      return EFI_SUCCESS;
    }
    EFI_STATUS Status =
        SelectNextAdapter(&At.Pending, Vendor, R.Served, &R.Row, &At.Bus, &At.Device, &At.Function);
    if (Status == EFI_NOT_FOUND) {
      return EFI_SUCCESS;
    }
    // Vendor 0x14E4: one adapter per run, its bit now clear.
    if (EFI_ERROR(Status) || Vendor == Vendor14E4 || At.Pending == 0) {
      return Status;
    }
    Status = FindMailbox(R.Transport, AdapterSlotTable[R.Row].FruId, Header, &MailboxOffset);
    if (EFI_ERROR(Status) || Served == AdapterRunMaxAdapters) {
      return Status;
    }
  }
}

// The run's working storage, taken in the order the failures are told apart, and the run itself.
EFI_STATUS RunWithStorage(AdapterRun& R, ADAPTER_CLP_PROTOCOL* Adapter, UINT16 Vendor,
                          RunPosition& At, MailboxHeader* Header, UINT16 MailboxOffset) {
  PoolBuffer Text(CommandTextCapacity);
  if (EFI_ERROR(Text.Status())) {
    return Text.Status();
  }
  PoolBuffer Response(AdapterResponseSize);
  if (EFI_ERROR(Response.Status())) {
    return EFI_ABORTED;
  }
  PoolBuffer Served(sizeof(ADAPTER_CLP_PROTOCOL));
  if (EFI_ERROR(Served.Status())) {
    return Served.Status();
  }
  CopyBytes(Served.Data(), Adapter, sizeof(ADAPTER_CLP_PROTOCOL));
  R.Text = Text.Data();
  R.Response = Response.Data();
  R.Served = reinterpret_cast<ADAPTER_CLP_PROTOCOL*>(Served.Data());
  return ServeAdapters(R, Vendor, At, Header, MailboxOffset);
}

// The vendor/device word and location of the adapter behind Adapter's controller handle.
EFI_STATUS LocateAdapter(ADAPTER_CLP_PROTOCOL* Adapter, RunPosition& At, UINT32* VendorDevice) {
  EFI_STATUS Status = GetPciLocation(Adapter->ControllerHandle, &At.Bus, &At.Device, &At.Function);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *VendorDevice = ReadPciId(At.Bus, At.Device, At.Function);
  return EFI_SUCCESS;
}

// Stores the pending mask into TalBladeData, read afresh into Blade so that the UUID and serial
// number the run's rewrites stored stay, and decides on the reset: Reset is set when one is due
// now.
EFI_STATUS StorePendingMask(UINT8* Blade, UINT16 Vendor, UINT32 Pending, UINT8 Flags,
                            BOOLEAN* Reset) {
  UINTN Size = 0;
  EFI_STATUS Status = ReadPlatformVariable(TalBladeData, Blade, &Size);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN MaskField = 0;
  if (PendingMaskField(Vendor, &MaskField)) {
    WriteLe32(Blade + MaskField, Pending);
  }
  Status = WritePlatformVariable(TalBladeData, Blade, Size);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const BOOLEAN Asked = (Flags & CommandFlagReset) != 0;
  UINT8& Deferred = Blade[TalBladeField::DeferredReset];
  if (Vendor != Vendor14E4) {
    *Reset = Asked;
    return EFI_SUCCESS;
  }
  if (Pending == 0) {
    *Reset = Asked || (Deferred & DeferredResetOwed) != 0;
    return EFI_SUCCESS;
  }
  // Adapters of the vendor still pending: the reset waits for the run that serves the last one.
  if (!Asked) {
    return EFI_SUCCESS;
  }
  Deferred = static_cast<UINT8>(Deferred | DeferredResetOwed);
  return WritePlatformVariable(TalBladeData, Blade, Size);
}

// Steps from TalBladeData's first read to its last write, with the buffer they share.
EFI_STATUS RunAndStore(AdapterRun& R, ADAPTER_CLP_PROTOCOL* Adapter, RunPosition& At,
                       MailboxHeader* Header, UINT16 MailboxOffset, BOOLEAN* Reset) {
  PoolBuffer Blade(TalBladeData.Size);
  if (EFI_ERROR(Blade.Status())) {
    return Blade.Status();
  }
  UINTN Size = 0;
  EFI_STATUS Status = ReadPlatformVariable(TalBladeData, Blade.Data(), &Size);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // A vendor with a mask and nothing pending: the mailbox is not touched. Any other vendor's
  // adapter is served alone.
  const UINT16 Vendor = static_cast<UINT16>(R.VendorDevice);
  UINTN MaskField = 0;
  const BOOLEAN HasMask = PendingMaskField(Vendor, &MaskField);
  At.Pending = HasMask ? ReadLe32(Blade.Data() + MaskField) : 0;
  if (HasMask && At.Pending == 0) {
    return EFI_SUCCESS;
  }
  Status = RunWithStorage(R, Adapter, Vendor, At, Header, MailboxOffset);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return StorePendingMask(Blade.Data(), Vendor, At.Pending, *R.Flags, Reset);
}

} // namespace

BOOLEAN PendingMaskField(UINT16 Vendor, UINTN* Offset) {
  switch (Vendor) {
  case Vendor8086:
    *Offset = TalBladeField::PendingMask8086;
    return TRUE;
  case Vendor10DF:
    *Offset = TalBladeField::PendingMask10DF;
    return TRUE;
  case Vendor14E4:
    *Offset = TalBladeField::PendingMask14E4;
    return TRUE;
  default:
    return FALSE;
  }
}

EFI_STATUS RunAdapterCommands(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 RowIndex,
                              MailboxHeader* Header, UINT16 MailboxOffset,
                              ADAPTER_CLP_PROTOCOL* Adapter, UINT8* Flags) {
  if (RowIndex >= AdapterSlotCount) {
    return EFI_INVALID_PARAMETER;
  }
  RunPosition At{0, 0, 0, 0};
  AdapterRun R{Transport, Driver.BootServices->Stall,
               nullptr,   nullptr,
               nullptr,   Adapter->Execute,
               0,         Flags,
               RowIndex,  0};
  EFI_STATUS Status = LocateAdapter(Adapter, At, &R.VendorDevice);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  BOOLEAN Reset = FALSE;
  Status = RunAndStore(R, Adapter, At, Header, MailboxOffset, &Reset);
  // Every buffer of the run is back in the pool before the reset.
  if (!EFI_ERROR(Status) && Reset) {
    Driver.RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  }
  return Status;
}
