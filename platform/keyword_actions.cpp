// The action row of every platform keyword.
#include "platform/keyword_actions.h"

#include "core/variables.h"

namespace {

constexpr KeywordAction NoChange(UINT8 Code) {
  return {Code, Action::NoChange, FALSE, 0, 0, 0, 0, FALSE};
}
constexpr KeywordAction Enable(UINT8 Code, UINT32 Devices, BOOLEAN Gated = FALSE) {
  return {Code, Action::EnableDevices, Gated, Devices, 0, 0, 0, FALSE};
}
// HeldBackBy: the permanent-address bit that keeps a card enabled.
constexpr KeywordAction Disable(UINT8 Code, UINT32 Devices, UINT16 HeldBackBy = 0,
                                BOOLEAN Gated = FALSE) {
  return {Code, Action::DisableDevices, Gated, Devices, HeldBackBy, 0, 0, FALSE};
}
constexpr KeywordAction Ipl1(UINT8 Code, UINT8 Device) {
  return {Code, Action::SetIpl1Device, FALSE, 0, 0, 0, Device, FALSE};
}
constexpr KeywordAction SetFlag(UINT8 Code, UINT16 Flag, UINT32 Devices = 0) {
  return {Code, Action::SetNetBootFlag, FALSE, Devices, Flag, 0, 0, FALSE};
}
constexpr KeywordAction ClearFlag(UINT8 Code, UINT16 Flag) {
  return {Code, Action::ClearNetBootFlag, FALSE, 0, Flag, 0, 0, FALSE};
}
constexpr KeywordAction SetupByte(UINT8 Code, UINTN Offset, UINT8 Value, BOOLEAN Reset) {
  return {Code, Action::SetSystemSetupByte, FALSE, 0, 0, static_cast<UINT16>(Offset), Value, Reset};
}
constexpr KeywordAction Special(UINT8 Code, Action Kind, UINT8 Value = 0, BOOLEAN Gated = FALSE) {
  return {Code, Kind, Gated, 0, 0, 0, Value, FALSE};
}
constexpr UINTN Iov(UINT8 Bus) {
  return SystemSetupField::Iov1Bus1 + Bus;
} // 0..7

constexpr BOOLEAN Gated = TRUE;
constexpr BOOLEAN Resets = TRUE;
constexpr BOOLEAN NoReset = FALSE;

} // namespace

// One row per keyword code, in code order.
constexpr KeywordAction KeywordActions[PlatformKeywordCount] = {
    Enable(KeywordLom1Enable, Device::Lom1),
    Disable(KeywordLom1Disable, Device::Lom1),
    Enable(KeywordLom2Enable, Device::Lom2),
    Disable(KeywordLom2Disable, Device::Lom2),
    Enable(KeywordLom3Enable, Device::Lom3, Gated),
    Disable(KeywordLom3Disable, Device::Lom3, 0, Gated),
    Enable(KeywordLom4Enable, Device::Lom4, Gated),
    Disable(KeywordLom4Disable, Device::Lom4, 0, Gated),
    Special(KeywordIscsiEnable, Action::SetStorageBootMode, StorageBootIscsiOn),
    Special(KeywordIscsiDisable, Action::SetStorageBootMode, StorageBootIscsiOff),
    Enable(KeywordMez1Enable, Device::Mez1),
    Disable(KeywordMez1Disable, Device::Mez1, NetBootFlag::FcPermAddr11),
    Enable(KeywordMez2Enable, Device::Mez2),
    Disable(KeywordMez2Disable, Device::Mez2, NetBootFlag::FcPermAddr12),
    Enable(KeywordMez2BEnable, Device::Mez2B),
    Disable(KeywordMez2BDisable, Device::Mez2B, NetBootFlag::FcPermAddr12),
    Ipl1(KeywordIpl1Cd, 2),
    Ipl1(KeywordIpl1Floppy, 2), // floppy and CD share one value; 1 is never stored
    Ipl1(KeywordIpl1Key, 4),
    Ipl1(KeywordIpl1Network, Ipl1Network),
    Ipl1(KeywordIpl1Pci, 16),
    Ipl1(KeywordIpl1Usb, 32),
    Ipl1(KeywordIpl1Ide, 64),
    Special(KeywordSasEnable, Action::Sas),
    Special(KeywordSasDisable, Action::Sas),
    Special(KeywordSwRaidEnable, Action::SetSwRaidRequested, 1),
    Special(KeywordSwRaidDisable, Action::SetSwRaidRequested, 0),
    NoChange(KeywordHwRaidEnable),
    NoChange(KeywordHwRaidDisable),
    NoChange(KeywordIdeEnable),
    NoChange(KeywordIdeDisable),
    Enable(KeywordMez3Enable, Device::Mez3, Gated),
    Disable(KeywordMez3Disable, Device::Mez3, NetBootFlag::FcPermAddr21, Gated),
    Enable(KeywordMez4Enable, Device::Mez4, Gated),
    Disable(KeywordMez4Disable, Device::Mez4, NetBootFlag::FcPermAddr22, Gated),
    Enable(KeywordMez4BEnable, Device::Mez4B, Gated),
    Disable(KeywordMez4BDisable, Device::Mez4B, NetBootFlag::FcPermAddr22, Gated),
    Special(KeywordSio1Enable, Action::Sio1, 1, Gated),
    Special(KeywordSio1Disable, Action::Sio1, 0, Gated),
    Special(KeywordSio2Enable, Action::Refuse),
    Special(KeywordSio2Disable, Action::Refuse),
    NoChange(KeywordIpl1Default),
    SetFlag(KeywordPxePermAddrEnable, NetBootFlag::PxePermAddr),
    ClearFlag(KeywordPxePermAddrDisable, NetBootFlag::PxePermAddr),
    SetFlag(KeywordFcPermAddr11Enable, NetBootFlag::FcPermAddr11, Device::Mez1),
    ClearFlag(KeywordFcPermAddr11Disable, NetBootFlag::FcPermAddr11),
    SetFlag(KeywordFcPermAddr12Enable, NetBootFlag::FcPermAddr12, Device::Mez2 | Device::Mez2B),
    ClearFlag(KeywordFcPermAddr12Disable, NetBootFlag::FcPermAddr12),
    // Not gated: a permanent FC address keeps its card on whatever the platform refuses.
    SetFlag(KeywordFcPermAddr21Enable, NetBootFlag::FcPermAddr21, Device::Mez3),
    ClearFlag(KeywordFcPermAddr21Disable, NetBootFlag::FcPermAddr21),
    SetFlag(KeywordFcPermAddr22Enable, NetBootFlag::FcPermAddr22, Device::Mez4 | Device::Mez4B),
    ClearFlag(KeywordFcPermAddr22Disable, NetBootFlag::FcPermAddr22),
    SetupByte(KeywordSio1DacEnable, SystemSetupField::Sio1Dac, 1, Resets),
    SetupByte(KeywordSio1DacDisable, SystemSetupField::Sio1Dac, 0, Resets),
    NoChange(KeywordSio2DacEnable),
    NoChange(KeywordSio2DacDisable),
    Special(KeywordAcLinkStayOff, Action::AcLink, 0),
    Special(KeywordAcLinkStayOn, Action::AcLink, 2),
    Special(KeywordAcLinkLastState, Action::AcLink, 1),
    Special(KeywordActiveCoreAll, Action::ActiveCoreAll),
    Special(KeywordActiveCoreValue, Action::ActiveCoreCount),
    SetupByte(KeywordNumaEnable, SystemSetupField::Numa, 1, Resets),
    SetupByte(KeywordNumaDisable, SystemSetupField::Numa, 0, Resets),
    Special(KeywordUuidValue, Action::Uuid),
    Special(KeywordSerialValue, Action::Serial),
    SetFlag(KeywordOemDefault, NetBootFlag::PxePermAddr),
    SetFlag(KeywordDefault, NetBootFlag::PxePermAddr),
    SetupByte(KeywordIov1Bus1Enable, Iov(0), 1, NoReset),
    SetupByte(KeywordIov1Bus1Disable, Iov(0), 0, NoReset),
    SetupByte(KeywordIov1Bus2Enable, Iov(1), 1, NoReset),
    SetupByte(KeywordIov1Bus2Disable, Iov(1), 0, NoReset),
    SetupByte(KeywordIov1Bus3Enable, Iov(2), 1, NoReset),
    SetupByte(KeywordIov1Bus3Disable, Iov(2), 0, NoReset),
    SetupByte(KeywordIov1Bus4Enable, Iov(3), 1, NoReset),
    SetupByte(KeywordIov1Bus4Disable, Iov(3), 0, NoReset),
    SetupByte(KeywordIov2Bus1Enable, Iov(4), 1, NoReset),
    SetupByte(KeywordIov2Bus1Disable, Iov(4), 0, NoReset),
    SetupByte(KeywordIov2Bus2Enable, Iov(5), 1, NoReset),
    SetupByte(KeywordIov2Bus2Disable, Iov(5), 0, NoReset),
    SetupByte(KeywordIov2Bus3Enable, Iov(6), 1, NoReset),
    SetupByte(KeywordIov2Bus3Disable, Iov(6), 0, NoReset),
    SetupByte(KeywordIov2Bus4Enable, Iov(7), 1, NoReset),
    SetupByte(KeywordIov2Bus4Disable, Iov(7), 0, NoReset),
    Special(KeywordConRedirectEnable, Action::ConRedirect, 2),
    Special(KeywordConRedirectDisable, Action::ConRedirect, 0),
    Special(KeywordFcoeValue, Action::Fcoe),
    Special(KeywordClpFailurePauseEnable, Action::SetClpFailurePause, 1),
    Special(KeywordClpFailurePauseDisable, Action::SetClpFailurePause, 0),
    Special(KeywordEmFailurePauseEnable, Action::EmFailurePause),
    NoChange(KeywordEmFailurePauseDisable),
};

namespace {

constexpr bool ActionsFollowCodes() {
  for (UINTN I = 0; I < PlatformKeywordCount; ++I) {
    if (KeywordActions[I].Code != I) {
      return false;
    }
  }
  return true;
}
static_assert(ActionsFollowCodes(), "one action row per keyword code, in code order");

} // namespace
