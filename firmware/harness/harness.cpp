// The test harness: an EFI application that OVMF boots from the virtual FAT drive. It carries out
// the scenario file beside it (firmware/harness/scenario.h) and reports what it saw on the debug
// console port, which QEMU writes into a host file for the runner to check.
//
// Before anything is loaded it listens for status codes and wraps ResetSystem, so that a driver
// that resets the machine still gets everything reported first, and wraps StartupAllAPs of the
// firmware's multiprocessor services, so that every call of it is seen.
#include "core/protocols.h"
#include "firmware/common/ipmi_kcs.h"
#include "firmware/common/pi_protocols.h"
#include "firmware/common/port_io_x86.h"
#include "firmware/common/smbios_record.h"
#include "firmware/common/standin_config.h"
#include "firmware/harness/adapters.h"
#include "firmware/harness/harness_context.h"
#include "firmware/harness/inputs.h"
#include "firmware/harness/processors.h"
#include "firmware/harness/report_writer.h"
#include "firmware/harness/scenario.h"
#include "hw/hw.h"

namespace {

constexpr UINTN MaxWatches = 16;
constexpr UINTN MaxReadbacks = 16;
constexpr UINTN MaxCodes = 64;
constexpr UINTN ScenarioFileMax = 64 * 1024;
constexpr UINT8 FruReadChunk = 16;
constexpr UINT16 PciConfigAddress = 0xCF8;
constexpr UINT16 PciConfigData = 0xCFC;
constexpr UINT32 PciBusNumberRegister = 0x18;

struct Watch {
  CHAR16 Name[ScenarioNameMax];
  EFI_GUID Guid;
  UINTN Size;
};

struct Readback {
  UINT8 Fru;
  UINT16 Offset;
  UINT16 Count;
};

struct StatusCode {
  EFI_STATUS_CODE_TYPE Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32 Instance;
};

struct HarnessState {
  EFI_RESET_SYSTEM FirmwareReset;
  PlatformInfoAnswers Answers;
  Watch Watches[MaxWatches];
  UINTN WatchCount;
  Readback Readbacks[MaxReadbacks];
  UINTN ReadbackCount;
  // Filled by the status-code listener, which the firmware may call at any TPL.
  StatusCode Codes[MaxCodes];
  volatile UINTN CodesSeen;
  Directive Current;
  UINT8 Scratch[ScenarioDataMax];
  // Time-stamp counter ticks: the last StartImage, and every ipmi directive's request so far.
  UINT64 LastStartTicks;
  UINT64 IpmiTicks;
};

HarnessState H;

UINT64 TimeStampCounter() {
  return __builtin_ia32_rdtsc();
}

EFI_STATUS EFIAPI RecordStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                   UINT32 Instance, EFI_GUID*, EFI_STATUS_CODE_DATA*) {
  const UINTN Index = H.CodesSeen;
  if (Index < MaxCodes) {
    H.Codes[Index] = StatusCode{Type, Value, Instance};
  }
  H.CodesSeen = Index + 1;
  return EFI_SUCCESS;
}

// Reads Count FRU bytes over KCS in Read FRU Data requests of at most 16 bytes. When the BMC
// refuses a request, Out[0] holds its completion code.
EFI_STATUS ReadFru(UINT8 Fru, UINT16 Offset, UINT16 Count, UINT8* Out, UINTN* Refusal) {
  *Refusal = 0;
  const KcsPorts Ports = X86KcsPorts(Harness.Bs);
  for (UINT16 Done = 0; Done < Count;) {
    const UINT8 Chunk =
        Count - Done < FruReadChunk ? static_cast<UINT8>(Count - Done) : FruReadChunk;
    const UINT16 At = static_cast<UINT16>(Offset + Done);
    UINT8 Request[4] = {Fru, static_cast<UINT8>(At), static_cast<UINT8>(At >> 8), Chunk};
    UINT8 Response[FruReadChunk + 1];
    UINT8 Size = sizeof(Response);
    EFI_STATUS Status = IpmiKcsSend(Ports, KcsDefaultLimits, 0x0A, 0, 0x11, Request,
                                    sizeof(Request), Response, &Size);
    if (Status == EFI_DEVICE_ERROR && Size == 1) {
      Out[0] = Response[0];
      *Refusal = 1;
    }
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (Size != Chunk + 1 || Response[0] != Chunk) {
      return EFI_BAD_BUFFER_SIZE;
    }
    for (UINT8 I = 0; I < Chunk; ++I) {
      Out[Done + I] = Response[1 + I];
    }
    Done = static_cast<UINT16>(Done + Chunk);
  }
  return EFI_SUCCESS;
}

void ReportFru(const char* Tag, const Readback& R) {
  UINTN Refusal = 0;
  const EFI_STATUS Status = ReadFru(R.Fru, R.Offset, R.Count, H.Scratch, &Refusal);
  Report.Word("fru").Word(Tag).Decimal(R.Fru).Decimal(R.Offset).Status(Status);
  Report.Bytes(H.Scratch, EFI_ERROR(Status) ? Refusal : R.Count).End();
}

void ReportVariable(const char* Tag, Watch& W) {
  UINTN Size = W.Size;
  const EFI_STATUS Status = Harness.Rt->GetVariable(W.Name, &W.Guid, nullptr, &Size, H.Scratch);
  Report.Word("var").Word(Tag).Name(W.Name).Guid(W.Guid).Status(Status);
  Report.Bytes(H.Scratch, EFI_ERROR(Status) ? 0 : Size).End();
}

} // namespace

void Snapshot(const char* Tag) {
  Report.Word("snapshot").Word(Tag).End();
  // The input levels first: reading FRU bytes back takes a while.
  ReportInputs(Tag);
  for (UINTN I = 0; I < H.ReadbackCount; ++I) {
    ReportFru(Tag, H.Readbacks[I]);
  }
  for (UINTN I = 0; I < H.WatchCount; ++I) {
    ReportVariable(Tag, H.Watches[I]);
  }
  const UINTN Seen = H.CodesSeen;
  Report.Word("codes").Word(Tag).Decimal(Seen).End();
  for (UINTN I = 0; I < Seen && I < MaxCodes; ++I) {
    Report.Word("code").Word(Tag).Decimal(I).Hex(H.Codes[I].Type, 8).Hex(H.Codes[I].Value, 8);
    Report.Decimal(H.Codes[I].Instance).End();
  }
  ReportExecutes(Tag);
  ReportMpCalls(Tag);
}

namespace {

void Finish() {
  const UINTN Lines = Report.Lines();
  Report.Word("end").Decimal(Lines).End();
}

// Whatever resets the machine, the run's observations go out first.
void EFIAPI ReportingReset(EFI_RESET_TYPE Type, EFI_STATUS Status, UINTN DataSize, void* Data) {
  Report.Word("reset").Decimal(Type).Status(Status).End();
  Snapshot("reset");
  Finish();
  H.FirmwareReset(Type, Status, DataSize, Data);
}

void WrapResetSystem() {
  H.FirmwareReset = Harness.Rt->ResetSystem;
  Harness.Rt->ResetSystem = ReportingReset;
  // Keep the table's checksum honest for anyone who verifies it.
  Harness.Rt->Hdr.CRC32 = 0;
  UINT32 Crc = 0;
  if (!EFI_ERROR(Harness.Bs->CalculateCrc32(Harness.Rt, Harness.Rt->Hdr.HeaderSize, &Crc))) {
    Harness.Rt->Hdr.CRC32 = Crc;
  }
}

void ListenForStatusCodes() {
  EFI_RSC_HANDLER_PROTOCOL* Router = nullptr;
  EFI_STATUS Status = Harness.Bs->LocateProtocol(GuidPointer(EFI_RSC_HANDLER_PROTOCOL_GUID),
                                                 nullptr, reinterpret_cast<void**>(&Router));
  if (!EFI_ERROR(Status)) {
    Status = Router->Register(RecordStatusCode, TPL_HIGH_LEVEL);
  }
  if (EFI_ERROR(Status)) {
    ReportError("status-code-listener", Status);
  }
}

EFI_STATUS WritePlatformAnswers() {
  return Harness.Rt->SetVariable(
      const_cast<CHAR16*>(PlatformInfoAnswersName), GuidPointer(StandInConfigGuid),
      EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, sizeof(H.Answers), &H.Answers);
}

void CopyName(CHAR16 (&To)[ScenarioNameMax], const CHAR16 (&From)[ScenarioNameMax]) {
  for (UINTN I = 0; I < ScenarioNameMax; ++I) {
    To[I] = From[I];
  }
}

bool AddWatch(const Directive& D, UINTN Size) {
  if (H.WatchCount == MaxWatches) {
    return false;
  }
  Watch& W = H.Watches[H.WatchCount++];
  CopyName(W.Name, D.Name);
  W.Guid = D.Guid;
  W.Size = Size;
  return true;
}

// Bytes of a device path before its end node; 0 when it is malformed or implausibly long.
UINTN DevicePathSize(const EFI_DEVICE_PATH_PROTOCOL* Path) {
  UINTN Size = 0;
  const UINT8* At = reinterpret_cast<const UINT8*>(Path);
  for (;;) {
    const auto* Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL*>(At + Size);
    if (Node->Type == END_DEVICE_PATH_TYPE && Node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      return Size;
    }
    const UINTN Length = NodeLength(Node);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL) || Size + Length > DevicePathMax) {
      return 0;
    }
    Size += Length;
  }
}

// The device path of File on the harness's own volume, in pool memory the caller frees.
EFI_DEVICE_PATH_PROTOCOL* FilePathOnOwnVolume(const CHAR16* File) {
  EFI_LOADED_IMAGE_PROTOCOL* Self = LoadedImage(Harness.Image);
  EFI_DEVICE_PATH_PROTOCOL* Volume = nullptr;
  if (Self == nullptr || EFI_ERROR(Harness.Bs->HandleProtocol(
                             Self->DeviceHandle, GuidPointer(EFI_DEVICE_PATH_PROTOCOL_GUID),
                             reinterpret_cast<void**>(&Volume)))) {
    return nullptr;
  }
  const UINTN Prefix = DevicePathSize(Volume);
  UINTN Units = 0;
  while (File[Units] != 0) {
    ++Units;
  }
  const UINTN FileNode = sizeof(EFI_DEVICE_PATH_PROTOCOL) + 2 * (Units + 1);
  const UINTN Total = Prefix + FileNode + sizeof(EFI_DEVICE_PATH_PROTOCOL);
  void* Buffer = nullptr;
  if (Prefix == 0 || EFI_ERROR(Harness.Bs->AllocatePool(EfiBootServicesData, Total, &Buffer))) {
    return nullptr;
  }
  UINT8* Out = static_cast<UINT8*>(Buffer);
  const UINT8* In = reinterpret_cast<const UINT8*>(Volume);
  for (UINTN I = 0; I < Prefix; ++I) {
    Out[I] = In[I];
  }
  UINT8* Node = Out + Prefix;
  Node[0] = MEDIA_DEVICE_PATH;
  Node[1] = MEDIA_FILEPATH_DP;
  Node[2] = static_cast<UINT8>(FileNode);
  Node[3] = static_cast<UINT8>(FileNode >> 8);
  for (UINTN I = 0; I <= Units; ++I) {
    Node[4 + 2 * I] = static_cast<UINT8>(File[I]);
    Node[5 + 2 * I] = static_cast<UINT8>(File[I] >> 8);
  }
  UINT8* End = Node + FileNode;
  End[0] = END_DEVICE_PATH_TYPE;
  End[1] = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  End[2] = sizeof(EFI_DEVICE_PATH_PROTOCOL);
  End[3] = 0;
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(Out);
}

void LoadAndStart(const CHAR16* File) {
  EFI_DEVICE_PATH_PROTOCOL* Path = FilePathOnOwnVolume(File);
  EFI_HANDLE Handle = nullptr;
  EFI_STATUS Loaded = EFI_NOT_FOUND;
  if (Path != nullptr) {
    Loaded = Harness.Bs->LoadImage(0, Harness.Image, Path, nullptr, 0, &Handle);
    Harness.Bs->FreePool(Path);
  }
  EFI_STATUS Started = EFI_NOT_STARTED;
  if (!EFI_ERROR(Loaded)) {
    // Said before the start: a driver that resets the machine never returns here.
    Report.Word("start").Name(File).End();
    const UINT64 Before = TimeStampCounter();
    Started = Harness.Bs->StartImage(Handle, nullptr, nullptr);
    H.LastStartTicks = TimeStampCounter() - Before;
  }
  // A driver whose entry failed is unloaded by the firmware: its loaded-image protocol is gone.
  const bool Resident = !EFI_ERROR(Loaded) && LoadedImage(Handle) != nullptr;
  Report.Word("load").Name(File).Status(Loaded).Status(Started).Decimal(Resident ? 1 : 0).End();
}

UINT32 PciConfigRead(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  PortWrite32(PciConfigAddress,
              0x80000000u | (Bus << 16) | (Device << 11) | (Function << 8) | Register);
  return PortRead32(PciConfigData);
}

// One function's vendor and device ID and, for a bridge, its primary, secondary and subordinate
// bus numbers: enough to see that a machine layout came up as planned.
void ReportPci(UINT32 Bus, UINT32 Device, UINT32 Function) {
  Report.Word("pci").Word(LocationWord(Bus, Device, Function).Text);
  Report.Hex(PciConfigRead(Bus, Device, Function, 0), 8);
  Report.Hex(PciConfigRead(Bus, Device, Function, PciBusNumberRegister), 8).End();
}

constexpr EFI_GUID Smbios3TableGuid = {
    0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};
constexpr EFI_GUID SmbiosTableGuid = {
    0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr UINT8 SmbiosEndOfTable = 127;
constexpr UINTN SmbiosUuidOffset = 8;

template <typename T> T ReadUnaligned(const UINT8* At) {
  T Value = 0;
  for (UINTN I = 0; I < sizeof(T); ++I) {
    Value = static_cast<T>(Value | (static_cast<T>(At[I]) << (8 * I)));
  }
  return Value;
}

// The System Information structure as the firmware publishes it to the operating system: the
// structure table behind the SMBIOS 3 entry point (or the 2.x one), walked within its length.
void ReportPublishedSystemInformation() {
  EFI_SYSTEM_TABLE* St = Harness.St;
  const UINT8* Table = nullptr;
  UINTN Length = 0;
  for (UINTN I = 0; I < St->NumberOfTableEntries && Table == nullptr; ++I) {
    const EFI_CONFIGURATION_TABLE& Entry = St->ConfigurationTable[I];
    const UINT8* Point = static_cast<const UINT8*>(Entry.VendorTable);
    if (GuidEquals(Entry.VendorGuid, Smbios3TableGuid)) {
      Table = reinterpret_cast<const UINT8*>(ReadUnaligned<UINT64>(Point + 0x10));
      Length = ReadUnaligned<UINT32>(Point + 0x0C);
    }
  }
  for (UINTN I = 0; I < St->NumberOfTableEntries && Table == nullptr; ++I) {
    const EFI_CONFIGURATION_TABLE& Entry = St->ConfigurationTable[I];
    const UINT8* Point = static_cast<const UINT8*>(Entry.VendorTable);
    if (GuidEquals(Entry.VendorGuid, SmbiosTableGuid)) {
      Table =
          reinterpret_cast<const UINT8*>(static_cast<UINTN>(ReadUnaligned<UINT32>(Point + 0x18)));
      Length = ReadUnaligned<UINT16>(Point + 0x16);
    }
  }
  for (UINTN At = 0; Table != nullptr && At + SmbiosHeaderSize <= Length;) {
    const UINTN Size = SmbiosRecordSize(Table + At, Length - At);
    if (Size == 0 || Table[At] == SmbiosEndOfTable) {
      break;
    }
    if (Table[At] == 1) {
      Report.Word("smbios").Word("table").Status(EFI_SUCCESS).Bytes(Table + At, Size).End();
      return;
    }
    At += Size;
  }
  Report.Word("smbios").Word("table").Status(EFI_NOT_FOUND).Bytes(nullptr, 0).End();
}

EFI_STATUS ReportSmbiosGet(SMBIOS_EDIT_PROTOCOL* Edit, const char* What, UINT8** Copy,
                           UINT16* Size) {
  const EFI_STATUS Status = Edit->GetStructure(1, 1, Copy, Size);
  Report.Word("smbios").Word(What).Status(Status);
  Report.Bytes(EFI_ERROR(Status) ? nullptr : *Copy, EFI_ERROR(Status) ? 0 : *Size).End();
  return Status;
}

// SmbiosEditProtocol used the way the driver's UUID setting uses it: get the System Information
// structure, put the UUID in, update the structure under its own handle; then read it back through
// the protocol and from the published table.
void EditSmbiosUuid(const UINT8* Uuid) {
  SMBIOS_EDIT_PROTOCOL* Edit = nullptr;
  EFI_STATUS Status = Harness.Bs->LocateProtocol(GuidPointer(SmbiosEditProtocolGuid), nullptr,
                                                 reinterpret_cast<void**>(&Edit));
  if (EFI_ERROR(Status)) {
    ReportError("smbios-edit", Status);
    return;
  }
  UINT8* Copy = nullptr;
  UINT16 Size = 0;
  if (!EFI_ERROR(ReportSmbiosGet(Edit, "get", &Copy, &Size))) {
    if (Size >= SmbiosUuidOffset + 16) {
      for (UINTN I = 0; I < 16; ++I) {
        Copy[SmbiosUuidOffset + I] = Uuid[I];
      }
      Status = Edit->UpdateStructure(SmbiosRecordHandle(Copy), Copy, Size);
    } else {
      Status = EFI_BAD_BUFFER_SIZE;
    }
    Report.Word("smbios").Word("update").Status(Status).Bytes(nullptr, 0).End();
    Harness.Bs->FreePool(Copy);
  }
  if (!EFI_ERROR(ReportSmbiosGet(Edit, "reget", &Copy, &Size))) {
    Harness.Bs->FreePool(Copy);
  }
  ReportPublishedSystemInformation();
}

// One request to the BMC, as a platform's transport would carry it: the answer's bytes after the
// completion code, or the completion code alone when the BMC refused the request.
void SendIpmi(const Directive& D) {
  UINT8 Response[255];
  UINT8 Size = sizeof(Response);
  const UINT8 NetFn = static_cast<UINT8>(D.Numbers[0]);
  const UINT8 Command = static_cast<UINT8>(D.Numbers[1]);
  const UINT64 Before = TimeStampCounter();
  const EFI_STATUS Status =
      IpmiKcsSend(X86KcsPorts(Harness.Bs), KcsDefaultLimits, NetFn, 0, Command, D.Data,
                  static_cast<UINT8>(D.DataSize), Response, &Size);
  H.IpmiTicks += TimeStampCounter() - Before;
  Report.Word("ipmi").Hex(NetFn, 2).Hex(Command, 2).Status(Status).Bytes(Response, Size).End();
}

void InstallCompletionSignal() {
  // Only the installation matters to the driver; the interface is never looked at.
  static UINT8 Interface;
  EFI_HANDLE Handle = nullptr;
  const EFI_STATUS Status = Harness.Bs->InstallProtocolInterface(
      &Handle, GuidPointer(CompletionSignalProtocolGuid), EFI_NATIVE_INTERFACE, &Interface);
  Report.Word("completion").Status(Status).End();
}

bool Execute(const Directive& D) {
  switch (D.Kind) {
  case DirectiveKind::Variable: {
    const EFI_STATUS Status =
        Harness.Rt->SetVariable(const_cast<CHAR16*>(D.Name), const_cast<EFI_GUID*>(&D.Guid),
                                D.Attributes, D.DataSize, const_cast<UINT8*>(D.Data));
    if (EFI_ERROR(Status)) {
      ReportError("variable", Status);
      return false;
    }
    return AddWatch(D, D.DataSize);
  }
  case DirectiveKind::Platform: {
    UINT64 Unused = 0;
    if (EFI_ERROR(PlatformInfoAnswer(H.Answers, D.Numbers[0], &Unused))) {
      ReportError("platform-item", EFI_UNSUPPORTED);
      return false;
    }
    (D.Numbers[0] == PlatformInfoItemRefused ? H.Answers.Item29 : H.Answers.Item30) = D.Numbers[1];
    const EFI_STATUS Status = WritePlatformAnswers();
    if (EFI_ERROR(Status)) {
      ReportError("platform", Status);
    }
    return !EFI_ERROR(Status);
  }
  case DirectiveKind::Watch:
    return AddWatch(D, D.Numbers[0]);
  case DirectiveKind::Readback:
    if (H.ReadbackCount == MaxReadbacks) {
      return false;
    }
    H.Readbacks[H.ReadbackCount++] =
        Readback{static_cast<UINT8>(D.Numbers[0]), static_cast<UINT16>(D.Numbers[1]),
                 static_cast<UINT16>(D.Numbers[2])};
    return true;
  case DirectiveKind::Load:
    LoadAndStart(D.Name);
    return true;
  case DirectiveKind::Completion:
    InstallCompletionSignal();
    return true;
  case DirectiveKind::Snapshot:
    Snapshot(D.Tag);
    return true;
  case DirectiveKind::SmbiosUuid:
    EditSmbiosUuid(D.Data);
    return true;
  case DirectiveKind::SmbiosTable:
    ReportPublishedSystemInformation();
    return true;
  case DirectiveKind::Ipmi:
    SendIpmi(D);
    return true;
  case DirectiveKind::Clock:
    // The counter is read first, so that the line's own output falls into the next interval.
    Report.Word("clock").Word(D.Tag).Decimal(TimeStampCounter()).Decimal(H.LastStartTicks);
    Report.Decimal(H.IpmiTicks).End();
    return true;
  case DirectiveKind::Stall:
    Harness.Bs->Stall(D.Numbers[0]);
    return true;
  case DirectiveKind::Pci:
    ReportPci(static_cast<UINT32>(D.Numbers[0]), static_cast<UINT32>(D.Numbers[1]),
              static_cast<UINT32>(D.Numbers[2]));
    return true;
  case DirectiveKind::Adapter:
    return PlanAdapter(D);
  case DirectiveKind::Connect:
    ConnectAdapter(D);
    return true;
  case DirectiveKind::Execute:
    ExecuteFor(D);
    return true;
  case DirectiveKind::ReadyInput:
    DriveReadyInput(D.Numbers[0] != 0);
    return true;
  case DirectiveKind::ReadyInputRises:
    return ArmReadyInputRise(D.Numbers[0]);
  case DirectiveKind::WaitReady:
    WaitForReadyInput(D.Numbers[0]);
    return true;
  case DirectiveKind::PciHandles:
    ReportPciHandles();
    return true;
  case DirectiveKind::MpRun:
    RunOnEveryProcessor();
    return true;
  }
  return false;
}

// The scenario file from the root of the harness's own volume, in pool memory.
EFI_STATUS ReadScenario(char** Text, UINTN* Size) {
  EFI_LOADED_IMAGE_PROTOCOL* Self = LoadedImage(Harness.Image);
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* Fs = nullptr;
  if (Self == nullptr) {
    return EFI_NOT_FOUND;
  }
  EFI_STATUS Status = Harness.Bs->HandleProtocol(Self->DeviceHandle,
                                                 GuidPointer(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID),
                                                 reinterpret_cast<void**>(&Fs));
  EFI_FILE_PROTOCOL* Root = nullptr;
  if (EFI_ERROR(Status) || EFI_ERROR(Status = Fs->OpenVolume(Fs, &Root))) {
    return Status;
  }
  EFI_FILE_PROTOCOL* File = nullptr;
  Status = Root->Open(Root, &File, const_cast<CHAR16*>(u"\\SCENARIO.TXT"), EFI_FILE_MODE_READ, 0);
  if (!EFI_ERROR(Status)) {
    void* Buffer = nullptr;
    Status = Harness.Bs->AllocatePool(EfiBootServicesData, ScenarioFileMax, &Buffer);
    if (!EFI_ERROR(Status)) {
      *Size = ScenarioFileMax;
      Status = File->Read(File, Size, Buffer);
      // A file that fills the buffer may have been cut short.
      if (!EFI_ERROR(Status) && *Size == ScenarioFileMax) {
        Status = EFI_BAD_BUFFER_SIZE;
      }
      if (EFI_ERROR(Status)) {
        Harness.Bs->FreePool(Buffer);
      } else {
        *Text = static_cast<char*>(Buffer);
      }
    }
    File->Close(File);
  }
  Root->Close(Root);
  return Status;
}

void RunScenario() {
  char* Text = nullptr;
  UINTN Size = 0;
  const EFI_STATUS Status = ReadScenario(&Text, &Size);
  if (EFI_ERROR(Status)) {
    ReportError("scenario-file", Status);
    return;
  }
  UINTN Position = 0;
  const char* Line = nullptr;
  UINTN Length = 0;
  for (UINTN Number = 1; NextLine(Text, Size, &Position, &Line, &Length); ++Number) {
    const char* Message = nullptr;
    const ParseOutcome Outcome = ParseDirective(Line, Length, &H.Current, &Message);
    if (Outcome == ParseOutcome::Error) {
      Report.Word("error").Word("scenario-line").Decimal(Number).Word(Message).End();
      break;
    }
    if (Outcome == ParseOutcome::Directive && !Execute(H.Current)) {
      Report.Word("error").Word("scenario-line").Decimal(Number).Word("not-carried-out").End();
      break;
    }
  }
  Harness.Bs->FreePool(Text);
}

} // namespace

extern "C" EFI_STATUS EFIAPI HarnessMain(EFI_HANDLE Image, EFI_SYSTEM_TABLE* SystemTable) {
  Harness.Image = Image;
  Harness.St = SystemTable;
  Harness.Bs = SystemTable->BootServices;
  Harness.Rt = SystemTable->RuntimeServices;
  Report.Word("begin").End();
  ListenForStatusCodes();
  WrapResetSystem();
  WrapStartupAllAPs();
  // The platform-information stand-in answers 0 to both items unless the scenario says otherwise.
  const EFI_STATUS Status = WritePlatformAnswers();
  if (EFI_ERROR(Status)) {
    ReportError("platform", Status);
  }
  RunScenario();
  Finish();
  H.FirmwareReset(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
