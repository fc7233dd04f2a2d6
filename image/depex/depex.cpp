// The driver's dependency expression as the only contents of a section, which the image build cuts
// out into BladeCfgDxe.depex. Compiled for an ELF target, whose sections objcopy writes out raw.
#include "core/dispatch_dependencies.h"

extern "C" __attribute__((section(".depex"), used))
const decltype(DriverDependencyExpression) BladeCfgDxeDepex = DriverDependencyExpression;
