// The simulated platform around the driver: the platform-information protocol, the input levels,
// the processor topology and MSRs behind the hardware-access interface, and a status-code listener.
//
//   // Adapter-ready low until 3 s of virtual time, waiting for it enabled:
//   Blade.Platform.SetInputLevel(sim::AdapterReadyInputPort, sim::AdapterReadyInputBit, false);
//   Blade.Platform.SetInputLevel(sim::AdapterReadyInputPort, sim::AdapterReadyInputBit, true,
//                                3'000'000);
//   Blade.Platform.SetInputLevel(sim::AdapterWaitInputPort, sim::AdapterWaitInputBit, true);
//   // After a boot: clock modulation as application processor 2 left it.
//   UINT64 Value = Blade.Platform.ProcessorMsr(2, sim::ClockModulationMsr);
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/protocols.h"
#include "hw/hw.h"
#include "uefi/status_code.h"

namespace sim {

class VirtualClock;

// The input levels the hardware around the blade drives: 32-bit registers in I/O space.
constexpr UINT16 AdapterReadyInputPort = 0x50C; // bit 0: the adapters are ready
constexpr UINT32 AdapterReadyInputBit = 1u << 0;
constexpr UINT16 AdapterWaitInputPort = 0x548; // bit 9: waiting for the adapters is enabled
constexpr UINT32 AdapterWaitInputBit = 1u << 9;

// IA32_CLOCK_MODULATION: bit 4 enables on-demand clock modulation, bits 3:1 give the duty cycle.
constexpr UINT32 ClockModulationMsr = 0x19A;

// The boot processor's number; application processors are 1, 2, ...
constexpr UINTN BootProcessor = 0;

struct StatusCodeRecord {
  uint64_t Time;
  EFI_STATUS_CODE_TYPE Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32 Instance;
  bool HasCallerId;
  bool HasData;
};

struct PortAccess {
  uint64_t Time;
  UINT16 Port;
  bool Write;
  UINT32 Value;
};

struct MsrAccess {
  uint64_t Time;
  UINTN Processor; // the processor that ran the access
  UINT32 Msr;
  bool Write;
  UINT64 Value; // read or written
};

class Platform {
public:
  explicit Platform(VirtualClock& Clock);
  ~Platform();
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  PLATFORM_INFO_PROTOCOL* PlatformInfo() { return &PlatformInfo_; }
  EFI_STATUS_CODE_RUNTIME_PROTOCOL* StatusCode() { return &StatusCode_; }

  // Platform information: unset indexes answer 0; a failing index returns its status.
  void SetInfo(UINTN Index, UINT64 Value) { Info_[Index] = Value; }
  // One-off answers for the next queries of Index, in order, before SetInfo's value applies again:
  // a value, or a failing status. Answers that change from one query to the next.
  void QueueInfo(UINTN Index, UINT64 Value) { QueuedInfo_[Index].push_back({EFI_SUCCESS, Value}); }
  void QueueInfoFailure(UINTN Index, EFI_STATUS Status) {
    QueuedInfo_[Index].push_back({Status, 0});
  }
  // Every query of Index fails with Status (before any queued answer).
  void FailInfo(UINTN Index, EFI_STATUS Status) { InfoFailures_[Index] = Status; }
  const std::vector<UINTN>& InfoQueries() const { return InfoQueries_; }

  // 32-bit input level registers (ports 0x50C and 0x548), now or from virtual time At on. Unset
  // ports read all ones, as an empty I/O port does. A read sees the value scheduled for the
  // virtual time of the read, so a level that rises while the driver waits with Stall is seen at
  // the first read after the rise.
  void SetPortValue(UINT16 Port, UINT32 Value) { SchedulePortValue(Port, Value, 0); }
  void SchedulePortValue(UINT16 Port, UINT32 Value, uint64_t At);
  // One input level: the bits of Bit are High (set) or low (clear) from virtual time From on,
  // whatever was scheduled for them before; the register's other bits keep their own timeline.
  void SetInputLevel(UINT16 Port, UINT32 Bit, bool High, uint64_t From = 0);
  // The register's value at virtual time At.
  UINT32 PortValueAt(UINT16 Port, uint64_t At) const;
  const std::vector<PortAccess>& PortAccesses() const { return PortAccesses_; }

  // CPUID leaf 0x0B: logical processors per core (sub-leaf 0) and per package (sub-leaf 1).
  void SetCpuTopology(UINT32 ThreadsPerCore, UINT32 LogicalPerPackage);
  // Highest basic CPUID leaf (0x0B by default); below 0x0B the processor has no topology leaf.
  void SetCpuidMaxLeaf(UINT32 Leaf) { MaxCpuidLeaf_ = Leaf; }
  // Model-specific registers, a set per processor; unset registers read 0. SetMsr and Msr are the
  // boot processor's.
  void SetMsr(UINT32 Msr, UINT64 Value) { SetProcessorMsr(BootProcessor, Msr, Value); }
  UINT64 Msr(UINT32 Msr) const { return ProcessorMsr(BootProcessor, Msr); }
  void SetProcessorMsr(UINTN Processor, UINT32 Msr, UINT64 Value);
  UINT64 ProcessorMsr(UINTN Processor, UINT32 Msr) const;
  // Every MSR access of the hardware-access interface, in order, with the processor that ran it.
  const std::vector<MsrAccess>& MsrAccesses() const { return MsrAccesses_; }

  // The processor whose code runs now: the boot processor, or the application processor whose
  // procedure MP services run (RunOnProcessor). The MSR accesses of the hardware-access interface
  // reach its registers.
  UINTN RunningProcessor() const { return Running_; }
  // Runs Procedure (Argument) as Processor runs it, then returns to the processor that called.
  void RunOnProcessor(UINTN Processor, void(EFIAPI* Procedure)(void*), void* Argument);

  const std::vector<StatusCodeRecord>& StatusCodes() const { return StatusCodes_; }

  // Hardware-access behaviour: the blade passes the platform's ports, its MSRs and CPUID here.
  UINT32 PortRead(UINT16 Port, unsigned Width);
  void PortWrite(UINT16 Port, UINT32 Value, unsigned Width);
  UINT64 ReadMsr(UINT32 Msr);
  void WriteMsr(UINT32 Msr, UINT64 Value);
  CpuidResult RunCpuid(UINT32 Leaf, UINT32 SubLeaf) const;

  // Protocol behaviour.
  EFI_STATUS Query(UINTN Index, UINT64* Value);
  EFI_STATUS Report(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                    EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data);

  // Records (status codes, port and MSR accesses, queries) are kept across power cycles until
  // cleared.
  void ClearRecords();

private:
  VirtualClock& Clock_;
  PLATFORM_INFO_PROTOCOL PlatformInfo_;
  EFI_STATUS_CODE_RUNTIME_PROTOCOL StatusCode_;
  std::map<UINTN, UINT64> Info_;
  struct InfoAnswer {
    EFI_STATUS Status;
    UINT64 Value;
  };
  std::map<UINTN, std::deque<InfoAnswer>> QueuedInfo_;
  std::map<UINTN, EFI_STATUS> InfoFailures_;
  std::vector<UINTN> InfoQueries_;
  std::map<UINT16, std::map<uint64_t, UINT32>> Ports_; // port -> (from time -> value)
  std::vector<PortAccess> PortAccesses_;
  UINT32 MaxCpuidLeaf_ = 0x0B;
  UINT32 ThreadsPerCore_ = 1;
  UINT32 LogicalPerPackage_ = 4;
  std::map<std::pair<UINTN, UINT32>, UINT64> Msrs_; // (processor, index) -> value
  std::vector<MsrAccess> MsrAccesses_;
  UINTN Running_ = BootProcessor;
  std::vector<StatusCodeRecord> StatusCodes_;
};

} // namespace sim
