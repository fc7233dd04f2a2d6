// The simulated MP services: procedures run on the application processors one after another in
// host time, which the caller cannot tell from "at the same time" because a blocking call returns
// only when all have finished.
#include "sim/mp_services.h"

#include <cstddef>

#include "sim/firmware_impl.h"
#include "sim/platform.h"
#include "sim/problems.h"

namespace sim {
// The protocol's members: each finds its MpServices through This.
struct MpThunks {
  static MpServices* Of(EFI_MP_SERVICES_PROTOCOL* This) {
    static_assert(offsetof(MpServices::ProtocolBlock, Iface) == 0,
                  "the interface starts its block");
    return This != nullptr ? reinterpret_cast<MpServices::ProtocolBlock*>(This)->Owner : nullptr;
  }
  static EFI_STATUS EFIAPI GetNumberOfProcessors(EFI_MP_SERVICES_PROTOCOL* This, UINTN* Total,
                                                 UINTN* Enabled) {
    MpServices* Mp = Of(This);
    return Mp != nullptr ? Mp->GetNumberOfProcessors(Total, Enabled) : EFI_INVALID_PARAMETER;
  }
  static EFI_STATUS EFIAPI GetProcessorInfo(EFI_MP_SERVICES_PROTOCOL* This, UINTN Processor,
                                            EFI_PROCESSOR_INFORMATION* Info) {
    MpServices* Mp = Of(This);
    return Mp != nullptr ? Mp->GetProcessorInfo(Processor, Info) : EFI_INVALID_PARAMETER;
  }
  static EFI_STATUS EFIAPI StartupAllAPs(EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure,
                                         BOOLEAN SingleThread, EFI_EVENT WaitEvent, UINTN Timeout,
                                         void* Argument, UINTN** FailedCpuList) {
    MpServices* Mp = Of(This);
    return Mp != nullptr ? Mp->StartupAllAPs(Procedure, SingleThread, WaitEvent, Timeout, Argument,
                                             FailedCpuList)
                         : EFI_INVALID_PARAMETER;
  }
  static EFI_STATUS EFIAPI StartupThisAP(EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure,
                                         UINTN Processor, EFI_EVENT WaitEvent, UINTN Timeout,
                                         void* Argument, BOOLEAN* Finished) {
    MpServices* Mp = Of(This);
    return Mp != nullptr
               ? Mp->StartupThisAP(Procedure, Processor, WaitEvent, Timeout, Argument, Finished)
               : EFI_INVALID_PARAMETER;
  }
  static EFI_STATUS EFIAPI EnableDisableAP(EFI_MP_SERVICES_PROTOCOL* This, UINTN Processor,
                                           BOOLEAN Enable, UINT32* HealthFlag) {
    MpServices* Mp = Of(This);
    return Mp != nullptr ? Mp->EnableDisableAP(Processor, Enable, HealthFlag)
                         : EFI_INVALID_PARAMETER;
  }
  static EFI_STATUS EFIAPI WhoAmI(EFI_MP_SERVICES_PROTOCOL* This, UINTN* Processor) {
    MpServices* Mp = Of(This);
    return Mp != nullptr ? Mp->WhoAmI(Processor) : EFI_INVALID_PARAMETER;
  }
};

MpServices::MpServices(Firmware& Firmware, Platform& Platform)
    : Firmware_(Firmware), Platform_(Platform), Enabled_(3, true) {
  Protocol_.Iface.GetNumberOfProcessors = MpThunks::GetNumberOfProcessors;
  Protocol_.Iface.GetProcessorInfo = MpThunks::GetProcessorInfo;
  Protocol_.Iface.StartupAllAPs = MpThunks::StartupAllAPs;
  Protocol_.Iface.StartupThisAP = MpThunks::StartupThisAP;
  SetUnsupported(Protocol_.Iface.SwitchBSP); // the boot processor stays the boot processor
  Protocol_.Iface.EnableDisableAP = MpThunks::EnableDisableAP;
  Protocol_.Iface.WhoAmI = MpThunks::WhoAmI;
  Protocol_.Owner = this;
}

void MpServices::SetApplicationProcessors(UINTN Count) {
  Enabled_.assign(Count, true);
}

void MpServices::SetEnabled(UINTN Processor, bool Enabled) {
  if (Processor == BootProcessor || Processor >= ProcessorCount()) {
    ReportProblem("no application processor " + std::to_string(Processor) +
                  " to enable or disable");
    return;
  }
  Enabled_[Processor - 1] = Enabled;
}

void MpServices::FailStartupAllAPs(EFI_STATUS Status, int Times) {
  FailStatus_ = Status;
  FailTimes_ = Times;
}

bool MpServices::CalledFromAp() const {
  return Platform_.RunningProcessor() != BootProcessor;
}

void MpServices::RunOn(UINTN Processor, EFI_AP_PROCEDURE Procedure, void* Argument) {
  struct Reopen {
    UINTN& Running;
    ~Reopen() { Running = 0; }
  } Guard{Firmware_.I->ApRunning};
  Firmware_.I->ApRunning = Processor;
  Platform_.RunOnProcessor(Processor, Procedure, Argument);
}

void MpServices::Finish(EFI_EVENT WaitEvent) {
  if (WaitEvent != nullptr) {
    Firmware_.I->SignalEvent(WaitEvent);
  }
}

EFI_STATUS MpServices::GetNumberOfProcessors(UINTN* Total, UINTN* Enabled) {
  if (CalledFromAp()) {
    return EFI_DEVICE_ERROR;
  }
  if (Total == nullptr || Enabled == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Total = ProcessorCount();
  *Enabled = 1;
  for (bool On : Enabled_) {
    *Enabled += On ? 1 : 0;
  }
  return EFI_SUCCESS;
}

EFI_STATUS MpServices::GetProcessorInfo(UINTN Processor, EFI_PROCESSOR_INFORMATION* Info) {
  if (CalledFromAp()) {
    return EFI_DEVICE_ERROR;
  }
  if (Info == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Processor >= ProcessorCount()) {
    return EFI_NOT_FOUND;
  }
  *Info = EFI_PROCESSOR_INFORMATION{};
  Info->ProcessorId = Processor;
  Info->StatusFlag = PROCESSOR_HEALTH_STATUS_BIT;
  if (Processor == BootProcessor) {
    Info->StatusFlag |= PROCESSOR_AS_BSP_BIT | PROCESSOR_ENABLED_BIT;
  } else if (Enabled_[Processor - 1]) {
    Info->StatusFlag |= PROCESSOR_ENABLED_BIT;
  }
  Info->Location.Core = static_cast<UINT32>(Processor);
  return EFI_SUCCESS;
}

EFI_STATUS MpServices::StartupAllAPs(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread,
                                     EFI_EVENT WaitEvent, UINTN Timeout, void* Argument,
                                     UINTN** FailedCpuList) {
  ApStartup Call{Firmware_.Clock.Now(),
                 true,
                 Platform_.RunningProcessor(),
                 Procedure,
                 SingleThread,
                 0,
                 WaitEvent == nullptr,
                 Timeout,
                 Argument,
                 FailedCpuList != nullptr,
                 EFI_SUCCESS,
                 {}};
  bool AnyEnabled = false;
  for (bool On : Enabled_) {
    AnyEnabled = AnyEnabled || On;
  }
  if (CalledFromAp()) {
    Call.Result = EFI_DEVICE_ERROR;
  } else if (Procedure == nullptr) {
    Call.Result = EFI_INVALID_PARAMETER;
  } else if (FailTimes_ != 0) {
    FailTimes_ -= FailTimes_ > 0 ? 1 : 0;
    Call.Result = FailStatus_;
  } else if (!AnyEnabled) {
    Call.Result = EFI_NOT_STARTED;
  } else {
    // Every AP finishes: a list of failed ones is not handed out.
    if (FailedCpuList != nullptr) {
      *FailedCpuList = nullptr;
    }
    Startups_.push_back(Call);
    for (UINTN Ap = 1; Ap < ProcessorCount(); ++Ap) {
      if (Enabled_[Ap - 1]) {
        Startups_.back().Ran.push_back(Ap);
        RunOn(Ap, Procedure, Argument);
      }
    }
    Finish(WaitEvent);
    return EFI_SUCCESS;
  }
  Startups_.push_back(Call);
  return Call.Result;
}

EFI_STATUS MpServices::StartupThisAP(EFI_AP_PROCEDURE Procedure, UINTN Processor,
                                     EFI_EVENT WaitEvent, UINTN Timeout, void* Argument,
                                     BOOLEAN* Finished) {
  ApStartup Call{Firmware_.Clock.Now(),
                 false,
                 Platform_.RunningProcessor(),
                 Procedure,
                 FALSE,
                 Processor,
                 WaitEvent == nullptr,
                 Timeout,
                 Argument,
                 false,
                 EFI_SUCCESS,
                 {}};
  if (CalledFromAp()) {
    Call.Result = EFI_DEVICE_ERROR;
  } else if (Procedure == nullptr || Processor == BootProcessor ||
             (Processor < ProcessorCount() && !Enabled_[Processor - 1])) {
    Call.Result = EFI_INVALID_PARAMETER;
  } else if (Processor >= ProcessorCount()) {
    Call.Result = EFI_NOT_FOUND;
  } else {
    Startups_.push_back(Call);
    Startups_.back().Ran.push_back(Processor);
    RunOn(Processor, Procedure, Argument);
    if (Finished != nullptr) {
      *Finished = TRUE;
    }
    Finish(WaitEvent);
    return EFI_SUCCESS;
  }
  Startups_.push_back(Call);
  return Call.Result;
}

EFI_STATUS MpServices::EnableDisableAP(UINTN Processor, BOOLEAN Enable, UINT32* HealthFlag) {
  (void)HealthFlag;
  if (CalledFromAp()) {
    return EFI_DEVICE_ERROR;
  }
  if (Processor >= ProcessorCount()) {
    return EFI_NOT_FOUND;
  }
  if (Processor == BootProcessor) {
    return EFI_INVALID_PARAMETER;
  }
  Enabled_[Processor - 1] = Enable != FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS MpServices::WhoAmI(UINTN* Processor) {
  if (Processor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Processor = Platform_.RunningProcessor();
  return EFI_SUCCESS;
}

} // namespace sim
