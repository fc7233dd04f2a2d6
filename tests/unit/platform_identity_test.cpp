// The system identity: UUID and serial texts parsed into TalBladeData, and the UUID handed on to
// SMBIOS and to the BMC in their own byte orders.
#include <string>
#include <vector>

#include "platform/identity.h"
#include "platform/platform_command.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/exact_text.h"

namespace {

using testing_support::DriverTest;
using testing_support::ExactText;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t Old = 0x5A; // what every byte held before

Bytes Repeat(size_t Count, uint8_t Value) {
  return Bytes(Count, Value);
}
Bytes operator+(Bytes A, const Bytes& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// The UUID bytes 00, 11, ... FF as a text gives them, and as TalBladeData stores them.
const char* const UuidText = "00112233445566778899AABBCCDDEEFF";
const Bytes TextOrder = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const Bytes StoredOrder = {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88,
                           0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};

struct UuidCase {
  const char* Name;
  const char* Text;
  Bytes Field; // TalBladeData bytes 4 to 19 afterwards
};

class StoreUuidTextTest : public ::testing::TestWithParam<UuidCase> {};

TEST_P(StoreUuidTextTest, FirstPairLandsAtTheFieldsLastByte) {
  const UuidCase& C = GetParam();
  Bytes Data(280, Old);
  Data[0] = 0;
  auto Text = ExactText(C.Text);
  StoreUuidText(Text.get(), Data.data());
  EXPECT_EQ(Data[0], 1); // UuidValid
  EXPECT_EQ(Bytes(Data.begin() + 4, Data.begin() + 20), C.Field);
  EXPECT_EQ(Bytes(Data.begin() + 1, Data.begin() + 4), Repeat(3, Old));
  EXPECT_EQ(Bytes(Data.begin() + 20, Data.end()), Repeat(260, Old));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StoreUuidTextTest,
    ::testing::Values(UuidCase{"SixteenPairs", UuidText, StoredOrder},
                      UuidCase{"LowerCase", "00112233445566778899aabbccddeeff", StoredOrder},
                      // Pairs past the sixteenth would run into Ipl1Device: they are not read.
                      UuidCase{"SeventeenPairs", "00112233445566778899AABBCCDDEEFF1234",
                               StoredOrder},
                      UuidCase{"ThreeDigits", "ABC", Repeat(14, Old) + Bytes{0xC0, 0xAB}},
                      UuidCase{"OnePair", "AB", Repeat(14, Old) + Bytes{0x00, 0xAB}},
                      UuidCase{"Empty", "", Repeat(15, Old) + Bytes{0x00}},
                      // No separators: a dash is a digit of value 0.
                      UuidCase{"Dashes", "12345678-1234",
                               Repeat(9, Old) + Bytes{0x40, 0x23, 0x01, 0x78, 0x56, 0x34, 0x12}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct SerialCase {
  const char* Name;
  std::string Text;
  std::vector<UINT16> Units; // Serial units from 0 on; the later ones keep their old value
};

class StoreSerialTextTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(StoreSerialTextTest, WidensUpToTheNulOrSixtyFiveUnits) {
  const SerialCase& C = GetParam();
  Bytes Data(280, Old);
  Data[1] = 0;
  auto Text = ExactText(C.Text);
  StoreSerialText(Text.get(), Data.data());
  EXPECT_EQ(Data[1], 1); // SerialValid
  for (size_t Unit = 0; Unit < 65; ++Unit) {
    const UINT16 Expected = Unit < C.Units.size() ? C.Units[Unit] : 0x5A5A;
    EXPECT_EQ(Data[20 + 2 * Unit] | (Data[21 + 2 * Unit] << 8), Expected) << "unit " << Unit;
  }
  EXPECT_EQ(Bytes(Data.begin() + 2, Data.begin() + 20), Repeat(18, Old));
  EXPECT_EQ(Bytes(Data.begin() + 150, Data.end()), Repeat(130, Old));
  EXPECT_EQ(Data[0], Old);
}

std::vector<UINT16> Units(const std::string& Text, bool WithNul) {
  std::vector<UINT16> U(Text.begin(), Text.end());
  if (WithNul) {
    U.push_back(0);
  }
  return U;
}

const std::string Serial70 =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-.:/+=*";

INSTANTIATE_TEST_SUITE_P(
    Texts, StoreSerialTextTest,
    ::testing::Values(
        SerialCase{"Empty", "", {0}}, SerialCase{"Short", "AB1", {'A', 'B', '1', 0}},
        SerialCase{"SixtyFour", std::string(64, 'S'), Units(std::string(64, 'S'), true)},
        SerialCase{"SixtyFive", std::string(65, 'S'), Units(std::string(65, 'S'), false)},
        SerialCase{"Seventy", Serial70.substr(0, 70), Units(Serial70.substr(0, 65), false)},
        // Characters above 0x7F are widened without their sign.
        SerialCase{"HighCharacters", "\xE9t\xFF", {0x00E9, 't', 0x00FF, 0}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

class SmbiosUuidTest : public DriverTest {
protected:
  Bytes Structure(UINT16 Handle) { return Blade.Smbios.Structure(Handle).value(); }
};

TEST_F(SmbiosUuidTest, UuidIsCopiedInTheOrderGivenAndTheRestKept) {
  const Bytes Before = Structure(sim::SystemInfoHandle);
  EXPECT_EQ(SetSmbiosSystemUuid(StoredOrder.data(), 16), EFI_SUCCESS);
  Bytes Expected = Before;
  std::copy(StoredOrder.begin(), StoredOrder.end(), Expected.begin() + 8);
  EXPECT_EQ(Structure(sim::SystemInfoHandle), Expected);
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
}

TEST_F(SmbiosUuidTest, StructureIsUpdatedUnderItsOwnHandle) {
  Blade.Smbios.RemoveAll();
  const UINT8 Zero[16] = {};
  Blade.Smbios.SetStructure(0x0042, sim::SystemInformationStructure(0x0042, Zero));
  EXPECT_EQ(SetSmbiosSystemUuid(StoredOrder.data(), 16), EFI_SUCCESS);
  EXPECT_EQ(Blade.Smbios.SystemUuid(), StoredOrder);
  EXPECT_EQ(Blade.Smbios.UpdateCalls(), 1u);
}

struct SmbiosFailure {
  const char* Name;
  void (*Arrange)(sim::Blade&);
  EFI_STATUS Status;
};

class SmbiosFailureTest : public SmbiosUuidTest,
                          public ::testing::WithParamInterface<SmbiosFailure> {};

TEST_P(SmbiosFailureTest, StatusIsReturnedAndTheCopyFreed) {
  GetParam().Arrange(Blade);
  const Bytes Before = Blade.Smbios.SystemUuid();
  EXPECT_EQ(SetSmbiosSystemUuid(StoredOrder.data(), 16), GetParam().Status);
  EXPECT_EQ(Blade.Smbios.SystemUuid(), Before);
  EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SmbiosFailureTest,
    ::testing::Values(SmbiosFailure{"GetFails",
                                    [](sim::Blade& B) { B.Smbios.FailGet(EFI_DEVICE_ERROR); },
                                    EFI_DEVICE_ERROR},
                      SmbiosFailure{"NoSystemInformation",
                                    [](sim::Blade& B) { B.Smbios.RemoveAll(); }, EFI_NOT_FOUND},
                      SmbiosFailure{"NoPoolForTheCopy",
                                    [](sim::Blade& B) { B.Firmware.Pool.FailAllocation(1); },
                                    EFI_OUT_OF_RESOURCES},
                      SmbiosFailure{"UpdateFails",
                                    [](sim::Blade& B) { B.Smbios.FailUpdate(EFI_WRITE_PROTECTED); },
                                    EFI_WRITE_PROTECTED}),
    [](const auto& Info) { return std::string(Info.param.Name); });

class NoSmbiosTest : public DriverTest {
protected:
  NoSmbiosTest() : DriverTest(sim::BladeOptions{true, true, true, /*InstallSmbiosEdit=*/false}) {}
};

TEST_F(NoSmbiosTest, MissingProtocolIsReturned) {
  EXPECT_EQ(SetSmbiosSystemUuid(StoredOrder.data(), 16), EFI_NOT_FOUND);
  EXPECT_EQ(Blade.Smbios.GetCalls(), 0u);
}

class BmcUuidTest : public DriverTest {};

TEST_F(BmcUuidTest, ReverseGivesTheStoredFieldBackItsTextOrder) {
  for (UINT8 Reverse : {1, 0}) {
    Blade.Bmc.ClearTrace();
    EXPECT_EQ(SendUuidToBmc(Transport(), StoredOrder.data(), 16, Reverse), EFI_SUCCESS);
    ASSERT_EQ(Blade.Bmc.Trace().size(), 1u);
    const sim::IpmiRequest& R = Blade.Bmc.Trace()[0];
    EXPECT_EQ(R.NetFn, 0x30);
    EXPECT_EQ(R.Lun, 0);
    EXPECT_EQ(R.Cmd, 0x41);
    EXPECT_EQ(R.Data, Reverse == 1 ? TextOrder : StoredOrder) << "reverse " << int(Reverse);
    EXPECT_EQ(R.ResponseCapacity, 1);
  }
}

TEST_F(BmcUuidTest, TransportStatusIsReturned) {
  Blade.Bmc.InjectStatus(EFI_TIMEOUT);
  EXPECT_EQ(SendUuidToBmc(Transport(), StoredOrder.data(), 16, 1), EFI_TIMEOUT);
  Blade.Bmc.InjectCompletion(0xC1);
  EXPECT_EQ(SendUuidToBmc(Transport(), StoredOrder.data(), 16, 1), EFI_DEVICE_ERROR);
}

// The command stores the UUID; SMBIOS and the BMC each get it in their own order from the field.
TEST_F(BmcUuidTest, CommandFieldSmbiosAndBmcOrders) {
  UINT32 Status = 0;
  UINT8 Flags = 0;
  auto Line = ExactText(std::string("SET B1 OEMTAL_UUID=") + UuidText);
  ASSERT_EQ(ExecutePlatformCommand(Transport(), Line.get(), &Status, &Flags), EFI_SUCCESS);
  EXPECT_EQ(Status, 0x0E00u);
  EXPECT_TRUE(Blade.Bmc.Trace().empty()); // the command itself tells nobody
  EXPECT_EQ(Blade.Smbios.UpdateCalls(), 0u);

  const Bytes Data = BladeData();
  const Bytes Field(Data.begin() + 4, Data.begin() + 20);
  EXPECT_EQ(Field, StoredOrder);
  EXPECT_EQ(SendUuidToBmc(Transport(), Field.data(), 16, 1), EFI_SUCCESS);
  EXPECT_EQ(Blade.Bmc.Trace().back().Data, TextOrder);
  EXPECT_EQ(SetSmbiosSystemUuid(Field.data(), 16), EFI_SUCCESS);
  EXPECT_EQ(Blade.Smbios.SystemUuid(), StoredOrder);
}

} // namespace
