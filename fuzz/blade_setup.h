// Builds the simulated blade a fuzz input describes.
#pragma once

#include "fuzz/blade_input.h"
#include "sim/blade.h"

namespace fuzz {

// What the checks need to know of the set-up: whether the BMC changes or misreports the FRU
// contents during the boot (then the contents at power-on bound nothing), and whether the
// completion signal comes.
struct BladeFacts {
  bool ContentsChange = false;
  bool CompletionSignal = true;
};

// The blade's options: the protocols the input leaves out.
sim::BladeOptions OptionsFor(const BladeInput& Input);

// Sets the blade up as Input says. Whatever the input holds, nothing is asked of the simulated
// blade that it would report as misuse: offsets outside a device are dropped, for example. The
// watchdog allows the boot every wait the design allows, plus the BMC's own delays.
BladeFacts SetUp(const BladeInput& Input, sim::Blade& Blade);

} // namespace fuzz
