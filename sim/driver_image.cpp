#include "sim/driver_image.h"

#include "adapter/slot_table.h"
#include "core/driver_state.h"

namespace sim {

void LoadFreshDriverImage() {
  ResetDriverState();
  RestoreAdapterSlotTable();
}

} // namespace sim
