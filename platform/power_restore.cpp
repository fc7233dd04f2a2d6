// The power-restore policy sent to the BMC.
#include "platform/power_restore.h"

#include "core/ipmi.h"
#include "core/variables.h"

namespace {

// AcLink (as the command stored it) -> Set Power Restore Policy byte and AcLinkCache value.
struct PowerRestoreMapping {
  UINT8 RequestByte;
  UINT8 CacheValue;
};
constexpr PowerRestoreMapping PowerRestoreByAcLink[] = {
    {0, 0}, // stay off
    {1, 2}, // last state
    {2, 1}, // stay on
};
constexpr PowerRestoreMapping PowerRestoreNoChange = {3, 0};

PowerRestoreMapping MapAcLink(UINT8 AcLink) {
  return AcLink < sizeof(PowerRestoreByAcLink) / sizeof(PowerRestoreByAcLink[0])
             ? PowerRestoreByAcLink[AcLink]
             : PowerRestoreNoChange;
}

} // namespace

void UpdatePowerRestorePolicy(IPMI_TRANSPORT_PROTOCOL* Ipmi, const UINT8* ServerSetupData,
                              UINT8* SystemSetupData) {
  const PowerRestoreMapping Mapping = MapAcLink(ServerSetupData[ServerSetupField::AcLink]);
  if (Mapping.CacheValue == SystemSetupData[SystemSetupField::AcLinkCache]) {
    return;
  }
  SystemSetupData[SystemSetupField::AcLinkCache] = Mapping.CacheValue;
  UINT8 Request[1] = {Mapping.RequestByte};
  UINT8 Response[1] = {0};
  UINT8 ResponseSize = sizeof(Response);
  // The BMC keeps its own policy if this fails; the cache still records what was asked for.
  Ipmi->SendIpmiCommand(Ipmi, IpmiNetFnChassis, 0, IpmiCmdSetPowerRestorePolicy, Request,
                        sizeof(Request), Response, &ResponseSize);
}
