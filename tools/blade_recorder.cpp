#include "tools/blade_recorder.h"

#include <cstddef>

namespace tools {

BladeRecorder::BladeRecorder(sim::Blade& Blade, std::vector<WaitMessageAnswer> WaitAnswers)
    : Blade_(Blade), WaitAnswers_(std::move(WaitAnswers)) {
  Block_.Iface.Reserved = nullptr;
  Block_.Iface.SendIpmiCommand = SendThunk;
  Block_.Owner = this;
}

void BladeRecorder::Install() {
  EFI_HANDLE Handle = nullptr;
  Blade_.Firmware.Install(&Handle, IpmiTransportProtocolGuid, &Block_.Iface);
}

RecordMarks BladeRecorder::Now() const {
  RecordMarks M;
  M.Requests = Before_.size();
  for (size_t I = 0; I < Blade_.Adapters.Count(); ++I) {
    M.ExecuteCalls.push_back(Blade_.Adapters[I].Calls().size());
  }
  M.PlatformPorts = Blade_.Platform.PortAccesses().size();
  M.PciPorts = Blade_.Pci.PortAccesses().size();
  M.Msrs = Blade_.Platform.MsrAccesses().size();
  M.Startups = Blade_.Mp.Startups().size();
  M.StatusCodes = Blade_.Platform.StatusCodes().size();
  M.VariableWrites = Blade_.Firmware.Variables.Writes().size();
  M.Resets = Blade_.Firmware.Resets().size();
  return M;
}

EFI_STATUS EFIAPI BladeRecorder::SendThunk(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFn, UINT8 Lun,
                                           UINT8 Cmd, UINT8* Request, UINT8 RequestSize,
                                           UINT8* Response, UINT8* ResponseSize) {
  static_assert(offsetof(Block, Iface) == 0, "the interface starts its block");
  if (This == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return reinterpret_cast<Block*>(This)->Owner->Send(NetFn, Lun, Cmd, Request, RequestSize,
                                                     Response, ResponseSize);
}

void BladeRecorder::ScriptWaitAnswer(UINT8 NetFn, UINT8 Cmd, const UINT8* Request,
                                     UINT8 RequestSize) {
  const bool Begins = IsWaitMessage(NetFn, Cmd, Request, RequestSize, true);
  const bool Ends = IsWaitMessage(NetFn, Cmd, Request, RequestSize, false);
  if (!Begins && !Ends) {
    return;
  }
  for (WaitMessageAnswer& A : WaitAnswers_) {
    const bool Matches = A.Message == WaitMessageAnswer::Which::Either ||
                         (A.Message == WaitMessageAnswer::Which::Begins) == Begins;
    if (A.Times == 0 || !Matches) {
      continue;
    }
    --A.Times;
    const sim::RequestMatch Match{NetFn, Cmd, {}, {}};
    if (A.Code) {
      Blade_.Bmc.InjectCompletion(*A.Code, 1, Match);
    } else {
      Blade_.Bmc.InjectStatus(*A.Status, 1, Match);
    }
    return;
  }
}

EFI_STATUS BladeRecorder::Send(UINT8 NetFn, UINT8 Lun, UINT8 Cmd, UINT8* Request, UINT8 RequestSize,
                               UINT8* Response, UINT8* ResponseSize) {
  Before_.push_back(Now());
  ScriptWaitAnswer(NetFn, Cmd, Request, RequestSize);
  return Blade_.Bmc.Send(NetFn, Lun, Cmd, Request, RequestSize, Response, ResponseSize);
}

} // namespace tools
