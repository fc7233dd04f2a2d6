#include "firmware/harness/processors.h"

#include "firmware/harness/harness_context.h"
#include "firmware/harness/scenario.h"

namespace {

constexpr UINTN MaxMpCalls = 16;

// One StartupAllAPs call: the arguments that say how it was asked, and what it returned.
struct MpCall {
  UINTN Procedure;
  BOOLEAN SingleThread;
  BOOLEAN WaitEvent;
  UINTN TimeoutInMicroSeconds;
  BOOLEAN Argument;
  BOOLEAN FailedCpuList;
  EFI_STATUS Status;
};

EFI_MP_SERVICES_PROTOCOL* Mp = nullptr;
EFI_MP_SERVICES_STARTUP_ALL_APS FirmwareStartupAllAPs = nullptr;
MpCall MpCalls[MaxMpCalls] = {};
UINTN MpCallsSeen = 0;
volatile UINT32 ApRuns = 0;

// The file name in a loaded image's file path, or "-" for an image with none (one from a firmware
// volume).
void ReportImageName(const EFI_DEVICE_PATH_PROTOCOL* Path) {
  CHAR16 Name[ScenarioNameMax] = {};
  const UINT8* At = reinterpret_cast<const UINT8*>(Path);
  for (UINTN Walked = 0; At != nullptr && Walked < DevicePathMax;) {
    const auto* Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL*>(At);
    const UINTN Length = NodeLength(Node);
    if (Node->Type == END_DEVICE_PATH_TYPE || Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      break;
    }
    if (Node->Type == MEDIA_DEVICE_PATH && Node->SubType == MEDIA_FILEPATH_DP) {
      const UINTN Units = (Length - sizeof(EFI_DEVICE_PATH_PROTOCOL)) / 2;
      for (UINTN I = 0; I < Units && I + 1 < ScenarioNameMax; ++I) {
        Name[I] = static_cast<CHAR16>(At[4 + 2 * I] | (At[5 + 2 * I] << 8));
        Name[I + 1] = 0;
      }
    }
    At += Length;
    Walked += Length;
  }
  if (Name[0] == 0) {
    Report.Word("-");
  } else {
    Report.Name(Name);
  }
}

// The loaded image whose memory holds Address, named, and Address's offset from the image's base.
void ReportCodeAddress(UINTN Address) {
  UINTN Count = 0;
  EFI_HANDLE* Handles = nullptr;
  const EFI_LOADED_IMAGE_PROTOCOL* Found = nullptr;
  if (!EFI_ERROR(Harness.Bs->LocateHandleBuffer(
          ByProtocol, GuidPointer(EFI_LOADED_IMAGE_PROTOCOL_GUID), nullptr, &Count, &Handles))) {
    for (UINTN I = 0; I < Count && Found == nullptr; ++I) {
      const EFI_LOADED_IMAGE_PROTOCOL* Image = LoadedImage(Handles[I]);
      const UINTN Base = reinterpret_cast<UINTN>(Image != nullptr ? Image->ImageBase : nullptr);
      if (Image != nullptr && Address >= Base && Address - Base < Image->ImageSize) {
        Found = Image;
      }
    }
    Harness.Bs->FreePool(Handles);
  }
  if (Found == nullptr) {
    Report.Word("?").Hex(Address, 16);
    return;
  }
  ReportImageName(Found->FilePath);
  Report.Hex(Address - reinterpret_cast<UINTN>(Found->ImageBase), 8);
}

// Each call is recorded, and a snapshot taken ("mp0", "mp1", ...), before the firmware runs it:
// what the caller had done by then (variables written, a mailbox released) shows in the report.
EFI_STATUS EFIAPI WatchedStartupAllAPs(EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure,
                                       BOOLEAN SingleThread, EFI_EVENT WaitEvent,
                                       UINTN TimeoutInMicroSeconds, void* ProcedureArgument,
                                       UINTN** FailedCpuList) {
  const UINTN Index = MpCallsSeen;
  MpCall Scratch;
  MpCall& Call = Index < MaxMpCalls ? MpCalls[Index] : Scratch;
  Call = MpCall{reinterpret_cast<UINTN>(Procedure),
                SingleThread,
                WaitEvent != nullptr,
                TimeoutInMicroSeconds,
                ProcedureArgument != nullptr,
                FailedCpuList != nullptr,
                EFI_NOT_READY};
  MpCallsSeen = Index + 1;
  char Tag[] = {'m', 'p', static_cast<char>('0' + Index / 10 % 10),
                static_cast<char>('0' + Index % 10), '\0'};
  Snapshot(Tag);
  Call.Status = FirmwareStartupAllAPs(This, Procedure, SingleThread, WaitEvent,
                                      TimeoutInMicroSeconds, ProcedureArgument, FailedCpuList);
  return Call.Status;
}

void EFIAPI CountThisProcessor(void*) {
  __atomic_fetch_add(&ApRuns, 1, __ATOMIC_SEQ_CST);
}

} // namespace

void WrapStartupAllAPs() {
  EFI_STATUS Status = Harness.Bs->LocateProtocol(GuidPointer(EFI_MP_SERVICES_PROTOCOL_GUID),
                                                 nullptr, reinterpret_cast<void**>(&Mp));
  if (EFI_ERROR(Status)) {
    ReportError("mp-services", Status);
    return;
  }
  FirmwareStartupAllAPs = Mp->StartupAllAPs;
  Mp->StartupAllAPs = WatchedStartupAllAPs;
}

// The harness's own use of the services, through the same interface the driver locates.
void RunOnEveryProcessor() {
  UINTN Processors = 0, Enabled = 0;
  EFI_STATUS Status = EFI_NOT_STARTED;
  if (Mp != nullptr) {
    Status = Mp->GetNumberOfProcessors(Mp, &Processors, &Enabled);
  }
  ApRuns = 0;
  if (!EFI_ERROR(Status)) {
    Status = Mp->StartupAllAPs(Mp, CountThisProcessor, FALSE, nullptr, 0, nullptr, nullptr);
  }
  Report.Word("mprun").Status(Status).Decimal(Processors).Decimal(Enabled);
  Report.Decimal(ApRuns).End();
}

void ReportMpCalls(const char* Tag) {
  const UINTN Seen = MpCallsSeen;
  Report.Word("mpcalls").Word(Tag).Decimal(Seen).End();
  for (UINTN I = 0; I < Seen && I < MaxMpCalls; ++I) {
    const MpCall& C = MpCalls[I];
    Report.Word("mpcall").Word(Tag).Decimal(I);
    ReportCodeAddress(C.Procedure);
    Report.Decimal(C.SingleThread ? 1 : 0).Decimal(C.TimeoutInMicroSeconds);
    Report.Decimal(C.WaitEvent ? 1 : 0).Decimal(C.Argument ? 1 : 0);
    Report.Decimal(C.FailedCpuList ? 1 : 0).Status(C.Status).End();
  }
}
