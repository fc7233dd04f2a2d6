// What must hold after every boot, whatever the BMC, the firmware and the platform did. Each check
// follows the design, not the code: a failing one prints what went wrong and aborts, so that the
// fuzzer keeps the input.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/blade_setup.h"
#include "sim/blade.h"

namespace fuzz {

[[noreturn]] void Fail(const std::string& What);
// What Fail calls before it prints and aborts: a handler that throws lets a caller that runs many
// boots in one process (the failure sweep) tell which one failed and go on. nullptr: none.
using FailureHandler = void (*)(const std::string& What);
void SetFailureHandler(FailureHandler Handler);
void Expect(bool Condition, const std::string& What);

// Installs the problem handler that turns misuse the simulated blade detects (a double free, a
// leak, a TPL raised the wrong way) into a failure.
void FailOnSimulatorProblems();

// The calls into the driver of one boot, as they ended.
struct BootRun {
  sim::BootOutcome Entry;
  std::optional<sim::BootOutcome> Completion;
};

// Loads the driver and, when the input gives it and the boot goes on, installs the completion
// signal. After each step the pool must hold nothing the driver took.
BootRun RunBoot(sim::Blade& Blade, const BladeFacts& Facts);

// DriverEntry returns EFI_SUCCESS, or the boot ends in one recorded cold reset; nothing hangs; the
// completion notifications come back.
void CheckBootEnds(const BootRun& Run, const sim::Blade& Blade);

// At most one failure report (status code 0xC000B3A0) in the boot, and one more for each time the
// flag that records it could not be written or read.
void CheckOneFailureReport(const sim::Blade& Blade);

// Where the host may write in a FRU device: the lock bytes of a mailbox it found, and records and
// overflow markers in the result blocks of the lists it ran.
class WritePlaces {
public:
  void AllowLock(UINT8 Fru, UINT16 HeaderOffset);
  void AllowResultBlock(UINT8 Fru, UINT16 ResultArea, UINT8 List);
  // Empty when the write of Bytes at Offset is allowed, else why not.
  std::string Judge(UINT8 Fru, UINT16 Offset, const std::vector<uint8_t>& Bytes) const;

private:
  struct Lock {
    UINT8 Fru;
    UINT16 Header;
  };
  struct Block {
    UINT8 Fru;
    UINT16 Start; // the list's record 0
  };
  std::vector<Lock> Locks_;
  std::vector<Block> Blocks_;
};

// The mailboxes the host found, as the trace shows them: for every header it read with the
// signature, its lock bytes; for every result-area offset it was told, the block of list 0; with
// EveryList (adapter runs), the block of every list whose nonzero offset it read after that.
WritePlaces PlatformWritePlaces(const sim::Bmc& Bmc, bool EveryList = false);

// Every Write FRU Data the host sent goes to an allowed place.
void CheckHostWrites(const sim::Bmc& Bmc, const WritePlaces& Places);

// The most requests the platform pass and the completion signal need for what the mailbox holds:
// the header search, the lock with all its polls, and for each command of list 0 (at most 32)
// three executions of the id and text reads it holds, its record and a power-restore request.
// Requests the BMC answered "busy" are not counted: each one is retried. Taken before the boot,
// from the FRU devices as the BMC holds them at power-on.
size_t PlatformRequestBound(const BladeFacts& Facts, sim::Bmc& Bmc);
// The requests of the pieces a run is made of: the header search (28 bytes in chunks of 16 and 12
// at eight places), taking the lock (flag and turn read and written, 40 polls, the flag cleared at
// the time-out), and a list's overflow (the 33rd id, the marker read and written).
constexpr size_t SearchRequests = 8 * 2;
constexpr size_t LockRequests = 2 * 2 + 40 * 2 + 2;
constexpr size_t OverflowRequests = 1 + 2;
// The requests for the commands of list List of the mailbox in Device (none: no such device), each
// carried out Executions times; for the most commands a list can hold when the contents change.
size_t ListRequests(const std::vector<uint8_t>* Device, bool ContentsChange, size_t List,
                    size_t Executions);
void CheckRequestCount(const sim::Bmc& Bmc, size_t Bound);

} // namespace fuzz
