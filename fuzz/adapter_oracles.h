// What must hold of every adapter arrival, whatever the topology, the adapter drivers, the BMC and
// the firmware did, beside the oracles of every boot (oracles.h).
#pragma once

#include <cstddef>
#include <vector>

#include "fuzz/adapter_setup.h"
#include "sim/blade.h"

namespace fuzz {

// Whether Location is one of the adapter slot table's positions as the topology places them: on
// the secondary bus of the position's bridge (0xFF for a bridge not there), at its function.
bool KnownPosition(const AdapterFacts& Facts, sim::PciAddress Location);

// The most requests one arrival needs: finding the mailbox, the two wait messages, and a run over
// at most 32 adapters, each with its mailbox found and locked, every list of it read once (with a
// UUID message per command at most) and the overflow marker, and its release. A run reads the
// mailbox of any FRU device, so each adapter is counted with the device that needs the most.
size_t ArrivalRequestBound(const BladeFacts& Facts, sim::Bmc& Bmc);

// How many Execute calls each adapter driver has had so far.
std::vector<size_t> ExecuteCounts(sim::Blade& Blade);

// After driver Driver's start: the arrival returned or ended the boot in one recorded cold reset,
// without a hang, and left no pool buffer; only that driver's Execute was called meanwhile.
void CheckArrival(const sim::BootOutcome& Outcome, sim::Blade& Blade, size_t Driver,
                  const std::vector<size_t>& CountsBefore);

// Every Execute call named an adapter at a known position by its PCI I/O handle, with a command
// that ends within its 256-byte buffer and a zeroed response buffer.
void CheckExecuteCalls(sim::Blade& Blade, const AdapterFacts& Facts);

} // namespace fuzz
