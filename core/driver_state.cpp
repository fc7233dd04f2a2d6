#include "core/driver_state.h"

DriverState Driver = {};

void ResetDriverState() {
  Driver = DriverState{};
}
