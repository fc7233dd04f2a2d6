// The simulated firmware: service tables whose members are host functions, a handle database with
// protocol notify, events, a tracking pool, a virtual clock, a variable store and ResetSystem.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uefi/status_code.h"
#include "uefi/tables.h"

namespace sim {

// Thrown by the simulated ResetSystem; unwinds out of the driver and ends the boot.
struct SimulatedReset {
  EFI_RESET_TYPE Type;
  EFI_STATUS Status;
};

// Thrown when virtual time passes the watchdog limit: the boot would have waited forever.
struct SimulatedHang {
  std::string Reason;
};

class VirtualClock {
public:
  uint64_t Now() const { return Now_; }
  // Throws SimulatedHang once the current boot has run longer than the watchdog limit.
  void Advance(uint64_t Microseconds);
  // How long a boot may run in virtual time before it counts as hung (default one hour).
  void SetWatchdog(uint64_t LimitMicroseconds) { Watchdog_ = LimitMicroseconds; }
  // A new boot starts now: the watchdog measures from here, so time spent (or hung) in earlier
  // boots does not count against it.
  void StartBoot() { BootStart_ = Now_; }

private:
  uint64_t Now_ = 0;
  uint64_t BootStart_ = 0;
  uint64_t Watchdog_ = 3600ull * 1000 * 1000;
};

// Failures armed for the Nth call from now of one service.
class NthCallFailures {
public:
  void Arm(unsigned Nth, EFI_STATUS Status);
  // Counts a call; the status it must fail with, if one was armed for it.
  std::optional<EFI_STATUS> NextCall();
  uint64_t Calls() const { return Calls_; }

private:
  uint64_t Calls_ = 0;
  std::map<uint64_t, EFI_STATUS> Armed_;
};

class Pool {
public:
  Pool() = default;
  // Releases what is still live without reporting it: whoever owns the pool calls ReportLeaks when
  // leaks should be seen.
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  void* Allocate(size_t Size, EFI_MEMORY_TYPE Type, EFI_STATUS* Status);
  EFI_STATUS Free(void* Buffer); // a double or unknown free is a problem and EFI_INVALID_PARAMETER
  // The Nth allocation from now (1 = the next) fails with Status.
  void FailAllocation(unsigned Nth, EFI_STATUS Status = EFI_OUT_OF_RESOURCES);
  size_t LiveCount() const { return Live_.size(); }
  uint64_t TotalAllocations() const { return Failures_.Calls(); }
  // Reports every live allocation as a leak, frees it, and returns how many there were.
  size_t ReportLeaks(const char* When);

private:
  struct Block {
    void* Buffer;
    size_t Size;
    uint64_t Number; // which allocation it was, to tell leaks apart
  };
  // The driver holds a few buffers at a time: a list searched from the newest is quickest.
  std::vector<Block> Live_;
  NthCallFailures Failures_; // counts every allocation asked for, failed ones included
};

struct VariableWrite {
  std::u16string Name;
  EFI_GUID Guid;
  UINT32 Attributes;
  std::vector<uint8_t> Data;
  EFI_STATUS Result;
};

// Which variable service calls an injected failure counts.
enum class VariableAccess { Any, Read, Write };

class VariableStore {
public:
  VariableStore() { Writes_.reserve(64); } // a platform pass writes about one per command
  // Test and platform set-up; not recorded as writes.
  void Create(const std::u16string& Name, const EFI_GUID& Guid, UINT32 Attributes,
              std::vector<uint8_t> Data);
  void Delete(const std::u16string& Name, const EFI_GUID& Guid);
  bool Exists(const std::u16string& Name, const EFI_GUID& Guid) const;
  std::optional<std::vector<uint8_t>> Value(const std::u16string& Name, const EFI_GUID& Guid) const;
  UINT32 Attributes(const std::u16string& Name, const EFI_GUID& Guid) const;

  // Failure injection: Times reads (or writes) of that variable fail with Status, after After
  // calls let through (0: from the next on); a negative Times fails every one from there.
  // FailGet(Name, Guid, Status, 1, 2) fails the third read from now and no other.
  void FailGet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status, int Times = -1,
               unsigned After = 0);
  void FailSet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status, int Times = -1,
               unsigned After = 0);
  // The Nth variable service call from now (1 = the next) of Kind, whatever variable it names,
  // fails with Status.
  void FailAccess(unsigned Nth, EFI_STATUS Status, VariableAccess Kind = VariableAccess::Any);

  // Every SetVariable call, in order, with its result.
  const std::vector<VariableWrite>& Writes() const { return Writes_; }
  size_t WriteCount(const std::u16string& Name, const EFI_GUID& Guid) const;
  size_t ReadCount(const std::u16string& Name, const EFI_GUID& Guid) const;
  // Reads that failed other than by the variable's absence: injected failures (warnings among
  // them, which deliver nothing), a buffer too small.
  size_t FailedReadCount(const std::u16string& Name, const EFI_GUID& Guid) const;
  // GetVariable and SetVariable calls so far, valid or not.
  uint64_t ReadCalls() const { return ReadFailures_.Calls(); }
  uint64_t WriteCalls() const { return WriteFailures_.Calls(); }

  // A power cycle: variables without EFI_VARIABLE_NON_VOLATILE are gone.
  void DropVolatile();

  // The services, with firmware semantics: EFI_NOT_FOUND, EFI_BUFFER_TOO_SMALL with the size
  // needed, DataSize 0 deletes, attributes must match an existing variable's.
  EFI_STATUS Get(const CHAR16* Name, const EFI_GUID* Guid, UINT32* Attributes, UINTN* DataSize,
                 void* Data);
  EFI_STATUS Set(const CHAR16* Name, const EFI_GUID* Guid, UINT32 Attributes, UINTN DataSize,
                 const void* Data);

private:
  struct Failure {
    EFI_STATUS Status;
    int Times;      // negative: for ever
    unsigned After; // calls still to let through before the first failure
  };
  // One name under one vendor GUID, as it stands: there or not, how often it was read, the failures
  // armed for it. A blade knows a handful of variables, so a list is the quickest to search.
  struct Slot {
    std::u16string Name;
    EFI_GUID Guid;
    bool Present = false;
    UINT32 Attributes = 0;
    std::vector<uint8_t> Data;
    size_t Reads = 0;
    size_t FailedReads = 0;
    std::optional<Failure> GetFailure, SetFailure;
  };
  const Slot* Find(const CHAR16* Name, const EFI_GUID& Guid) const;
  Slot& SlotFor(const CHAR16* Name, const EFI_GUID& Guid);
  static bool TakeFailure(std::optional<Failure>& Armed, EFI_STATUS* Status);
  std::optional<EFI_STATUS> AccessFailure(VariableAccess Kind);
  EFI_STATUS Store(Slot& S, UINT32 Attributes, const std::vector<uint8_t>& Data);
  EFI_STATUS Read(Slot& S, std::optional<EFI_STATUS> Injected, UINT32* Attributes, UINTN* DataSize,
                  void* Data);
  std::vector<Slot> Slots_;
  NthCallFailures AnyFailures_, ReadFailures_, WriteFailures_;
  std::vector<VariableWrite> Writes_;
};

struct ResetRecord {
  EFI_RESET_TYPE Type;
  EFI_STATUS Status;
  uint64_t Time;
};

// One boot-service call of interest to tests of the entry's order: CreateEvent,
// RegisterProtocolNotify, LocateProtocol, LocateHandleBuffer, InstallProtocolInterface and notify
// runs.
struct ServiceCall {
  std::string Service; // "CreateEvent", "RegisterProtocolNotify", "LocateProtocol", "Notify", ...
  EFI_GUID Guid{};     // the protocol, where the call names one
  EFI_EVENT Event = nullptr; // the event, where the call names one
  EFI_EVENT_NOTIFY Notify = nullptr;
  UINT32 EventType = 0;
  EFI_TPL Tpl = 0;
  EFI_STATUS Result = 0;
};

class Firmware {
public:
  Firmware();
  ~Firmware();
  Firmware(const Firmware&) = delete;
  Firmware& operator=(const Firmware&) = delete;

  EFI_SYSTEM_TABLE* SystemTable() { return &SystemTable_; }
  EFI_HANDLE ImageHandle() const { return ImageHandle_; }

  VirtualClock Clock;
  sim::Pool Pool;
  VariableStore Variables;

  // Handle database. Install creates a handle when *Handle is null; notifications of the protocol
  // run inside the call (unless the TPL is raised to or above their level, then at RestoreTPL).
  EFI_STATUS Install(EFI_HANDLE* Handle, const EFI_GUID& Guid, void* Interface);
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID& Guid, void* Interface);
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID& Guid) const;

  // Failure injection: the Nth call from now (1 = the next) fails with Status.
  void FailCreateEvent(unsigned Nth, EFI_STATUS Status = EFI_OUT_OF_RESOURCES);
  void FailRegisterProtocolNotify(unsigned Nth, EFI_STATUS Status = EFI_OUT_OF_RESOURCES);
  void FailLocateHandleBuffer(unsigned Nth, EFI_STATUS Status = EFI_OUT_OF_RESOURCES);
  void FailHandleProtocol(unsigned Nth, EFI_STATUS Status = EFI_UNSUPPORTED);
  void FailLocateProtocol(unsigned Nth, EFI_STATUS Status = EFI_NOT_FOUND);
  // Calls of the protocol lookups so far, failed ones included, as the failures above count them.
  uint64_t LocateProtocolCalls() const;
  uint64_t LocateHandleBufferCalls() const;
  uint64_t HandleProtocolCalls() const;

  const std::vector<ServiceCall>& Calls() const { return Calls_; }
  const std::vector<uint64_t>& Stalls() const { return Stalls_; } // each Stall's microseconds
  const std::vector<ResetRecord>& Resets() const { return Resets_; }
  size_t EventCount() const;
  EFI_TPL CurrentTpl() const { return Tpl_; }

  // Empties handles, events, notifications and pool (after reporting leaks) and the service-call
  // record, which names this boot's events; keeps the clock, the stalls, the resets and the
  // variables (the caller drops volatile ones). The watchdog starts counting again.
  void NewBoot();

  // The implementations behind the tables (public so the EFIAPI thunks can reach them).
  struct Impl;
  std::unique_ptr<Impl> I;

private:
  friend struct Impl;
  EFI_SYSTEM_TABLE SystemTable_{};
  EFI_BOOT_SERVICES BootServices_{};
  EFI_RUNTIME_SERVICES RuntimeServices_{};
  EFI_HANDLE ImageHandle_ = nullptr;
  EFI_TPL Tpl_ = TPL_APPLICATION;
  std::vector<ServiceCall> Calls_;
  std::vector<uint64_t> Stalls_;
  std::vector<ResetRecord> Resets_;
};

} // namespace sim
