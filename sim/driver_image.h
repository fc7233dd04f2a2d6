// What loading a fresh image of the driver gives, on the host: the image is linked in once, so its
// driver-wide state is put back by hand where a real machine would load the image anew.
#pragma once

namespace sim {

// The driver core's state zeroed (service tables, notification registration, cached status-code
// protocol, SwRaidRequested) and the AdapterSlotTable's FruId column as the image holds it. A blade
// does this when it is built and at every power cycle; fixtures that call driver operations
// directly do it between tests.
void LoadFreshDriverImage();

} // namespace sim
