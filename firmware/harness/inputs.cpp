#include "firmware/harness/inputs.h"

#include "firmware/common/port_io_x86.h"
#include "firmware/harness/harness_context.h"
#include "hw/hw.h"

namespace {

constexpr UINT16 ReadyInputPort = 0x50C;
constexpr UINT16 WaitInputPort = 0x548;
constexpr UINT8 ModemControlDtr = 0x01;
constexpr UINT64 TimerUnitsPerMillisecond = 10000; // 100 ns units

EFI_EVENT ReadyRise = nullptr;
volatile BOOLEAN ReadyRisen = FALSE;

} // namespace

// DTR of the UART whose modem-control register is the adapter-ready port; its other outputs
// stay as they are.
void DriveReadyInput(bool Level) {
  const UINT8 Control = PortRead8(ReadyInputPort);
  PortWrite8(ReadyInputPort,
             static_cast<UINT8>(Level ? Control | ModemControlDtr : Control & ~ModemControlDtr));
}

namespace {

void EFIAPI RaiseReadyInput(EFI_EVENT, void*) {
  DriveReadyInput(true);
  ReadyRisen = TRUE;
}

} // namespace

// Waits for the adapter-ready input the way the driver's arrival notification does, at
// TPL_CALLBACK with Stall between the reads, so that only events above that level can raise it.
void WaitForReadyInput(UINT64 Milliseconds) {
  constexpr UINT64 PollMilliseconds = 100;
  const EFI_TPL Old = Harness.Bs->RaiseTPL(TPL_CALLBACK);
  UINT64 Waited = 0;
  UINT32 Level = PortRead32(ReadyInputPort);
  while ((Level & ModemControlDtr) == 0 && Waited < Milliseconds) {
    Harness.Bs->Stall(PollMilliseconds * 1000);
    Waited += PollMilliseconds;
    Level = PortRead32(ReadyInputPort);
  }
  Harness.Bs->RestoreTPL(Old);
  Report.Word("ready-wait").Decimal(Waited).Hex(Level, 8).End();
}

// A one-shot timer at TPL_NOTIFY: it fires even while a notification at TPL_CALLBACK stalls.
bool ArmReadyInputRise(UINT64 Milliseconds) {
  EFI_STATUS Status = EFI_SUCCESS;
  if (ReadyRise == nullptr) {
    Status = Harness.Bs->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RaiseReadyInput,
                                     nullptr, &ReadyRise);
  }
  if (!EFI_ERROR(Status)) {
    Status =
        Harness.Bs->SetTimer(ReadyRise, TimerRelative, Milliseconds * TimerUnitsPerMillisecond);
  }
  if (EFI_ERROR(Status)) {
    ReportError("ready-input-rises", Status);
  }
  return !EFI_ERROR(Status);
}

void ReportInputs(const char* Tag) {
  Report.Word("inputs").Word(Tag).Hex(PortRead32(ReadyInputPort), 8);
  Report.Hex(PortRead32(WaitInputPort), 8).Decimal(ReadyRisen ? 1 : 0).End();
}
