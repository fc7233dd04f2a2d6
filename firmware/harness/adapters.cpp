#include "firmware/harness/adapters.h"

#include "firmware/common/adapter_standin.h"
#include "firmware/harness/harness_context.h"
#include "uefi/pci_io.h"

namespace {

// The handle of the first adapter the stand-in started, whose Execute the harness calls.
EFI_HANDLE FirstAdapter = nullptr;

// The adapter stand-in's control protocol and the handle it sits on (the stand-in's image, which
// carries its driver binding); null before the stand-in is loaded.
ADAPTER_STANDIN_CONTROL* AdapterStandIn(EFI_HANDLE* Image) {
  UINTN Count = 0;
  EFI_HANDLE* Handles = nullptr;
  ADAPTER_STANDIN_CONTROL* Control = nullptr;
  if (EFI_ERROR(Harness.Bs->LocateHandleBuffer(ByProtocol, GuidPointer(AdapterStandInControlGuid),
                                               nullptr, &Count, &Handles))) {
    return nullptr;
  }
  if (Count > 0 &&
      !EFI_ERROR(Harness.Bs->HandleProtocol(Handles[0], GuidPointer(AdapterStandInControlGuid),
                                            reinterpret_cast<void**>(&Control)))) {
    *Image = Handles[0];
  }
  Harness.Bs->FreePool(Handles);
  return Control;
}

EFI_PCI_IO_PROTOCOL* PciIoOf(EFI_HANDLE Handle) {
  EFI_PCI_IO_PROTOCOL* Io = nullptr;
  const EFI_STATUS Status = Harness.Bs->HandleProtocol(
      Handle, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), reinterpret_cast<void**>(&Io));
  return EFI_ERROR(Status) ? nullptr : Io;
}

// The PCI I/O handle whose GetLocation reports that function on segment 0.
EFI_STATUS PciIoHandleAt(const AdapterLocation& Location, EFI_HANDLE* Found) {
  UINTN Count = 0;
  EFI_HANDLE* Handles = nullptr;
  EFI_STATUS Status = Harness.Bs->LocateHandleBuffer(
      ByProtocol, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), nullptr, &Count, &Handles);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = EFI_NOT_FOUND;
  for (UINTN I = 0; I < Count && Status == EFI_NOT_FOUND; ++I) {
    EFI_PCI_IO_PROTOCOL* Io = PciIoOf(Handles[I]);
    UINTN Segment = 0, Bus = 0, Device = 0, Function = 0;
    if (Io != nullptr && !EFI_ERROR(Io->GetLocation(Io, &Segment, &Bus, &Device, &Function)) &&
        Segment == 0 && Bus == Location.Bus && Device == Location.Device &&
        Function == Location.Function) {
      *Found = Handles[I];
      Status = EFI_SUCCESS;
    }
  }
  Harness.Bs->FreePool(Handles);
  return Status;
}

AdapterLocation LocationIn(const Directive& D) {
  return AdapterLocation{static_cast<UINT8>(D.Numbers[0]), static_cast<UINT8>(D.Numbers[1]),
                         static_cast<UINT8>(D.Numbers[2])};
}

} // namespace

// Every PCI I/O handle in the order LocateHandleBuffer gives them (the order the PCI bus driver
// created them in), with the location GetLocation reports and the IDs read through the protocol.
void ReportPciHandles() {
  UINTN Count = 0;
  EFI_HANDLE* Handles = nullptr;
  EFI_STATUS Status = Harness.Bs->LocateHandleBuffer(
      ByProtocol, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), nullptr, &Count, &Handles);
  if (EFI_ERROR(Status)) {
    ReportError("pci-handles", Status);
    return;
  }
  for (UINTN I = 0; I < Count; ++I) {
    EFI_PCI_IO_PROTOCOL* Io = PciIoOf(Handles[I]);
    UINTN Segment = 0, Bus = 0, Device = 0, Function = 0;
    UINT32 Id = 0xFFFFFFFF;
    Status =
        Io == nullptr ? EFI_NOT_FOUND : Io->GetLocation(Io, &Segment, &Bus, &Device, &Function);
    if (!EFI_ERROR(Status)) {
      Status = Io->Pci.Read(Io, EfiPciIoWidthUint32, 0, 1, &Id);
    }
    Report.Word("pciio").Decimal(I).Decimal(Segment).Word(LocationWord(Bus, Device, Function).Text);
    Report.Hex(Id, 8).Status(Status).End();
  }
  Harness.Bs->FreePool(Handles);
}

bool PlanAdapter(const Directive& D) {
  EFI_HANDLE Image = nullptr;
  ADAPTER_STANDIN_CONTROL* Control = AdapterStandIn(&Image);
  const AdapterLocation Location = LocationIn(D);
  const EFI_STATUS Status = Control == nullptr
                                ? EFI_NOT_STARTED
                                : Control->Plan(Control, &Location, D.Answers, D.AnswerCount);
  if (EFI_ERROR(Status)) {
    ReportError("adapter-plan", Status);
  }
  return !EFI_ERROR(Status);
}

// The firmware connects the stand-in to the function, as it connects drivers to the devices they
// support: the stand-in's Start installs the adapter's protocol, and the driver's notification
// runs inside the call. Said before the call, since the driver may reset the machine there.
void ConnectAdapter(const Directive& D) {
  const AdapterLocation Location = LocationIn(D);
  const LocationText Where = LocationWord(Location.Bus, Location.Device, Location.Function);
  EFI_HANDLE Image = nullptr;
  ADAPTER_STANDIN_CONTROL* Control = AdapterStandIn(&Image);
  EFI_HANDLE Function = nullptr;
  EFI_STATUS Status = Control == nullptr ? EFI_NOT_STARTED : PciIoHandleAt(Location, &Function);
  if (!EFI_ERROR(Status)) {
    Report.Word("connecting").Word(Where.Text).End();
    EFI_HANDLE Drivers[] = {Image, nullptr};
    Status = Harness.Bs->ConnectController(Function, Drivers, nullptr, FALSE);
  }
  const EFI_HANDLE Adapter =
      Control != nullptr ? Control->AdapterHandle(Control, &Location) : nullptr;
  if (FirstAdapter == nullptr) {
    FirstAdapter = Adapter;
  }
  const bool Installed = Adapter != nullptr;
  Report.Word("connect").Word(Where.Text).Status(Status).Decimal(Installed ? 1 : 0).End();
}

// Execute called the way the driver calls it for the adapters it serves: on a copy of the record
// of the first adapter that arrived, its ControllerHandle the PCI I/O handle of the named
// function; a zeroed command buffer holding the text, a zeroed response buffer.
void ExecuteFor(const Directive& D) {
  const AdapterLocation Location = LocationIn(D);
  ADAPTER_CLP_PROTOCOL* Record = nullptr;
  EFI_HANDLE Function = nullptr;
  EFI_STATUS Status =
      FirstAdapter == nullptr
          ? EFI_NOT_STARTED
          : Harness.Bs->HandleProtocol(FirstAdapter, GuidPointer(AdapterClpProtocolGuid),
                                       reinterpret_cast<void**>(&Record));
  if (!EFI_ERROR(Status)) {
    Status = PciIoHandleAt(Location, &Function);
  }
  static CHAR8 Command[AdapterCommandBufferSize];
  static CHAR8 Response[AdapterResponseBufferSize];
  UINT32 Word = 0;
  if (!EFI_ERROR(Status)) {
    ADAPTER_CLP_PROTOCOL Copy = *Record;
    Copy.ControllerHandle = Function;
    Harness.Bs->SetMem(Command, sizeof(Command), 0);
    Harness.Bs->SetMem(Response, sizeof(Response), 0);
    Harness.Bs->CopyMem(Command, const_cast<UINT8*>(D.Data), D.DataSize);
    Status = Record->Execute(&Copy, Command, Response, &Word);
  }
  Report.Word("execute").Word(LocationWord(Location.Bus, Location.Device, Location.Function).Text);
  Report.Status(Status).Hex(Word, 8).End();
}

void ReportExecutes(const char* Tag) {
  EFI_HANDLE Image = nullptr;
  ADAPTER_STANDIN_CONTROL* Control = AdapterStandIn(&Image);
  const UINTN Count = Control != nullptr ? Control->ExecuteCount(Control) : 0;
  Report.Word("execs").Word(Tag).Decimal(Count).End();
  for (UINTN I = 0; I < Count; ++I) {
    const AdapterExecuteRecord* R = Control->ExecuteRecord(Control, I);
    if (R == nullptr) {
      break;
    }
    Report.Word("exec").Word(Tag).Decimal(I);
    if (EFI_ERROR(R->LocationStatus)) {
      Report.Word("-");
    } else {
      Report.Word(LocationWord(R->Location.Bus, R->Location.Device, R->Location.Function).Text);
    }
    Report.Status(R->LocationStatus).Decimal(R->OwnRecord ? 1 : 0);
    Report.Decimal(R->CommandZeroFilled ? 1 : 0).Decimal(R->ResponseZeroed ? 1 : 0);
    Report.Status(R->Returned).Hex(R->StatusWord, 8);
    Report.Bytes(reinterpret_cast<const UINT8*>(R->Text), R->TextLength).End();
  }
}
