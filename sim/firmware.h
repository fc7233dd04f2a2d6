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
  uint64_t TotalAllocations() const { return Total_; }
  // Reports every live allocation as a leak, frees it, and returns how many there were.
  size_t ReportLeaks(const char* When);

private:
  struct Block {
    size_t Size;
    uint64_t Number; // which allocation it was, to tell leaks apart
  };
  std::map<void*, Block> Live_;
  std::map<uint64_t, EFI_STATUS> Failures_; // allocation number -> status
  uint64_t Total_ = 0;                      // allocations asked for, failed ones included
};

struct VariableWrite {
  std::u16string Name;
  EFI_GUID Guid;
  UINT32 Attributes;
  std::vector<uint8_t> Data;
  EFI_STATUS Result;
};

class VariableStore {
public:
  // Test and platform set-up; not recorded as writes.
  void Create(const std::u16string& Name, const EFI_GUID& Guid, UINT32 Attributes,
              std::vector<uint8_t> Data);
  void Delete(const std::u16string& Name, const EFI_GUID& Guid);
  bool Exists(const std::u16string& Name, const EFI_GUID& Guid) const;
  std::optional<std::vector<uint8_t>> Value(const std::u16string& Name, const EFI_GUID& Guid) const;
  UINT32 Attributes(const std::u16string& Name, const EFI_GUID& Guid) const;

  // Failure injection: the next Times reads (or writes) of that variable fail with Status; a
  // negative Times fails every one. After lets that many calls through first.
  void FailGet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status, int Times = -1,
               unsigned After = 0);
  void FailSet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status, int Times = -1,
               unsigned After = 0);

  // Every SetVariable call, in order, with its result.
  const std::vector<VariableWrite>& Writes() const { return Writes_; }
  size_t WriteCount(const std::u16string& Name, const EFI_GUID& Guid) const;
  size_t ReadCount(const std::u16string& Name, const EFI_GUID& Guid) const;

  // A power cycle: variables without EFI_VARIABLE_NON_VOLATILE are gone.
  void DropVolatile();

  // The services, with firmware semantics: EFI_NOT_FOUND, EFI_BUFFER_TOO_SMALL with the size
  // needed, DataSize 0 deletes, attributes must match an existing variable's.
  EFI_STATUS Get(const CHAR16* Name, const EFI_GUID* Guid, UINT32* Attributes, UINTN* DataSize,
                 void* Data);
  EFI_STATUS Set(const CHAR16* Name, const EFI_GUID* Guid, UINT32 Attributes, UINTN DataSize,
                 const void* Data);

private:
  struct Key {
    std::u16string Name;
    std::string Guid; // the 16 raw bytes
    bool operator<(const Key& O) const;
  };
  struct Entry {
    UINT32 Attributes;
    std::vector<uint8_t> Data;
  };
  struct Failure {
    EFI_STATUS Status;
    int Times;
    unsigned After;
  };
  static Key MakeKey(const std::u16string& Name, const EFI_GUID& Guid);
  EFI_STATUS Store(const Key& K, UINT32 Attributes, const std::vector<uint8_t>& Data);
  std::map<Key, Entry> Vars_;
  std::map<Key, Failure> GetFailures_, SetFailures_;
  std::map<Key, size_t> Reads_;
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
