// Adapter commands on their way to the adapter: widening, port filtering, renumbering, keyword
// translation, and the platform settings of an adapter list with their variables, BMC message and
// SMBIOS update.
#include <cstring>
#include <string>
#include <vector>

#include "adapter/command_rewrite.h"
#include "adapter/keyword_map.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;
using Bytes = std::vector<uint8_t>;

constexpr UINT32 Untouched = 0xDEADBEEF;
// Vendor/device words: vendor in the low half.
constexpr UINT32 Word8086 = 0x10FB8086;
constexpr UINT32 Word16AE = 0x16AE14E4;
constexpr UINT32 Word16A4 = 0x16A414E4;
constexpr UINT32 Word168E = 0x168E14E4;
constexpr UINT32 Word16A1 = 0x16A114E4;
constexpr UINT32 Word10DF = 0xE20010DF;

struct RewriteCase {
  UINT32 Word;
  UINT8 Row; // of the AdapterSlotTable
  const char* In;
  const char* Out;
  UINT8 FlagsIn;
  UINT8 FlagsOut;
  UINT32 Status = Untouched;
  EFI_STATUS Result = EFI_SUCCESS;
};

std::ostream& operator<<(std::ostream& Out, const RewriteCase& C) {
  return Out << "'" << C.In << "' for word 0x" << std::hex << C.Word << " row " << std::dec
             << int(C.Row);
}

// Rows: 0 function 0 (port 1); 1 function 1 (port 2); 4 function 2 (port 3); 5 function 3
// (port 4); 8 and 10 ports 3; 9, 11 and 23 ports 4; 20 and 22 ports 3; 12 function 0 (port 1).
const RewriteCase Cases[] = {
    // Vendor 0x8086: every keyword and value of its vocabulary, on port 1.
    {Word8086, 0, "SET NETPORT1 PERMANENTADDRESS=001122334455", "SET Permanentaddress=001122334455",
     0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", "SET BootEnable=ENABLE", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_BOOTENABLE=DISABLE", "SET BootEnable=DISABLE", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_BOOTENABLE=ENABLE", "SET BootEnable=iSCSI", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_BOOTENABLE=DISABLE", "SET BootEnable=PXE", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_BOOTPRIORITY=DISABLE", "SET BootPriority=Disabled", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_BOOTPRIORITY=2", "SET BootPriority=2", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_BOOTPRIORITY =1", "SET OEMTAL_BOOTPRIORITY =1", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_INITIATORADDRESSORIGIN=3", "SET AddressOrigin=Static", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_INITIATORADDRESSORIGIN=30", "SET AddressOrigin=Static", 0,
     0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_INITIATORADDRESSORIGIN=4", "SET AddressOrigin=DHCP", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_INITIATORADDRESSORIGIN=5", "SET AddressOrigin=5", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_INITIATORNAME=iqn.2024-01.blade:a",
     "SET InitiatorName=iqn.2024-01.blade:a", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_INITIATORIP=10.0.0.5", "SET ipv4address=10.0.0.5", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_INITIATORNETMASK=255.255.0.0", "SET SubnetMask=255.255.0.0",
     0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_INITIATORROUTE=10.0.0.1", "SET Gatewayipv4address=10.0.0.1",
     0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_TARGETADDRESSORIGIN=3", "SET TargetAddressOrigin=Static", 0,
     0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_TARGETADDRESSORIGIN=4", "SET TargetAddressOrigin=DHCP", 0,
     0},
    {Word8086, 0, "SET NETPORT1 OEMQX_TARGETNAME=iqn.t", "SET TargetName=iqn.t", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_TARGETIP=10.0.0.9", "SET TargetIPv4address=10.0.0.9", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_TARGETPORT=3260", "SET PortNumber=3260", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_LUN=0", "SET BootLUN=0", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_USERNAME=admin", "SET ChapUsername=admin", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_SECRET=s3cret", "SET ChapSecret=s3cret", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_MUTUALSECRET=m", "SET MutualChapSecret=m", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_AUTHENTICATIONMETHOD=CHAP", "SET AuthenticationMethod=CHAP",
     0, 0},
    {Word8086, 0, "SET NETPORT1 DEFAULT", "SET Permanentaddress=FFFFFFFFFFFF", 0, 0},
    {Word8086, 0, "SET NETPORT1 DEFAULT=KEEP", "SET Permanentaddress=FFFFFFFFFFFF", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_EXPANSIONROMMENU=ENABLE", "SET EXPANSIONROMMENU=Enabled", 0,
     0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_EXPANSIONROMMENU=DISABLED", "SET EXPANSIONROMMENU=Disabled",
     0, 0},
    {Word8086, 0, "set netport1 oemqx_lun=3", "set BootLUN=3", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMQX_LUN", "SET OEMQX_LUN", 0, 0},
    {Word8086, 0, "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF", "SET OEMTAL_MULTIFUNCTIONMODE=SF", 0,
     0},
    // Vendor 0x8086: the port a row answers to.
    {Word8086, 1, "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE", "SET BootEnable=ENABLE", 0x01, 0},
    {Word8086, 1, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE",
     0, 0x01},
    {Word8086, 1, "SET N2 OEMQX_BOOTENABLE=enable", "Set BootEnable=iSCSI", 0, 0},
    {Word8086, 4, "SET NETPORT3 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 5, "SET NETPORT4 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 8, "SET NETPORT3 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 10, "SET NETPORT3 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 10, "SET NETPORT1 OEMQX_LUN=1", "SET NETPORT1 OEMQX_LUN=1", 0, 0x01},
    {Word8086, 11, "SET NETPORT4 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 9, "SET NETPORT4 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 20, "SET NETPORT3 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 22, "SET NETPORT3 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 23, "SET N4 OEMQX_LUN=1", "Set BootLUN=1", 0, 0},
    {Word8086, 12, "SET NETPORT1 OEMQX_LUN=1", "SET BootLUN=1", 0, 0},
    {Word8086, 0, "SET NETPORT8 OEMQX_LUN=1", "SET NETPORT8 OEMQX_LUN=1", 0, 0},
    {Word8086, 0, "SET NETPORT0 OEMQX_LUN=1", "SET NETPORT0 OEMQX_LUN=1", 0, 0},
    {Word8086, 0, "SHOW NETPORT1", "SHOW NETPORT1", 0x03, 0x02},
    // Vendor 0x14E4: every function is port 1; some mode changes need a reset.
    {Word16AE, 4, "SET NETPORT3 OEMTAL_MULTIFUNCTIONMODE=SF",
     "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF", 0, 0x02},
    {Word168E, 4, "SET NETPORT3 OEMTAL_MULTIFUNCTIONMODE=SF",
     "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=SF", 0, 0},
    {Word168E, 4, "SET NETPORT3 OEMTAL_MULTIFUNCTIONMODE=NPAR",
     "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=NPAR", 0, 0x02},
    {Word16A1, 0, "set netport1 oemtal_multifunctionmode=npar",
     "set netport1 oemtal_multifunctionmode=npar", 0x01, 0x02},
    {Word16AE, 0, "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=NPAR",
     "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=NPAR", 0, 0},
    {Word16A4, 0, "SET NETPORT1 MULTIFUNCTIONMODE=SF", "SET NETPORT1 MULTIFUNCTIONMODE=SF", 0,
     0x02},
    {Word16A4, 0, "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE", "SET NETPORT2 OEMTAL_BOOTENABLE=ENABLE",
     0x02, 0x03},
    {Word16AE, 1, "SET N2 OEMTAL_BOOTENABLE=ENABLE", "Set Netport1 OEMTAL_BOOTENABLE=ENABLE", 0, 0},
    {Word16AE, 0, "SET NETPORT8 X=Y", "SET NETPORT8 X=Y", 0, 0},
    {Word16AE, 0, "SET NETPORT0 X=Y", "SET NETPORT0 X=Y", 0, 0},
    {Word16AE, 0, "SET N8 X=Y", "Set Netport8 X=Y", 0, 0},
    // Any other vendor: only the short form is widened.
    {Word10DF, 0, "SET N1 X=Y", "Set Netport1 X=Y", 0, 0},
    {Word10DF, 0, "SET NETPORT2 X=Y", "SET NETPORT2 X=Y", 0, 0},
    {Word10DF, 0, "SET N9 X=Y", "SET N9 X=Y", 0, 0},
    {Word10DF, 0, "SET N1X=Y", "SET N1X=Y", 0, 0},
    // Platform settings: carried out only after the arrival wait (bit 6), and then not sent unless
    // the keyword is unknown.
    {Word8086, 0, "SET B1 OEMTAL_SERIAL=ABC123", "SET B1 OEMTAL_SERIAL=ABC123", 0, 0x01},
    {Word8086, 0, "SET BOOTCFGSETTING1 OEMTAL_BOGUS=1", "SET BOOTCFGSETTING1 OEMTAL_BOGUS=1", 0,
     0x01},
    {Word8086, 0, "SET BOOTCFGSETTING1 OEMTAL_NUMA=ENABLE",
     "SET BOOTCFGSETTING1 OEMTAL_NUMA=ENABLE", 0x40, 0x41},
    {Word8086, 0, "SET BOOTCFGSETTING1 OEMTAL_BOGUS=1", "SET BOOTCFGSETTING1 OEMTAL_BOGUS=1", 0x41,
     0x40, 0xFD02},
    // A row past the table.
    {Word8086, 24, "SET NETPORT1 OEMQX_LUN=1", "SET NETPORT1 OEMQX_LUN=1", 0x01, 0, Untouched,
     EFI_INVALID_PARAMETER},
};

class RewriteTest : public DriverTest {
protected:
  CHAR8 Text[256] = {};
  void Load(const std::string& In) {
    std::memset(Text, 0, sizeof Text);
    std::memcpy(Text, In.data(), In.size());
  }
};

TEST_F(RewriteTest, EachCommandLeavesAsTheVendorExpectsIt) {
  for (const RewriteCase& C : Cases) {
    SCOPED_TRACE(::testing::PrintToString(C));
    Load(C.In);
    UINT32 Status = Untouched;
    UINT8 Flags = C.FlagsIn;
    EXPECT_EQ(RewriteAdapterCommand(Transport(), Text, C.Row, C.Word, &Status, &Flags), C.Result);
    EXPECT_EQ(std::string(Text), C.Out);
    EXPECT_EQ(int(Flags), int(C.FlagsOut));
    EXPECT_EQ(Status, C.Status);
  }
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
  EXPECT_TRUE(Blade.Firmware.Variables.Writes().empty());
}

TEST_F(RewriteTest, WideningRefusesWhatWouldNotFitAndTooShortTexts) {
  const std::string Fits = "SET N1 " + std::string(242, 'x'); // 249 characters
  Load(Fits);
  EXPECT_EQ(ExpandShortNetPort(Text), EFI_SUCCESS);
  EXPECT_EQ(std::string(Text), "Set Netport1 " + std::string(242, 'x'));
  EXPECT_EQ(Text[255], 0);

  for (const std::string& Refused : {Fits + "x", std::string("SET ")}) {
    Load(Refused);
    EXPECT_EQ(ExpandShortNetPort(Text), EFI_ABORTED);
    EXPECT_EQ(std::string(Text), Refused);
  }
  UINT32 Status = Untouched;
  UINT8 Flags = 0;
  Load(Fits + "x");
  EXPECT_EQ(RewriteAdapterCommand(Transport(), Text, 0, Word10DF, &Status, &Flags), EFI_ABORTED);
  EXPECT_EQ(std::string(Text), Fits + "x");
}

// A buffer of 256 characters without a NUL, whatever its start: refused, left as it was, nothing
// read past its end (the sanitizer builds would see it), nothing carried out.
TEST_F(RewriteTest, TextWithoutANulInItsBufferIsRefusedUnchanged) {
  const struct {
    UINT32 Word;
    UINT8 Row;
    const char* Start;
    UINT8 Flags;
  } Starts[] = {{Word16AE, 0, "SET NETPORT1 OEMTAL", 0x01},
                {Word8086, 0, "SET NETPORT1 OEMQX_LUN=", 0},
                {Word10DF, 0, "SET N1 X", 0},
                {Word8086, 0, "SET B1 OEMTAL_SERIAL=", 0x40}};
  for (const auto& S : Starts) {
    SCOPED_TRACE(S.Start);
    std::memset(Text, 'A', sizeof Text);
    std::memcpy(Text, S.Start, std::strlen(S.Start));
    const std::string Before(Text, sizeof Text);
    UINT32 Status = Untouched;
    UINT8 Flags = S.Flags;
    EXPECT_EQ(RewriteAdapterCommand(Transport(), Text, S.Row, S.Word, &Status, &Flags),
              EFI_INVALID_PARAMETER);
    EXPECT_EQ(std::string(Text, sizeof Text), Before);
    EXPECT_EQ(int(Flags), S.Flags & ~0x01);
    EXPECT_EQ(Status, Untouched);
  }
  EXPECT_TRUE(Blade.Firmware.Variables.Writes().empty());
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
}

TEST_F(RewriteTest, TranslationThatWouldNotFitLeavesTheTextUnchanged) {
  // "OEMQX_TARGETIP" grows by three characters into "TargetIPv4address".
  const std::string Head = "SET OEMQX_TARGETIP=";
  const std::string Fits = Head + std::string(252 - Head.size(), '1');
  Load(Fits);
  TranslateAdapterKeywords(Text);
  EXPECT_EQ(std::string(Text), "SET TargetIPv4address=" + std::string(252 - Head.size(), '1'));

  const std::string TooLong = Fits + "1";
  Load(TooLong);
  TranslateAdapterKeywords(Text);
  EXPECT_EQ(std::string(Text), TooLong);

  // Neither a failing pool nor a buffer without a NUL changes anything.
  Load("SET OEMQX_LUN=1");
  Blade.Firmware.Pool.FailAllocation(1);
  TranslateAdapterKeywords(Text);
  EXPECT_EQ(std::string(Text), "SET OEMQX_LUN=1");
  std::memset(Text, 'A', sizeof Text);
  std::memcpy(Text, "SET OEMQX_LUN=", 14);
  TranslateAdapterKeywords(Text);
  EXPECT_EQ(std::string(Text, sizeof Text).substr(0, 14), "SET OEMQX_LUN=");
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
}

// Platform settings after the arrival wait, through the simulated variables, BMC and SMBIOS.
class AdapterListSettingTest : public RewriteTest {
protected:
  AdapterListSettingTest() { Blade.Platform.SetCpuTopology(1, 8); } // 8 cores

  struct Outcome {
    EFI_STATUS Result;
    UINT8 Flags;
    bool Reset;
  };
  Outcome Run(const std::string& Line, UINT8 Flags = 0x40) {
    Load(Line);
    UINT32 Status = Untouched;
    Outcome O{EFI_SUCCESS, Flags, false};
    try {
      O.Result = RewriteAdapterCommand(Transport(), Text, 0, Word8086, &Status, &O.Flags);
    } catch (const sim::SimulatedReset& R) {
      EXPECT_EQ(R.Type, EfiResetCold);
      O.Reset = true;
    }
    EXPECT_EQ(Status, Untouched);
    EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
    return O;
  }
  // A new boot; the driver's service tables go with it and are set up again.
  void NewBoot() {
    Blade.PowerCycle();
    InitServiceTables(Blade.Firmware.ImageHandle(), Blade.Firmware.SystemTable());
  }
  Bytes SystemSetupBytes() { return Blade.Firmware.Variables.Value(u"Setup", SetupGuid).value(); }
  // Names of the variables written, in order, with their attributes.
  std::vector<std::string> Writes() {
    std::vector<std::string> Out;
    for (const sim::VariableWrite& W : Blade.Firmware.Variables.Writes()) {
      Out.push_back(std::string(W.Name.begin(), W.Name.end()) + "/" + std::to_string(W.Attributes));
    }
    return Out;
  }
  const EFI_GUID SetupGuid = {
      0xEC87D643, 0xEBA4, 0x4BB5, {0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9}};
  const EFI_GUID BladeGuid = {
      0x3C095E8C, 0x7653, 0x11E1, {0xA8, 0xEB, 0x08, 0x00, 0x27, 0xFA, 0x6E, 0x7F}};
};

TEST_F(AdapterListSettingTest, ActiveCoresAreStoredAndResetTheSystemAtOnce) {
  struct {
    const char* Value;
    UINT8 Cores;
  } const Cases[] = {{"12", 8}, {"6", 6}, {"0", 8}, {"ALL", 8}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Value);
    NewBoot();
    Blade.Firmware.Variables.Create(u"Setup", SetupGuid, 7, Bytes(731, 0));
    const size_t Before = Blade.Firmware.Variables.Writes().size();
    EXPECT_TRUE(Run(std::string("SET B1 OEMTAL_ACTIVECORE=") + C.Value).Reset);
    EXPECT_EQ(SystemSetupBytes()[58], C.Cores); // ActiveCoreOther
    EXPECT_EQ(Blade.Firmware.Variables.Writes().size(), Before + 1);
    EXPECT_EQ(Blade.Firmware.Variables.Writes().back().Attributes, 7u);
  }
  // The same value again changes nothing: no write, no reset.
  NewBoot();
  const Outcome Again = Run("SET B1 OEMTAL_ACTIVECORE=8");
  EXPECT_FALSE(Again.Reset);
  EXPECT_EQ(Again.Flags, 0x41);
}

TEST_F(AdapterListSettingTest, UuidGoesToTheBmcSmbiosAndTalBladeData) {
  const Outcome O = Run("SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(O.Result, EFI_SUCCESS);
  EXPECT_EQ(O.Flags, 0x41);
  const Bytes Text = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  const Bytes Stored(Text.rbegin(), Text.rend());
  const Bytes Data = BladeData();
  EXPECT_EQ(Data[0], 1);
  EXPECT_EQ(Bytes(Data.begin() + 4, Data.begin() + 20), Stored);
  ASSERT_EQ(Blade.Bmc.Trace().size(), 1u);
  EXPECT_EQ(Blade.Bmc.Trace()[0].NetFn, 0x30);
  EXPECT_EQ(Blade.Bmc.Trace()[0].Cmd, 0x41);
  EXPECT_EQ(Blade.Bmc.Trace()[0].Data, Text);
  EXPECT_EQ(Blade.Smbios.SystemUuid(), Stored);
  EXPECT_EQ(Writes(), std::vector<std::string>{"TalBladeData/6"});
}

TEST_F(AdapterListSettingTest, SerialIsStoredWithoutAReset) {
  const Outcome O = Run("SET BOOTCFGSETTING1 OEMTAL_SERIAL=AB");
  EXPECT_EQ(O.Flags, 0x41);
  EXPECT_FALSE(O.Reset);
  const Bytes Data = BladeData();
  EXPECT_EQ(Data[1], 1);
  EXPECT_EQ(Bytes(Data.begin() + 20, Data.begin() + 26), Bytes({'A', 0, 'B', 0, 0, 0}));
  EXPECT_EQ(Writes(), std::vector<std::string>{"TalBladeData/6"});
}

TEST_F(AdapterListSettingTest, AResetAskedForEarlierInTheRunHappensAtThePlatformLine) {
  EXPECT_TRUE(Run("SET B1 OEMTAL_NUMA=ENABLE", 0x42).Reset);
  NewBoot();
  EXPECT_TRUE(Run("SET B1 OEMTAL_SERIAL=X", 0x02).Reset);
  EXPECT_TRUE(Writes().empty());
}

struct SettingFailure {
  const char* Name;
  const char* Line;
  void (*Arm)(sim::Blade&, const EFI_GUID& Setup, const EFI_GUID& Blade);
  EFI_STATUS Expected;
  std::vector<std::string> Writes; // attempted, failed ones included
  unsigned SmbiosUpdates;
};

class SettingFailureTest : public AdapterListSettingTest,
                           public ::testing::WithParamInterface<SettingFailure> {};

TEST_P(SettingFailureTest, FailureIsReturnedWithNothingFurtherWritten) {
  const SettingFailure& F = GetParam();
  F.Arm(Blade, SetupGuid, BladeGuid);
  const Outcome O = Run(F.Line, 0x40);
  EXPECT_EQ(O.Result, F.Expected);
  EXPECT_FALSE(O.Reset);
  EXPECT_EQ(O.Flags & 0x01, 0); // not marked: the run ends on the failure
  EXPECT_EQ(Writes(), F.Writes);
  EXPECT_EQ(Blade.Smbios.UpdateCalls(), F.SmbiosUpdates);
}

constexpr const char* Uuid = "SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF";

INSTANTIATE_TEST_SUITE_P(
    Failures, SettingFailureTest,
    ::testing::Values(SettingFailure{"SetupRead",
                                     Uuid,
                                     [](sim::Blade& B, const EFI_GUID& S, const EFI_GUID&) {
                                       B.Firmware.Variables.FailGet(u"Setup", S, EFI_DEVICE_ERROR);
                                     },
                                     EFI_DEVICE_ERROR,
                                     {},
                                     0},
                      SettingFailure{"BladeDataRead",
                                     Uuid,
                                     [](sim::Blade& B, const EFI_GUID&, const EFI_GUID& D) {
                                       B.Firmware.Variables.FailGet(u"TalBladeData", D,
                                                                    EFI_NOT_FOUND);
                                     },
                                     EFI_NOT_FOUND,
                                     {},
                                     0},
                      SettingFailure{"Pool",
                                     Uuid,
                                     [](sim::Blade& B, const EFI_GUID&, const EFI_GUID&) {
                                       B.Firmware.Pool.FailAllocation(2);
                                     },
                                     EFI_OUT_OF_RESOURCES,
                                     {},
                                     0},
                      SettingFailure{"UuidMessage",
                                     Uuid,
                                     [](sim::Blade& B, const EFI_GUID&, const EFI_GUID&) {
                                       B.Bmc.InjectCompletion(0xC1);
                                     },
                                     EFI_DEVICE_ERROR,
                                     {},
                                     0},
                      SettingFailure{"SmbiosUpdate",
                                     Uuid,
                                     [](sim::Blade& B, const EFI_GUID&, const EFI_GUID&) {
                                       B.Smbios.FailUpdate(EFI_WRITE_PROTECTED);
                                     },
                                     EFI_WRITE_PROTECTED,
                                     {},
                                     1},
                      SettingFailure{"SetupWrite",
                                     "SET B1 OEMTAL_ACTIVECORE=4",
                                     [](sim::Blade& B, const EFI_GUID& S, const EFI_GUID&) {
                                       B.Firmware.Variables.FailSet(u"Setup", S,
                                                                    EFI_WRITE_PROTECTED);
                                     },
                                     EFI_WRITE_PROTECTED,
                                     {"Setup/7"},
                                     0},
                      SettingFailure{"BladeDataWrite",
                                     "SET B1 OEMTAL_SERIAL=SN1",
                                     [](sim::Blade& B, const EFI_GUID&, const EFI_GUID& D) {
                                       B.Firmware.Variables.FailSet(u"TalBladeData", D,
                                                                    EFI_OUT_OF_RESOURCES);
                                     },
                                     EFI_OUT_OF_RESOURCES,
                                     {"TalBladeData/6"},
                                     0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
