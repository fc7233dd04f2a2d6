// Builds the simulated blade an adapter fuzz input describes: the blade of blade_setup.h, then the
// PCI topology, the adapter drivers with their answers, the MP services and the input levels.
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz/adapter_input.h"
#include "fuzz/blade_setup.h"
#include "sim/blade.h"

namespace fuzz {

// One adapter driver's start, at its virtual time.
struct AdapterStart {
  size_t Driver;
  sim::PciAddress On;
  uint64_t At;
};

struct AdapterFacts {
  BladeFacts Blade;
  std::vector<AdapterStart> Starts; // in time order; only on functions that carry PCI I/O
  uint64_t CompletionAt = 0;        // after the last start
  // The secondary bus of each bridge above the adapter slot table's positions, in the order of
  // BridgePositions; 0xFF (as an absent bridge reads) for those not there.
  uint8_t SecondaryBus[8];
};

sim::BladeOptions AdapterOptionsFor(const AdapterInput& Input);

// Sets the blade up as Input says. As with SetUp, nothing is asked of the simulated blade that it
// would report as misuse: a second function at one address, a start on a function without PCI I/O
// are dropped. The adapter-ready input always rises in the end, after every change the input gives
// and the last start, so that no wait of the design lasts for ever; the watchdog allows every call
// into the driver an hour of virtual time.
AdapterFacts SetUpAdapters(const AdapterInput& Input, sim::Blade& Blade);

} // namespace fuzz
