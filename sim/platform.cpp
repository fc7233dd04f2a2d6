// The simulated platform: platform information, status codes, the input-level ports over virtual
// time, CPUID topology and MSRs.
#include "sim/platform.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "sim/current_instance.h"
#include "sim/firmware.h"
#include "sim/problems.h"

namespace sim {
namespace {

// Neither protocol passes an interface pointer.
Platform* CurrentPlatform() {
  return CurrentInstance<Platform>::Find("a platform protocol");
}

EFI_STATUS EFIAPI QueryThunk(UINTN Index, UINT64* Value) {
  Platform* P = CurrentPlatform();
  return P != nullptr ? P->Query(Index, Value) : EFI_DEVICE_ERROR;
}

EFI_STATUS EFIAPI ReportStatusCodeThunk(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                        UINT32 Instance, EFI_GUID* CallerId,
                                        EFI_STATUS_CODE_DATA* Data) {
  Platform* P = CurrentPlatform();
  return P != nullptr ? P->Report(Type, Value, Instance, CallerId, Data) : EFI_DEVICE_ERROR;
}

constexpr UINT32 CpuidTopologyLeaf = 0x0B;
constexpr UINT32 LevelTypeSmt = 1;
constexpr UINT32 LevelTypeCore = 2;

// Bits of the x2APIC ID taken by Count logical processors: the shift to the next level's ID.
UINT32 IdBits(UINT32 Count) {
  UINT32 Bits = 0;
  while ((1u << Bits) < Count && Bits < 31) {
    ++Bits;
  }
  return Bits;
}

} // namespace

Platform::Platform(VirtualClock& Clock) : Clock_(Clock) {
  PlatformInfo_.Query = QueryThunk;
  StatusCode_.ReportStatusCode = ReportStatusCodeThunk;
  CurrentInstance<Platform>::Add(this);
}

Platform::~Platform() {
  CurrentInstance<Platform>::Remove(this);
}

EFI_STATUS Platform::Query(UINTN Index, UINT64* Value) {
  InfoQueries_.push_back(Index);
  auto Failure = InfoFailures_.find(Index);
  if (Failure != InfoFailures_.end()) {
    return Failure->second;
  }
  if (Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Queued = QueuedInfo_.find(Index);
  if (Queued != QueuedInfo_.end() && !Queued->second.empty()) {
    const InfoAnswer Answer = Queued->second.front();
    Queued->second.pop_front();
    if (!EFI_ERROR(Answer.Status)) {
      *Value = Answer.Value;
    }
    return Answer.Status;
  }
  auto It = Info_.find(Index);
  *Value = It != Info_.end() ? It->second : 0;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Report(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                            EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data) {
  StatusCodes_.push_back(
      StatusCodeRecord{Clock_.Now(), Type, Value, Instance, CallerId != nullptr, Data != nullptr});
  return EFI_SUCCESS;
}

void Platform::SchedulePortValue(UINT16 Port, UINT32 Value, uint64_t At) {
  if ((Port & 3) != 0) {
    ReportProblem("port " + std::to_string(Port) + " is not a dword register");
  }
  Ports_[Port & ~3u][At] = Value;
}

UINT32 Platform::PortValueAt(UINT16 Port, uint64_t At) const {
  auto Timeline = Ports_.find(static_cast<UINT16>(Port & ~3u));
  if (Timeline == Ports_.end()) {
    return 0xFFFFFFFFu;
  }
  auto After = Timeline->second.upper_bound(At);
  return After != Timeline->second.begin() ? std::prev(After)->second : 0xFFFFFFFFu;
}

void Platform::SetInputLevel(UINT16 Port, UINT32 Bit, bool High, uint64_t From) {
  const UINT32 Before = PortValueAt(Port, From);
  SchedulePortValue(Port, High ? Before | Bit : Before & ~Bit, From);
  for (auto& [At, Value] : Ports_[static_cast<UINT16>(Port & ~3u)]) {
    if (At > From) {
      Value = High ? Value | Bit : Value & ~Bit;
    }
  }
}

// Ports are dword registers at dword-aligned addresses. A narrower read takes the bytes of the
// register it addresses, as the I/O bus does: a 16-bit read of port 0x50E is the upper half of
// the register at 0x50C.
UINT32 Platform::PortRead(UINT16 Port, unsigned Width) {
  const UINT32 Register = PortValueAt(Port, Clock_.Now());
  UINT32 Value = Register >> ((Port & 3u) * 8);
  if (Width < 32) {
    Value &= (1u << Width) - 1;
  }
  PortAccesses_.push_back(PortAccess{Clock_.Now(), Port, false, Value});
  return Value;
}

// The input levels are driven by the hardware around the blade; a write is recorded and changes
// nothing.
void Platform::PortWrite(UINT16 Port, UINT32 Value, unsigned Width) {
  if (Width < 32) {
    Value &= (1u << Width) - 1;
  }
  PortAccesses_.push_back(PortAccess{Clock_.Now(), Port, true, Value});
}

void Platform::SetCpuTopology(UINT32 ThreadsPerCore, UINT32 LogicalPerPackage) {
  ThreadsPerCore_ = ThreadsPerCore;
  LogicalPerPackage_ = LogicalPerPackage;
}

void Platform::SetProcessorMsr(UINTN Processor, UINT32 Msr, UINT64 Value) {
  Msrs_[{Processor, Msr}] = Value;
}

UINT64 Platform::ProcessorMsr(UINTN Processor, UINT32 Msr) const {
  auto It = Msrs_.find({Processor, Msr});
  return It != Msrs_.end() ? It->second : 0;
}

UINT64 Platform::ReadMsr(UINT32 Msr) {
  const UINT64 Value = ProcessorMsr(Running_, Msr);
  MsrAccesses_.push_back(MsrAccess{Clock_.Now(), Running_, Msr, false, Value});
  return Value;
}

void Platform::WriteMsr(UINT32 Msr, UINT64 Value) {
  SetProcessorMsr(Running_, Msr, Value);
  MsrAccesses_.push_back(MsrAccess{Clock_.Now(), Running_, Msr, true, Value});
}

void Platform::RunOnProcessor(UINTN Processor, void(EFIAPI* Procedure)(void*), void* Argument) {
  // Back on the calling processor however the procedure ends.
  struct Restore {
    UINTN& Running;
    UINTN Caller;
    ~Restore() { Running = Caller; }
  } Back{Running_, Running_};
  Running_ = Processor;
  Procedure(Argument);
}

// Leaf 0 gives the highest leaf; leaf 0x0B describes the SMT level (sub-leaf 0) and the core level
// (sub-leaf 1). The processor asking is always x2APIC ID 0.
CpuidResult Platform::RunCpuid(UINT32 Leaf, UINT32 SubLeaf) const {
  CpuidResult R{0, 0, 0, 0};
  if (Leaf > MaxCpuidLeaf_) {
    // As many x86 processors do, a leaf past the highest answers as the highest basic leaf.
    return RunCpuid(MaxCpuidLeaf_, SubLeaf);
  }
  if (Leaf == 0) {
    R.Eax = MaxCpuidLeaf_;
  } else if (Leaf == CpuidTopologyLeaf) {
    R.Ecx = SubLeaf & 0xFF;
    if (SubLeaf == 0) {
      R.Eax = IdBits(ThreadsPerCore_);
      R.Ebx = ThreadsPerCore_ & 0xFFFF;
      R.Ecx |= LevelTypeSmt << 8;
    } else if (SubLeaf == 1) {
      R.Eax = IdBits(LogicalPerPackage_);
      R.Ebx = LogicalPerPackage_ & 0xFFFF;
      R.Ecx |= LevelTypeCore << 8;
    }
  }
  return R;
}

void Platform::ClearRecords() {
  StatusCodes_.clear();
  PortAccesses_.clear();
  MsrAccesses_.clear();
  InfoQueries_.clear();
}

} // namespace sim
