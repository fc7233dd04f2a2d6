// The adapter half of BladeCfgDxe.efi in real firmware: OVMF enumerates the slot table's machine,
// the adapter-driver stand-in arrives on PCI functions when the scenario connects it, and the
// driver's arrival notification runs the adapters' mailboxes through the stand-in's Execute. Every
// boot checks the mailbox devices byte for byte, every Execute call the stand-in saw (the PCI
// function behind the record it was handed, the exact text), the variables, the status codes,
// the StartupAllAPs calls and, where a BMC program plays the BMC, the OEM requests it received.
// The expectations are worked out by hand from the driver's documented behaviour.
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "firmware/runner/host_os.h"
#include "firmware/runner/image_map.h"
#include "firmware/runner/ipmi_sim_bmc.h"
#include "tests/firmware/boots/boot_support.h"

namespace {

using namespace fwboot;
using mailbox_format::MailboxCommand;
using mailbox_format::MailboxImage;
using mailbox_format::MailboxLayout;

// TalBladeData fields of the adapter work.
constexpr size_t UuidValid = 0;
constexpr size_t SerialValid = 1;
constexpr size_t AdapterReadyWait = 2;
constexpr size_t UuidField = 4;
constexpr size_t SerialField = 20;
constexpr size_t PendingMask14E4 = 172;
constexpr size_t NparRestoreMask = 176;
constexpr size_t DeferredReset = 180;
constexpr size_t PendingMask8086 = 188;
constexpr size_t PendingMask10DF = 212;

constexpr uint32_t AdapterDone = 0x0500;
constexpr uint32_t ReadyBit = 0x1;
constexpr uint32_t WaitBit = 0x200;
constexpr unsigned DeviceReadback = 1024; // the harness reads at most this many bytes at once
constexpr const char* DriverFile = "\\BLADE\\BladeCfgDxe.efi";

// QEMU device models by vendor.
constexpr const char* Nic8086 = "e1000e"; // 8086:10D3
constexpr const char* Other1234 = "edu";  // 1234:11E8

// A mailbox in a whole FRU device, its lists given by number.
MailboxImage MailboxWith(const std::map<unsigned, std::vector<MailboxCommand>>& Lists) {
  MailboxImage Image;
  Image.Size = fw::FruAreaSize;
  for (const auto& [Number, Commands] : Lists) {
    Image.Lists.at(Number) = mailbox_format::MailboxList{Commands, true, std::nullopt};
  }
  return Image;
}

// What a mailbox device must hold after a boot: its first bytes with what the driver writes.
class ExpectedDevice {
public:
  explicit ExpectedDevice(const MailboxImage& Image)
      : Bytes_(mailbox_format::EncodeMailboxImage(Image)),
        Layout_(mailbox_format::PlaceMailbox(Image)) {}

  ExpectedDevice& Record(unsigned List, unsigned Index, uint16_t Id, uint32_t Status) {
    const std::vector<uint8_t> R = fwboot::Record(Id, Status);
    std::copy(R.begin(), R.end(), Bytes_.begin() + At(List, Index));
    return *this;
  }
  ExpectedDevice& Overflow(unsigned List) {
    const uint8_t Marker[] = {0xFD, 0x00, 0x00, 0x00};
    std::copy(std::begin(Marker), std::end(Marker), Bytes_.begin() + At(List, 0));
    return *this;
  }
  ExpectedDevice& Lock(const std::vector<uint8_t>& Lock) {
    std::copy(Lock.begin(), Lock.end(), Bytes_.begin() + Layout_.HeaderOffset + LockTurn);
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return Bytes_; }

private:
  long At(unsigned List, unsigned Index) const {
    return static_cast<long>(Layout_.ResultAreaOffset + 192 * List + 6 * Index);
  }
  std::vector<uint8_t> Bytes_;
  MailboxLayout Layout_;
};

// The blade of one boot: its variables, the mailboxes in the BMC's FRU devices, the PCI functions
// behind the slot table's root ports and the input levels.
struct AdapterBlade {
  PlatformVariables Vars{/*FailurePause=*/1};
  std::vector<uint8_t> FruIdList = std::vector<uint8_t>(6, 0);
  std::map<unsigned, MailboxImage> Mailboxes;
  std::vector<fw::SlotFunction> Functions;
  fw::InputLevels Inputs;
  uint64_t Item30 = 0; // platform information: the platform's mailbox in FRU device 2 when not 0

  AdapterBlade() {
    for (size_t Mask : {PendingMask14E4, NparRestoreMask, PendingMask8086, PendingMask10DF}) {
      PutLe32(Vars.TalBladeData, Mask, 0);
    }
    Vars.TalBladeData[UuidValid] = 0;
    Vars.TalBladeData[SerialValid] = 0;
    Vars.TalBladeData[AdapterReadyWait] = 0;
    Vars.TalBladeData[DeferredReset] = 0;
  }

  // The variables, a read-back of every mailbox device in every snapshot, the stand-ins, the
  // driver and the adapter stand-in.
  ScenarioBuilder Scenario() const {
    ScenarioBuilder S;
    Vars.AddTo(S);
    S.Variable("ClpCommandFruIdList", BladeGuid, VolatileAttributes, FruIdList);
    S.Platform(30, Item30);
    for (const auto& [Device, Image] : Mailboxes) {
      for (unsigned At = 0; At < fw::FruAreaSize; At += DeviceReadback) {
        S.Readback(Device, At, DeviceReadback);
      }
    }
    LoadStandInsAndDriver(S);
    S.Load(fw::AdapterClpImage);
    return S;
  }

  fw::BootRequest Machine() const {
    fw::BootRequest Request;
    Request.Layout = fw::MachineLayout::AdapterSlots;
    Request.SlotFunctions = Functions;
    Request.Inputs = Inputs;
    return Request;
  }

  // QEMU's own BMC, its FRU file reaching the highest device with a mailbox.
  fw::BootRequest WithQemuBmc() const {
    fw::BootRequest Request = Machine();
    const unsigned Count = Mailboxes.empty() ? 3 : std::max(3u, Mailboxes.rbegin()->first + 1);
    Request.FruData = fw::FruFile(Mailboxes, Count);
    Request.FruAreaSize = fw::FruAreaSize;
    return Request;
  }

  // ipmi_sim with the mailbox devices, answering the OEM requests as a blade's BMC does and logging
  // them into Log. FRU devices 1 and 2, where the platform's mailbox may be, are always there.
  fw::IpmiSimSettings IpmiSim(const std::string& Log) const {
    fw::IpmiSimSettings Settings;
    Settings.FruDevices[1] = std::vector<uint8_t>(fw::FruAreaSize, 0);
    Settings.FruDevices[2] = std::vector<uint8_t>(fw::FruAreaSize, 0);
    for (const auto& [Device, Image] : Mailboxes) {
      Settings.FruDevices[Device] = mailbox_format::EncodeMailboxImage(Image);
    }
    EXPECT_EQ(fw::LoadAnswersModule(Settings, "log=" + Log + ";0x30/0x30=00;0x30/0x41=00"), "");
    return Settings;
  }
};

class AdapterBoot : public testing_support::BootTest {};

// The whole mailbox device as the harness read it back in a snapshot.
std::vector<uint8_t> DeviceBytes(const fw::Snapshot& S, unsigned Device) {
  std::vector<uint8_t> Bytes;
  for (unsigned At = 0; At < fw::FruAreaSize; At += DeviceReadback) {
    const ReadBack B = Fru(S, static_cast<int>(Device), static_cast<int>(At));
    EXPECT_EQ(B.Status, Success) << "FRU " << Device << " at " << At;
    Bytes.insert(Bytes.end(), B.Bytes.begin(), B.Bytes.end());
  }
  return Bytes;
}

void ExpectDevice(const fw::Snapshot& S, unsigned Device, const ExpectedDevice& Expected,
                  const std::string& When) {
  EXPECT_EQ(Differences(DeviceBytes(S, Device), Expected.Bytes()), std::vector<size_t>{})
      << "FRU device 0x" << std::hex << Device << std::dec << " " << When
      << ": the offsets that differ";
}

// One Execute call as the stand-in must have seen it.
struct Exec {
  std::string Location;
  std::string Text;
  bool ZeroFilled; // the command buffer held zeros behind the text
  uint32_t Word;
  bool Own = false; // the adapter's own record, not the run's copy of it
  EFI_STATUS Returned = Success;
};

void ExpectExecutes(const fw::Snapshot& S, const std::vector<Exec>& Expected) {
  EXPECT_EQ(S.ExecutesSeen, Expected.size());
  ASSERT_EQ(S.Executes.size(), S.ExecutesSeen) << "the stand-in kept every call";
  for (size_t I = 0; I < Expected.size() && I < S.Executes.size(); ++I) {
    const fw::ExecLine& E = S.Executes[I];
    const Exec& X = Expected[I];
    EXPECT_EQ(E.Location, X.Location) << "call " << I;
    EXPECT_EQ(E.LocationStatus, Success) << "call " << I;
    EXPECT_EQ(E.Text, X.Text) << "call " << I;
    EXPECT_EQ(E.CommandZeroFilled, X.ZeroFilled) << "call " << I << ": " << E.Text;
    EXPECT_TRUE(E.ResponseZeroed) << "call " << I << ": the response buffer is cleared each time";
    EXPECT_EQ(E.OwnRecord, X.Own) << "call " << I;
    EXPECT_EQ(E.Returned, X.Returned) << "call " << I;
    EXPECT_EQ(E.StatusWord, X.Word) << "call " << I;
  }
}

void ExpectBladeData(const fw::Snapshot& S, const std::vector<uint8_t>& Expected,
                     const std::string& When) {
  const ReadBack B = Variable(S, "TalBladeData");
  EXPECT_EQ(B.Status, Success);
  EXPECT_EQ(Differences(B.Bytes, Expected), std::vector<size_t>{})
      << "TalBladeData " << When << ": the offsets that differ";
}

std::vector<uint8_t> FruIdListIn(const fw::Snapshot& S) {
  return Variable(S, "ClpCommandFruIdList").Bytes;
}

// The name of a StartupAllAPs procedure of the driver, from the driver image's map.
std::string DriverProcedure(const fw::MpCallLine& Call) {
  if (Call.Image != DriverFile) {
    return "not the driver's code: " + Call.Image;
  }
  const std::map<uint32_t, std::string> Map = fw::DriverImageMap();
  auto It = Map.find(Call.Offset);
  return It != Map.end() ? It->second : "no public symbol at the offset";
}

// Throttling seen from outside: two calls, the driver's throttle then its unthrottle procedure,
// each on every application processor at once and waited for.
void ExpectThrottleAndUnthrottle(const fw::Snapshot& S) {
  ASSERT_EQ(S.MpCallsSeen, 2u);
  ASSERT_EQ(S.MpCalls.size(), 2u);
  EXPECT_NE(DriverProcedure(S.MpCalls[0]).find("ThrottleThisProcessor"), std::string::npos)
      << DriverProcedure(S.MpCalls[0]);
  EXPECT_NE(DriverProcedure(S.MpCalls[1]).find("UnthrottleThisProcessor"), std::string::npos)
      << DriverProcedure(S.MpCalls[1]);
  for (const fw::MpCallLine& C : S.MpCalls) {
    EXPECT_FALSE(C.SingleThread);
    EXPECT_EQ(C.TimeoutInMicroSeconds, 0u);
    EXPECT_FALSE(C.WaitEvent || C.Argument || C.FailedCpuList);
    EXPECT_EQ(C.Status, Success);
  }
}

void ExpectNoCodes(const fw::Snapshot& S) {
  EXPECT_EQ(S.CodesSeen, 0u);
  EXPECT_EQ(Variable(S, "CLPFailureFlag").Status, NotFound);
}

void ExpectOneFailureReported(const fw::Snapshot& S) {
  ASSERT_EQ(S.CodesSeen, 1u);
  ASSERT_EQ(S.Codes.size(), 1u);
  EXPECT_EQ(S.Codes[0].Type, ErrorCodeType);
  EXPECT_EQ(S.Codes[0].Value, ClpFailureCode);
  EXPECT_EQ(Variable(S, "CLPFailureFlag").Bytes, std::vector<uint8_t>{1});
}

// A BMC program for the boots whose arrival handler talks OEM to the BMC: QEMU's own BMC refuses
// those requests (0xC1), a blade's BMC takes them.
struct OemBmc {
  fw::RunDirectory Work{"bladecfg-oem"};
  std::string Log = (Work.Path() / "requests.log").string();
  fw::IpmiSimBmc Bmc;

  explicit OemBmc(const AdapterBlade& Blade) : Bmc(Blade.IpmiSim(Log)) {}

  FirmwareRun Boot(const std::string& Name, const ScenarioBuilder& S, const AdapterBlade& Blade) {
    fw::BootRequest Request = Blade.Machine();
    Request.ExternalBmcPort = Bmc.VmPort();
    Request.TimeoutSeconds = 90;
    return fwboot::Boot(Name, S, Request);
  }
  // The OEM requests the BMC answered, one "<netfn> <command> <data>" line each.
  std::string Requests() const { return fw::ReadFile(Log); }
};

// An 0x8086 adapter's run over its mailbox: port filtering (a command for port 1 is not for the
// adapter at port 2), the short form widened, keywords and values translated, DEFAULT replaced,
// commands outside the vocabulary sent as they are, a list left out, a list of 33 commands cut at
// 32 with the overflow marker, the list after it not run. A status word with a bit of 0xF0FF set
// is reported once and recorded; the run goes on.
TEST_F(AdapterBoot, An8086AdapterRunsItsListsWithPortFilteringAndTranslation) {
  AdapterBlade Blade;
  for (unsigned F = 0; F < 4; ++F) {
    Blade.Functions.push_back({"00:02.0", F, Nic8086});
  }
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0x8); // row 3: function 1, port 2
  Blade.FruIdList = {0, 4, 0, 5, 0, 0};
  std::vector<MailboxCommand> Long;
  for (uint16_t I = 0; I < 33; ++I) {
    Long.push_back({static_cast<uint16_t>(0x0300 + I), "SET N2 DEFAULT"});
  }
  const MailboxImage Image = MailboxWith({
      {0,
       {{0x0101, "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE"},
        {0x0102, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
        {0x0103, "SET N2 OEMQX_BOOTENABLE=enable"}}},
      {2,
       {{0x0201, "SET NETPORT2 OEMTAL_INITIATORADDRESSORIGIN=30"},
        {0x0202, "SET NETPORT2 DEFAULT"},
        {0x0203, "SET NETPORT2 OEMTAL_BOOTPRIORITY =1"},
        {0x0204, "SET NETPORT9 X=Y"},
        {0x0205, "show netport2"}}},
      {3, Long},
      {4, {{0x0401, "SET NETPORT2 OEMTAL_BOOTENABLE=DISABLE"}}},
  });
  Blade.Mailboxes[4] = Image;
  ScenarioBuilder S = Blade.Scenario();
  S.Adapter(1, 0, 1, {{AdapterDone}, {0x0501}, {Done}}).Connect(1, 0, 1).Snapshot("run");

  const FirmwareRun R = Boot("8086 lists", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  ASSERT_EQ(R.Report.Connects.size(), 1u);
  EXPECT_EQ(R.Report.Connects[0].Status, Success);
  const fw::Snapshot& Run = SnapshotOf(R, "run");

  std::vector<Exec> Calls = {
      {"01:00.1", "SET BootEnable=ENABLE", false, AdapterDone},
      {"01:00.1", "Set BootEnable=iSCSI", false, 0x0501},
      {"01:00.1", "SET AddressOrigin=Static", false, Done},
      {"01:00.1", "SET Permanentaddress=FFFFFFFFFFFF", true, Done},
      {"01:00.1", "SET OEMTAL_BOOTPRIORITY =1", false, Done},
      {"01:00.1", "SET NETPORT9 X=Y", true, Done},
      {"01:00.1", "show netport2", true, Done},
  };
  for (int I = 0; I < 32; ++I) {
    Calls.push_back({"01:00.1", "Set Permanentaddress=FFFFFFFFFFFF", true, Done});
  }
  ExpectExecutes(Run, Calls);

  ExpectedDevice Device(Image);
  Device.Record(0, 0, 0x0101, AdapterDone).Record(0, 2, 0x0103, 0x0501);
  for (uint16_t I = 0; I < 5; ++I) {
    Device.Record(2, I, static_cast<uint16_t>(0x0201 + I), Done);
  }
  for (uint16_t I = 0; I < 32; ++I) {
    Device.Record(3, I, static_cast<uint16_t>(0x0300 + I), Done);
  }
  Device.Overflow(3).Lock(LockReleased);
  ExpectDevice(Run, 4, Device, "after the run");

  std::vector<uint8_t> Blade8086 = Blade.Vars.TalBladeData;
  PutLe32(Blade8086, PendingMask8086, 0);
  ExpectBladeData(Run, Blade8086, "after the run");
  EXPECT_EQ(FruIdListIn(Run), (std::vector<uint8_t>{0, 0, 0, 5, 0, 0}));
  ExpectOneFailureReported(Run);
  EXPECT_EQ(Run.MpCallsSeen, 0u);
  EXPECT_FALSE(R.Report.Reset.has_value());
}

// One run serves every present 0x8086 adapter of the pending mask, with the arriving adapter's
// Execute and each other adapter's PCI I/O handle in the run's copy of the record: after row 6 it
// passes over the empty rows 7, 8 and 9 and takes rows 10 and 11 (the same bits, behind 00:03.1),
// passes over empty row 21 for row 23, wraps to row 0 on the platform's mailbox, and ends with the
// bit of the empty row 7 kept. Each mailbox is released after its adapter, the platform's kept.
TEST_F(AdapterBoot, OneRunServesEveryPendingAdapterOfTheVendorAcrossMailboxes) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:03.0", 0, Nic8086}, {"00:03.1", 0, Nic8086}, {"00:03.1", 1, Nic8086},
                     {"41:09.0", 0, Nic8086}, {"41:09.0", 1, Nic8086}, {"00:02.2", 0, Nic8086}};
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0x803C1);
  Blade.FruIdList = {1, 5, 0x52, 4, 0, 0};
  const MailboxImage Fru5 = MailboxWith({{0,
                                          {{0x0501, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                           {0x0502, "SET NETPORT3 OEMTAL_BOOTENABLE=DISABLE"},
                                           {0x0503, "SET NETPORT4 OEMQX_BOOTENABLE=DISABLE"},
                                           {0x0504, "SET NETPORT2 OEMTAL_BOOTPRIORITY=DISABLE"}}}});
  const MailboxImage Fru52 =
      MailboxWith({{0,
                    {{0x5201, "SET NETPORT4 OEMTAL_EXPANSIONROMMENU=DISABLE"},
                     {0x5202, "SET NETPORT3 OEMTAL_EXPANSIONROMMENU=ENABLE"}}}});
  const MailboxImage Fru1 = MailboxWith({{0,
                                          {{0x0101, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                           {0x0102, "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE"}}}});
  Blade.Mailboxes = {{1, Fru1}, {5, Fru5}, {0x52, Fru52}};
  ScenarioBuilder S = Blade.Scenario();
  S.Snapshot("entry");
  for (auto [Bus, Function] : {std::pair{3, 0}, {4, 0}, {4, 1}, {0x45, 1}, {2, 0}}) {
    S.Adapter(Bus, 0, Function, {{AdapterDone}});
  }
  S.Connect(3, 0, 0).Snapshot("run");

  const FirmwareRun R = Boot("one run, many adapters", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  const fw::Snapshot& Entry = SnapshotOf(R, "entry");
  ExpectDevice(Entry, 1, ExpectedDevice(Fru1).Lock(LockHeld),
               "after the platform pass, which records no adapter line");
  const fw::Snapshot& Run = SnapshotOf(R, "run");
  ExpectExecutes(Run, {{"03:00.0", "SET BootEnable=ENABLE", false, AdapterDone},
                       {"04:00.0", "SET BootEnable=DISABLE", false, AdapterDone},
                       {"04:00.1", "SET BootEnable=PXE", false, AdapterDone},
                       {"45:00.1", "SET EXPANSIONROMMENU=Disabled", false, AdapterDone},
                       {"02:00.0", "SET BootEnable=ENABLE", false, AdapterDone}});
  ExpectDevice(Run, 5,
               ExpectedDevice(Fru5)
                   .Record(0, 0, 0x0501, AdapterDone)
                   .Record(0, 1, 0x0502, AdapterDone)
                   .Record(0, 2, 0x0503, AdapterDone)
                   .Lock(LockReleased),
               "after the run");
  ExpectDevice(Run, 0x52,
               ExpectedDevice(Fru52).Record(0, 0, 0x5201, AdapterDone).Lock(LockReleased),
               "after the run");
  ExpectDevice(Run, 1, ExpectedDevice(Fru1).Record(0, 0, 0x0101, AdapterDone).Lock(LockHeld),
               "after the run");
  std::vector<uint8_t> Expected = Blade.Vars.TalBladeData;
  PutLe32(Expected, PendingMask8086, 0x80);
  ExpectBladeData(Run, Expected, "after the run");
  EXPECT_EQ(FruIdListIn(Run), (std::vector<uint8_t>{0, 0, 0, 4, 0, 0}));
  ExpectNoCodes(Run);
  EXPECT_FALSE(R.Report.Reset.has_value());
}

// An adapter of a vendor without a pending mask is served alone: its lists once, its commands sent
// as they are (only the short form widened, no port filter), the 0x8086 adapter pending beside it
// left alone. Before it, an adapter at a position the slot table does not have (function 2 behind
// 00:02.2) arrives and nothing happens.
TEST_F(AdapterBoot, AnotherVendorIsServedAloneAndAnAdapterOutsideTheTableIsLeftAlone) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.0", 0, Other1234},
                     {"00:02.0", 1, Nic8086},
                     {"00:02.2", 0, Nic8086},
                     {"00:02.2", 2, Nic8086}};
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0x9); // rows 0 and 3
  Blade.FruIdList = {0, 4, 0, 0, 0, 0};
  const MailboxImage Image = MailboxWith({{0,
                                           {{0x0401, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                            {0x0402, "SET N2 X=Y"},
                                            {0x0403, "SET B1 OEMTAL_LOM1=ENABLE"},
                                            {0x0404, "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE"}}}});
  Blade.Mailboxes[4] = Image;
  ScenarioBuilder S = Blade.Scenario();
  S.Adapter(2, 0, 2, {{AdapterDone}}).Adapter(1, 0, 0, {{Done}}).Adapter(1, 0, 1, {{AdapterDone}});
  S.Connect(2, 0, 2).Snapshot("outside").Connect(1, 0, 0).Snapshot("other");

  const FirmwareRun R = Boot("another vendor, outside the table", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  ASSERT_EQ(R.Report.Connects.size(), 2u);
  EXPECT_TRUE(R.Report.Connects[0].Installed) << "the adapter outside the table did arrive";
  const fw::Snapshot& Outside = SnapshotOf(R, "outside");
  EXPECT_EQ(Outside.ExecutesSeen, 0u);
  ExpectDevice(Outside, 4, ExpectedDevice(Image), "after the adapter outside the table");
  ExpectBladeData(Outside, Blade.Vars.TalBladeData, "after the adapter outside the table");
  EXPECT_EQ(FruIdListIn(Outside), Blade.FruIdList);

  const fw::Snapshot& Other = SnapshotOf(R, "other");
  ExpectExecutes(Other, {{"01:00.0", "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", true, Done},
                         {"01:00.0", "Set Netport2 X=Y", true, Done},
                         {"01:00.0", "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE", true, Done}});
  ExpectDevice(Other, 4,
               ExpectedDevice(Image)
                   .Record(0, 0, 0x0401, Done)
                   .Record(0, 1, 0x0402, Done)
                   .Record(0, 3, 0x0404, Done)
                   .Lock(LockReleased),
               "after the other vendor's run");
  ExpectBladeData(Other, Blade.Vars.TalBladeData, "after the other vendor's run: no mask is hers");
  EXPECT_EQ(FruIdListIn(Other), std::vector<uint8_t>(6, 0));
  ExpectNoCodes(Other);
  EXPECT_FALSE(R.Report.Reset.has_value());
}

// Adapter-ready 0 and wait-enable 0 with nothing to restore: the BMC hears that the wait begins and
// ends, AdapterReadyWait is 1 while the processors are throttled and 0 again afterwards, the
// platform's mailbox (this adapter's too) is released for the BMC, and no command runs.
TEST_F(AdapterBoot, WithoutWaitTheBmcIsToldTheProcessorsThrottledAndNoCommandRuns) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.2", 0, Nic8086}};
  Blade.Inputs.AdapterReadyLow = true;
  Blade.Inputs.WaitDisabled = true;
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0x1);
  PutLe32(Blade.Vars.TalBladeData, DeviceEnableMask, 0);
  PutLe32(Blade.Vars.TalBladeData, DeviceDisableMask, 0x1);
  Blade.FruIdList = {1, 0, 0, 0, 0, 0};
  const MailboxImage Image = MailboxWith({{0,
                                           {{0x0101, "SET B1 OEMTAL_LOM1=ENABLE"},
                                            {0x0102, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}}});
  Blade.Mailboxes[1] = Image;
  ScenarioBuilder S = Blade.Scenario();
  S.Snapshot("entry").Adapter(2, 0, 0, {{AdapterDone}}).Connect(2, 0, 0).Snapshot("arrived");

  OemBmc Bmc(Blade);
  ASSERT_EQ(Bmc.Bmc.Failure(), "");
  const FirmwareRun R = Bmc.Boot("no wait", S, Blade);
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);

  // At load the adapters are not ready: the first boot device becomes the network.
  std::vector<uint8_t> AtEntry = Blade.Vars.TalBladeData;
  AtEntry[Ipl1Device] = 8;
  PutLe32(AtEntry, DeviceEnableMask, 0x1);
  PutLe32(AtEntry, DeviceDisableMask, 0);
  const fw::Snapshot& Entry = SnapshotOf(R, "entry");
  ExpectBladeData(Entry, AtEntry, "after the platform pass");
  ExpectDevice(Entry, 1, ExpectedDevice(Image).Record(0, 0, 0x0101, Done).Lock(LockHeld),
               "after the platform pass");
  ASSERT_TRUE(Entry.Inputs.has_value());
  EXPECT_EQ(Entry.Inputs->ReadyPort & ReadyBit, 0u);
  EXPECT_EQ(Entry.Inputs->WaitPort & WaitBit, 0u);

  const ExpectedDevice Released =
      ExpectedDevice(Image).Record(0, 0, 0x0101, Done).Lock(LockReleased);
  std::vector<uint8_t> Waiting = AtEntry;
  Waiting[AdapterReadyWait] = 1;
  for (const char* Throttling : {"mp00", "mp01"}) {
    const fw::Snapshot& During = SnapshotOf(R, Throttling);
    ExpectBladeData(During, Waiting, std::string("at StartupAllAPs call ") + Throttling);
    ExpectDevice(During, 1, Released, std::string("at StartupAllAPs call ") + Throttling);
  }
  const fw::Snapshot& Arrived = SnapshotOf(R, "arrived");
  ExpectThrottleAndUnthrottle(Arrived);
  EXPECT_EQ(Arrived.ExecutesSeen, 0u);
  ExpectDevice(Arrived, 1, Released, "after the arrival");
  ExpectBladeData(Arrived, AtEntry, "after the arrival");
  EXPECT_EQ(FruIdListIn(Arrived), Blade.FruIdList);
  ExpectNoCodes(Arrived);
  EXPECT_EQ(Bmc.Requests(), "30 30 0200004346\n30 30 0200004232\n")
      << "wait-begins (\"CF\"), then wait-ends (\"B2\")";
  EXPECT_FALSE(R.Report.Reset.has_value());
}

// Adapter-ready 0 and wait-enable 1: the driver waits, with the processors throttled, until the
// input rises (a timer of the harness raises it 1.2 s after the arrival begins), then runs the
// adapter's lists with CommandFlags bit 6: the platform settings in them are carried out (the UUID
// reaches TalBladeData, the BMC and the published SMBIOS table; the serial number TalBladeData)
// and not sent, an unknown platform keyword is sent, a known one without effect is not.
TEST_F(AdapterBoot, AfterTheWaitThePlatformSettingsOfTheAdapterListAreCarriedOut) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.0", 0, Nic8086}};
  Blade.Inputs.AdapterReadyLow = true;
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0x4);
  Blade.FruIdList = {0, 0, 4, 0, 0, 0};
  const MailboxImage Image =
      MailboxWith({{0,
                    {{0x0401, "SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF"},
                     {0x0402, "SET BOOTCFGSETTING1 OEMTAL_SERIAL=SN-4711"},
                     {0x0403, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                     {0x0404, "SET B1 OEMTAL_BOGUS=1"},
                     {0x0405, "SET B1 OEMTAL_NUMA=ENABLE"}}}});
  Blade.Mailboxes[4] = Image;
  ScenarioBuilder S = Blade.Scenario();
  S.Adapter(1, 0, 0, {{AdapterDone}}).ReadyInputRises(1200).Connect(1, 0, 0).Snapshot("run");
  S.SmbiosTable();

  OemBmc Bmc(Blade);
  ASSERT_EQ(Bmc.Bmc.Failure(), "");
  const FirmwareRun R = Bmc.Boot("wait and platform settings", S, Blade);
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);

  std::vector<uint8_t> Expected = Blade.Vars.TalBladeData;
  Expected[Ipl1Device] = 8; // not ready at load
  std::vector<uint8_t> Waiting = Expected;
  Waiting[AdapterReadyWait] = 1;
  for (const char* Throttling : {"mp00", "mp01"}) {
    const fw::Snapshot& During = SnapshotOf(R, Throttling);
    ExpectBladeData(During, Waiting, std::string("at StartupAllAPs call ") + Throttling);
    ASSERT_TRUE(During.Inputs.has_value());
    EXPECT_EQ(During.Inputs->ReadyPort & ReadyBit, std::string(Throttling) == "mp00" ? 0u : 1u)
        << "throttled before the input rose, unthrottled after";
    EXPECT_EQ(During.ExecutesSeen, 0u) << "nothing runs before the wait ends";
  }
  const fw::Snapshot& Run = SnapshotOf(R, "run");
  ExpectThrottleAndUnthrottle(Run);
  ASSERT_TRUE(Run.Inputs.has_value());
  EXPECT_TRUE(Run.Inputs->Risen);
  ExpectExecutes(Run, {{"01:00.0", "SET BootEnable=ENABLE", false, AdapterDone},
                       {"01:00.0", "SET B1 OEMTAL_BOGUS=1", true, AdapterDone}});
  ExpectDevice(Run, 4,
               ExpectedDevice(Image)
                   .Record(0, 2, 0x0403, AdapterDone)
                   .Record(0, 3, 0x0404, AdapterDone)
                   .Lock(LockReleased),
               "after the run");

  Expected[UuidValid] = 1;
  Expected[SerialValid] = 1;
  PutLe32(Expected, PendingMask8086, 0);
  for (size_t I = 0; I < 16; ++I) {
    Expected[UuidField + I] = static_cast<uint8_t>(0xFF - 0x11 * I); // text order reversed
  }
  const std::string Serial = "SN-4711";
  for (size_t I = 0; I <= Serial.size(); ++I) {
    Expected[SerialField + 2 * I] = I < Serial.size() ? static_cast<uint8_t>(Serial[I]) : 0;
    Expected[SerialField + 2 * I + 1] = 0;
  }
  ExpectBladeData(Run, Expected, "after the run");
  EXPECT_EQ(Variable(Run, "Setup", SystemSetupGuid).Bytes, Blade.Vars.SystemSetup)
      << "NUMA from an adapter list changes nothing";
  EXPECT_EQ(FruIdListIn(Run), std::vector<uint8_t>(6, 0));
  ExpectNoCodes(Run);
  EXPECT_EQ(Bmc.Requests(), "30 30 0200004346\n"
                            "30 30 0200004232\n"
                            "30 41 00112233445566778899aabbccddeeff\n")
      << "the wait's two messages, then the UUID in the text's order";
  ASSERT_EQ(R.Report.Smbios.count("table"), 1u);
  const std::vector<uint8_t>& Table = R.Report.Smbios.at("table").Bytes;
  ASSERT_GE(Table.size(), 24u);
  EXPECT_EQ(Slice(Table, 8, 16), Slice(Expected, UuidField, 16))
      << "the published UUID holds the bytes as TalBladeData stores them";
  EXPECT_FALSE(R.Report.Reset.has_value());
}

// Adapter-ready 0 with NparRestoreMask naming two positions: each arriving adapter gets the two
// default-restore commands through its own record; the first clears its bit and keeps the
// variable, the last clears the last bit and resets the machine without writing TalBladeData. The
// mailbox is never touched.
TEST_F(AdapterBoot, DefaultRestoreSendsTwoCommandsClearsTheBitAndTheLastBitResets) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.0", 0, Nic8086}, {"00:02.0", 1, Nic8086}};
  Blade.Inputs.AdapterReadyLow = true;
  PutLe32(Blade.Vars.TalBladeData, NparRestoreMask, 0xC);
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0xC);
  Blade.FruIdList = {4, 0, 0, 0, 0, 4};
  const MailboxImage Image =
      MailboxWith({{0, {{0x0401, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}}});
  Blade.Mailboxes[4] = Image;
  ScenarioBuilder S = Blade.Scenario();
  S.Adapter(1, 0, 0, {{AdapterDone}}).Adapter(1, 0, 1, {{AdapterDone}});
  S.Connect(1, 0, 0).Snapshot("first").Connect(1, 0, 1).Snapshot("second");

  const FirmwareRun R = Boot("default restore", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  const std::string Npar = "set netport1 OEMTAL_MULTIFUNCTIONMODE=NPAR";
  std::vector<uint8_t> Expected = Blade.Vars.TalBladeData;
  Expected[Ipl1Device] = 8;
  PutLe32(Expected, NparRestoreMask, 0x8);
  const fw::Snapshot& First = SnapshotOf(R, "first");
  ExpectExecutes(First, {{"01:00.0", Npar, true, AdapterDone, true},
                         {"01:00.0", "exit", true, AdapterDone, true}});
  ExpectBladeData(First, Expected, "after the first restore");
  EXPECT_EQ(FruIdListIn(First), std::vector<uint8_t>(6, 0)) << "every entry of FRU device 4";
  ExpectDevice(First, 4, ExpectedDevice(Image), "after the first restore");
  ExpectNoCodes(First);
  EXPECT_EQ(First.MpCallsSeen, 0u);

  ASSERT_TRUE(R.Report.Reset.has_value()) << "the last bit cleared resets the machine";
  EXPECT_EQ(R.Report.Reset->Type, 0u) << "EfiResetCold";
  EXPECT_EQ(R.Report.Snapshots.count("second"), 0u) << "the reset comes inside the arrival";
  const fw::Snapshot& Reset = SnapshotOf(R, "reset");
  ExpectExecutes(Reset, {{"01:00.0", Npar, true, AdapterDone, true},
                         {"01:00.0", "exit", true, AdapterDone, true},
                         {"01:00.1", Npar, true, AdapterDone, true},
                         {"01:00.1", "exit", true, AdapterDone, true}});
  ExpectBladeData(Reset, Expected, "at the reset: the last restore does not write it");
  ExpectDevice(Reset, 4, ExpectedDevice(Image), "at the reset");
  ExpectNoCodes(Reset);
}

// Platform information 30 answering 1: the platform pass and the run of row 0 use the mailbox in
// FRU device 2; row 1, served in the same run, still has FRU device 1 (only an arrival moves a
// row). The completion signal releases the platform's mailbox in device 2; nobody releases the
// one in device 1, which the run took for row 1.
TEST_F(AdapterBoot, PlatformItem30AnsweringOneMovesRowZeroToFruDevice2) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.2", 0, Nic8086}, {"00:02.2", 1, Nic8086}};
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0x3);
  Blade.FruIdList = {1, 2, 0, 0, 0, 0};
  const MailboxImage Fru2 = MailboxWith({{0,
                                          {{0x2001, "SET B1 OEMTAL_IPL1=CD"},
                                           {0x2002, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                           {0x2003, "SET NETPORT2 OEMQX_LUN=7"}}}});
  const MailboxImage Fru1 = MailboxWith(
      {{0, {{0x1001, "SET NETPORT1 OEMQX_LUN=3"}, {0x1002, "SET NETPORT2 OEMQX_LUN=7"}}}});
  Blade.Mailboxes = {{1, Fru1}, {2, Fru2}};
  Blade.Item30 = 1;
  ScenarioBuilder S = Blade.Scenario();
  S.Snapshot("entry").Adapter(2, 0, 0, {{AdapterDone}}).Adapter(2, 0, 1, {{AdapterDone}});
  S.Connect(2, 0, 0).Snapshot("run").Completion().Snapshot("completion");

  const FirmwareRun R = Boot("item 30, row 0", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  const fw::Snapshot& Entry = SnapshotOf(R, "entry");
  ExpectDevice(Entry, 2, ExpectedDevice(Fru2).Record(0, 0, 0x2001, Done).Lock(LockHeld),
               "after the platform pass");
  ExpectDevice(Entry, 1, ExpectedDevice(Fru1), "after the platform pass");

  const fw::Snapshot& Run = SnapshotOf(R, "run");
  ExpectExecutes(Run, {{"02:00.0", "SET BootEnable=ENABLE", false, AdapterDone},
                       {"02:00.1", "SET BootLUN=7", false, AdapterDone}});
  ExpectDevice(Run, 2,
               ExpectedDevice(Fru2)
                   .Record(0, 0, 0x2001, Done)
                   .Record(0, 1, 0x2002, AdapterDone)
                   .Lock(LockHeld),
               "after the run");
  ExpectDevice(Run, 1, ExpectedDevice(Fru1).Record(0, 1, 0x1002, AdapterDone).Lock(LockHeld),
               "after the run");
  std::vector<uint8_t> Expected = Blade.Vars.TalBladeData;
  Expected[Ipl1Device] = 2; // CD
  PutLe32(Expected, PendingMask8086, 0);
  ExpectBladeData(Run, Expected, "after the run");
  EXPECT_EQ(FruIdListIn(Run), std::vector<uint8_t>(6, 0));
  ExpectNoCodes(Run);

  const fw::Snapshot& Completion = SnapshotOf(R, "completion");
  ExpectDevice(Completion, 2,
               ExpectedDevice(Fru2)
                   .Record(0, 0, 0x2001, Done)
                   .Record(0, 1, 0x2002, AdapterDone)
                   .Lock(LockReleased),
               "after the completion signal");
  ExpectDevice(Completion, 1, ExpectedDevice(Fru1).Record(0, 1, 0x1002, AdapterDone).Lock(LockHeld),
               "after the completion signal");
  ExpectNoCodes(Completion);
}

// Execute failing stops the run at once: the command before it keeps its record, nothing after it
// runs, the pending mask and the FRU id list stay as they were, the mailbox stays locked, and the
// failure is reported. A later arrival with the adapters not ready finds QEMU's BMC refusing the
// wait-begins message (0xC1): the handler ends there, before AdapterReadyWait, the mailbox release
// or any throttling.
TEST_F(AdapterBoot, AnExecuteFailureStopsTheRunAndARefusedWaitMessageEndsTheArrival) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.0", 0, Nic8086}, {"00:02.0", 1, Nic8086}};
  Blade.Inputs.AdapterReadyLow = true;
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0xC);
  Blade.FruIdList = {4, 0, 0, 0, 0, 0};
  const MailboxImage Image = MailboxWith({{0,
                                           {{0x0401, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                            {0x0402, "SET NETPORT1 OEMTAL_BOOTPRIORITY=DISABLE"},
                                            {0x0403, "SET NETPORT1 OEMQX_LUN=1"},
                                            {0x0404, "SET NETPORT2 OEMQX_LUN=2"}}}});
  Blade.Mailboxes[4] = Image;
  ScenarioBuilder S = Blade.Scenario();
  S.Adapter(1, 0, 0, {{AdapterDone}, fw::ExecuteFails}).Adapter(1, 0, 1, {{AdapterDone}});
  S.ReadyInput(true).Connect(1, 0, 0).Snapshot("failed");
  S.ReadyInput(false).Connect(1, 0, 1).Snapshot("refused");

  const FirmwareRun R = Boot("Execute failure", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  std::vector<uint8_t> Expected = Blade.Vars.TalBladeData;
  Expected[Ipl1Device] = 8; // not ready at load
  const ExpectedDevice Locked =
      ExpectedDevice(Image).Record(0, 0, 0x0401, AdapterDone).Lock(LockHeld);
  const fw::Snapshot& Failed = SnapshotOf(R, "failed");
  const std::vector<Exec> Calls = {
      {"01:00.0", "SET BootEnable=ENABLE", false, AdapterDone},
      {"01:00.0", "SET BootPriority=Disabled", false, 0, false, DeviceError}};
  ExpectExecutes(Failed, Calls);
  ExpectDevice(Failed, 4, Locked, "after the failed run");
  ExpectBladeData(Failed, Expected, "after the failed run: not written");
  EXPECT_EQ(FruIdListIn(Failed), Blade.FruIdList);
  ExpectOneFailureReported(Failed);

  const fw::Snapshot& Refused = SnapshotOf(R, "refused");
  ExpectExecutes(Refused, Calls);
  EXPECT_EQ(Refused.MpCallsSeen, 0u) << "no throttling";
  ExpectDevice(Refused, 4, Locked, "after the refused wait message: not released");
  ExpectBladeData(Refused, Expected, "after the refused wait message: AdapterReadyWait untouched");
  EXPECT_EQ(Refused.CodesSeen, 1u) << "the refusal is not reported";
  EXPECT_FALSE(R.Report.Reset.has_value());
}

// A first boot as the blade has it: the platform pass runs the platform's mailbox, then the
// adapter drivers start on their functions in the order the firmware connects them. The first
// 0x8086 arrival serves all four pending 0x8086 adapters (the mezzanine's mailbox and the
// platform's, wrapping from row 3 to row 0); the later 0x8086 arrivals find nothing pending; the
// other vendor's adapter is served on its own; the completion signal releases the platform's
// mailbox and finds no FRU device pending.
TEST_F(AdapterBoot, AFirstBootRunsThePlatformPassThenEveryAdapterAsItArrives) {
  AdapterBlade Blade;
  Blade.Functions = {{"00:02.0", 0, Nic8086},
                     {"00:02.0", 1, Nic8086},
                     {"00:02.2", 0, Nic8086},
                     {"00:02.2", 1, Nic8086},
                     {"00:03.0", 0, Other1234}};
  PutLe32(Blade.Vars.TalBladeData, PendingMask8086, 0xF);
  PutLe32(Blade.Vars.TalBladeData, DeviceEnableMask, 0);
  PutLe32(Blade.Vars.TalBladeData, DeviceDisableMask, 0x1);
  Blade.FruIdList = {1, 4, 5, 0, 0, 0};
  const MailboxImage Fru1 = MailboxWith({{0,
                                          {{0x0101, "SET B1 OEMTAL_LOM1=ENABLE"},
                                           {0x0102, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                           {0x0103, "SET NETPORT2 OEMTAL_BOOTENABLE=DISABLE"},
                                           {0x0104, "SET B1 OEMTAL_IPL1=USB"}}}});
  const MailboxImage Fru4 = MailboxWith({{0,
                                          {{0x0401, "SET NETPORT1 OEMQX_TARGETIP=10.0.0.1"},
                                           {0x0402, "SET NETPORT2 OEMQX_TARGETPORT=3260"}}}});
  const MailboxImage Fru5 = MailboxWith({{0, {{0x0501, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}}});
  Blade.Mailboxes = {{1, Fru1}, {4, Fru4}, {5, Fru5}};
  ScenarioBuilder S = Blade.Scenario();
  S.Snapshot("entry");
  for (auto [Bus, Function] : {std::pair{1, 0}, {1, 1}, {2, 0}, {2, 1}}) {
    S.Adapter(Bus, 0, Function, {{AdapterDone}});
  }
  S.Adapter(3, 0, 0, {{Done}});
  S.Connect(1, 0, 0).Snapshot("first");
  S.Connect(1, 0, 1).Connect(2, 0, 0).Connect(2, 0, 1).Connect(3, 0, 0).Snapshot("arrived");
  S.Completion().Snapshot("completion");

  const FirmwareRun R = Boot("first boot", S, Blade.WithQemuBmc());
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  for (const fw::ConnectLine& C : R.Report.Connects) {
    EXPECT_EQ(C.Status, Success) << C.Location;
    EXPECT_TRUE(C.Installed) << C.Location;
  }
  std::vector<uint8_t> Expected = Blade.Vars.TalBladeData;
  PutLe32(Expected, DeviceEnableMask, 0x1);
  PutLe32(Expected, DeviceDisableMask, 0);
  Expected[Ipl1Device] = 32; // USB
  const ExpectedDevice Platform =
      ExpectedDevice(Fru1).Record(0, 0, 0x0101, Done).Record(0, 3, 0x0104, Done);
  const fw::Snapshot& Entry = SnapshotOf(R, "entry");
  ExpectDevice(Entry, 1, ExpectedDevice(Platform).Lock(LockHeld), "after the platform pass");
  ExpectBladeData(Entry, Expected, "after the platform pass");

  const std::vector<Exec> Served = {
      {"01:00.0", "SET TargetIPv4address=10.0.0.1", false, AdapterDone},
      {"01:00.1", "SET PortNumber=3260", false, AdapterDone},
      {"02:00.0", "SET BootEnable=ENABLE", false, AdapterDone},
      {"02:00.1", "SET BootEnable=DISABLE", false, AdapterDone}};
  const fw::Snapshot& First = SnapshotOf(R, "first");
  ExpectExecutes(First, Served);
  PutLe32(Expected, PendingMask8086, 0);
  ExpectBladeData(First, Expected, "after the first arrival");
  EXPECT_EQ(FruIdListIn(First), (std::vector<uint8_t>{0, 0, 5, 0, 0, 0}));

  std::vector<Exec> All = Served;
  All.push_back({"03:00.0", "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", true, Done});
  const fw::Snapshot& Arrived = SnapshotOf(R, "arrived");
  ExpectExecutes(Arrived, All);
  ExpectDevice(Arrived, 1,
               ExpectedDevice(Platform)
                   .Record(0, 1, 0x0102, AdapterDone)
                   .Record(0, 2, 0x0103, AdapterDone)
                   .Lock(LockHeld),
               "after the arrivals");
  ExpectDevice(Arrived, 4,
               ExpectedDevice(Fru4)
                   .Record(0, 0, 0x0401, AdapterDone)
                   .Record(0, 1, 0x0402, AdapterDone)
                   .Lock(LockReleased),
               "after the arrivals");
  ExpectDevice(Arrived, 5, ExpectedDevice(Fru5).Record(0, 0, 0x0501, Done).Lock(LockReleased),
               "after the arrivals");
  ExpectBladeData(Arrived, Expected, "after the arrivals");
  EXPECT_EQ(FruIdListIn(Arrived), std::vector<uint8_t>(6, 0));

  const fw::Snapshot& Completion = SnapshotOf(R, "completion");
  EXPECT_EQ(R.Report.Completions, std::vector<EFI_STATUS>{Success});
  ExpectDevice(Completion, 1,
               ExpectedDevice(Platform)
                   .Record(0, 1, 0x0102, AdapterDone)
                   .Record(0, 2, 0x0103, AdapterDone)
                   .Lock(LockReleased),
               "after the completion signal");
  ExpectNoCodes(Completion);
  EXPECT_EQ(Completion.MpCallsSeen, 0u);
  EXPECT_FALSE(R.Report.Reset.has_value());
}

} // namespace
