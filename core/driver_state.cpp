#include "core/driver_state.h"

#include "adapter/slot_table.h"

DriverState Driver = {};

void ResetDriverState() {
  Driver = DriverState{};
  RestoreAdapterSlotTable();
}
