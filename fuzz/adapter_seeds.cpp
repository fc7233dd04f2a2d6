// Seeds of the adapter target: each branch of an arrival (run now, wait, default restore), each
// vendor's run over its pending adapters, positions outside the table, the on-board adapter moved
// to FRU device 2, failing adapters and processors, and a BMC that misbehaves during a run.
#include <string>

#include "fuzz/adapter_input.h"
#include "fuzz/seeds.h"

namespace fuzz {

namespace {

namespace mf = mailbox_format;

// Hand-written facts of the blade: TalBladeData's fields, the variables by their number in the
// input, and the bridges by their place in BridgePositions.
constexpr uint16_t PendingMask14E4 = 172, NparRestoreMask = 176, PendingMask8086 = 188,
                   PendingMask10DF = 212, ClpFailurePause = 276;
constexpr uint8_t TalBladeData = 0;
constexpr uint8_t OnBoard = 0, Mez1 = 1, Mez2 = 2, Mez2B = 3, Mez3 = 4;
constexpr uint8_t Vendor8086 = VendorPick::Pick8086, Vendor14E4 = VendorPick::Pick14E4,
                  Vendor10DF = VendorPick::Pick10DF, OtherVendor = VendorPick::PickOther;
constexpr uint8_t High = 2, WaitEnable = 1;

std::vector<uint8_t> Le32(uint32_t Value) {
  return {static_cast<uint8_t>(Value), static_cast<uint8_t>(Value >> 8),
          static_cast<uint8_t>(Value >> 16), static_cast<uint8_t>(Value >> 24)};
}

mf::MailboxImage Lists(const std::vector<std::vector<std::string>>& Texts) {
  mf::MailboxImage Image;
  Image.Size = 8192;
  UINT16 Id = 0x0401;
  for (size_t L = 0; L < Texts.size(); ++L) {
    std::vector<mf::MailboxCommand> Commands;
    for (const std::string& T : Texts[L]) {
      Commands.push_back({Id++, T});
    }
    Image.Lists[L] = mf::MailboxList{std::move(Commands), true, std::nullopt};
  }
  return Image;
}

const std::vector<std::vector<std::string>> PortCommands = {
    {"SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", "SET N2 OEMQX_BOOTENABLE=ENABLE",
     "SET NETPORT3 OEMTAL_INITIATORADDRESSORIGIN=4", "SET NETPORT4 DEFAULT",
     "SET B1 OEMTAL_SERIAL=SN-ADAPTER"},
    {"SET N1 OEMTAL_MULTIFUNCTIONMODE=SF", "SET NETPORT2 OEMQX_LUN=3"}};

// A blade with the platform mailbox in FRU device 1, ready adapters, failure reports on, one
// device behind the bridge at Position (secondary bus Bus) with its mailbox in FRU device Fru,
// and the vendor's pending bits.
AdapterInput Blade(uint8_t Position, uint8_t Bus, uint8_t Vendor, uint16_t DeviceId,
                   uint8_t Functions, uint8_t Fru, uint16_t MaskField, uint32_t Mask) {
  AdapterInput In;
  In.Blade.Frus.push_back(MailboxSection(1, Lists({{"SET B1 OEMTAL_LOM1=ENABLE"}})));
  if (Fru != 1) {
    In.Blade.Frus.push_back(MailboxSection(Fru, Lists(PortCommands)));
  }
  In.Blade.VariablePatches.push_back({TalBladeData, ClpFailurePause, {1}});
  In.Blade.VariablePatches.push_back({TalBladeData, MaskField, Le32(Mask)});
  In.Bridges.push_back({Position, {}, Bus});
  In.Devices.push_back({0, 0, {Vendor, 0x1077}, DeviceId, Functions});
  for (uint8_t F = 0; F < Functions; ++F) {
    In.Starts.push_back({Vendor, {Bus, 0, F}, static_cast<uint8_t>(3 + F)});
  }
  return In;
}

} // namespace

std::vector<Seed> AdapterSeeds() {
  std::vector<Seed> S;
  auto Add = [&S](const std::string& Name, const AdapterInput& In) {
    S.push_back({Name, EncodeAdapter(In)});
  };
  const AdapterInput Mez8086 = Blade(Mez1, 4, Vendor8086, 0x10FB, 4, 4, PendingMask8086, 0x3C);
  Add("8086-run-now", Mez8086);
  {
    AdapterInput In = Mez8086;
    In.Blade.Inputs = 2; // adapter ready low, wait enabled
    In.Levels.push_back({High, 12});
    In.Mp.Processors = 7;
    In.Mp.ClockModulation = 0x04;
    Add("8086-wait", In);
  }
  {
    AdapterInput In = Mez8086;
    In.Blade.Inputs = 2;
    In.Blade.VariablePatches.push_back({TalBladeData, NparRestoreMask, Le32(0x0C)});
    Add("default-restore", In);
  }
  {
    AdapterInput In = Mez8086;
    In.Blade.Inputs = 0; // no wait: the run follows at once with the input low
    In.Mp.Present = false;
    In.Levels.push_back({WaitEnable | High, 20});
    Add("no-wait-no-mp", In);
  }
  Add("14e4-two-ports", Blade(Mez2, 5, Vendor14E4, 0x16AE, 2, 5, PendingMask14E4, 0xC0));
  {
    AdapterInput In = Blade(Mez2, 5, Vendor14E4, 0x16A1, 2, 5, PendingMask14E4, 0x3C0);
    In.Bridges.push_back({Mez2B, {}, 6});
    In.Devices.push_back({1, 0, {Vendor14E4, 0}, 0x16A1, 2});
    In.Starts.push_back({Vendor14E4, {6, 0, 1}, 9});
    Add("14e4-third-and-fourth-ports", In);
  }
  Add("10df-pairs", Blade(Mez1, 4, Vendor10DF, 0xE200, 4, 4, PendingMask10DF, 0x3C));
  Add("other-vendor", Blade(Mez3, 0x42, OtherVendor, 0x2532, 2, 0x50, PendingMask8086, 0));
  {
    AdapterInput In = Blade(OnBoard, 2, Vendor8086, 0x1521, 2, 1, PendingMask8086, 0x03);
    In.Blade.Frus[0] = MailboxSection(1, Lists({{"SET B1 OEMTAL_LOM1=ENABLE"}, PortCommands[0]}));
    In.Blade.Frus.push_back(MailboxSection(2, Lists({{}, PortCommands[1]})));
    In.Blade.Info.push_back({30, 0, {0, 1}});
    In.Bridges.push_back({Mez1, {}, 4}); // function 0 of device 00:02, without which 00:02.2 is
                                         // not seen
    Add("onboard-moves-to-fru2", In);
  }
  {
    AdapterInput In = Mez8086;
    In.Bridges.push_back({8, {0x00, 0x1C, 0}, 9});
    In.Devices.push_back({1, 0, {Vendor8086, 0}, 0x10D3, 1});
    In.Starts.insert(In.Starts.begin(), {Vendor8086, {9, 0, 0}, 1});
    Add("outside-the-table", In);
  }
  {
    AdapterInput In = Mez8086;
    In.Answers.push_back({Vendor8086, 2, 0x0102, 0});
    In.Answers.push_back({Vendor8086, 4, 0x0500, 0x10}); // EFI_DEVICE_ERROR
    Add("execute-fails", In);
  }
  {
    AdapterInput In = Mez8086;
    std::vector<std::vector<std::string>> Eight(8, {"SET NETPORT1 OEMQX_LUN=1"});
    Eight[7] = std::vector<std::string>(33, "SET NETPORT2 OEMQX_LUN=2");
    In.Blade.Frus[1] = MailboxSection(4, Lists(Eight));
    Add("eight-lists-overflow", In);
  }
  {
    AdapterInput In = Mez8086;
    In.Blade.Bmc.push_back({40, BmcKind::BusyRun, 3, 4, 0, 0});
    In.Blade.Bmc.push_back({60, BmcKind::DifferentData, 0, 4, 0, 0});
    In.Blade.Bmc.push_back({80, BmcKind::HoldsLock, 5, 4, 0, 0});
    Add("bmc-misbehaves-in-a-run", In);
  }
  {
    AdapterInput In = Mez8086;
    In.Blade.Inputs = 2;
    In.Levels.push_back({High, 12});
    In.Mp.StartupFails = true;
    In.Blade.MissingProtocols = 8; // no SMBIOS edit: the UUID of an adapter list fails
    In.Blade.Frus[1] =
        MailboxSection(4, Lists({{"SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF",
                                  "SET B1 OEMTAL_ACTIVECORE=2"}}));
    Add("wait-then-platform-settings", In);
  }
  return S;
}

} // namespace fuzz
