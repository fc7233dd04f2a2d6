// The shared operations on the platform variables.
#include "core/variables.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

class FruIdListTest : public DriverTest {
protected:
  void SetList(std::vector<uint8_t> List) {
    Blade.Firmware.Variables.Create(sim::vars::ClpCommandFruIdList.Name,
                                    sim::vars::ClpCommandFruIdList.Guid,
                                    sim::vars::ClpCommandFruIdList.Attributes, std::move(List));
  }
  std::vector<uint8_t> List() {
    return Blade.Firmware.Variables
        .Value(sim::vars::ClpCommandFruIdList.Name, sim::vars::ClpCommandFruIdList.Guid)
        .value();
  }
  size_t Writes() {
    return Blade.Firmware.Variables.WriteCount(sim::vars::ClpCommandFruIdList.Name,
                                               sim::vars::ClpCommandFruIdList.Guid);
  }
};

struct ClearCase {
  const char* Name;
  std::vector<uint8_t> Before;
  UINT8 FruId;
  std::vector<uint8_t> After;
  size_t Writes;
};

class ClearPendingTest : public FruIdListTest, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(ClearPendingTest, ClearsEveryMatchingEntry) {
  const ClearCase& C = GetParam();
  SetList(C.Before);
  ClearPendingFruId(C.FruId);
  EXPECT_EQ(List(), C.After);
  EXPECT_EQ(Writes(), C.Writes);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ClearPendingTest,
    ::testing::Values(ClearCase{"Duplicates", {3, 5, 3, 0, 0, 3}, 3, {0, 5, 0, 0, 0, 0}, 1},
                      ClearCase{"NotListed", {3, 5, 0, 0, 0, 0}, 9, {3, 5, 0, 0, 0, 0}, 0},
                      // Id 0 matches every free entry: the list is rewritten unchanged.
                      ClearCase{
                          "ZeroWithFreeEntries", {3, 0, 0, 0, 0, 0}, 0, {3, 0, 0, 0, 0, 0}, 1},
                      ClearCase{"ZeroWithFullList", {1, 2, 3, 4, 5, 6}, 0, {1, 2, 3, 4, 5, 6}, 0},
                      ClearCase{"LastEntry", {0, 0, 0, 0, 0, 7}, 7, {0, 0, 0, 0, 0, 0}, 1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(FruIdListTest, ClearWritesWithVolatileAttributesAndFullSize) {
  SetList({4, 0, 0, 0, 0, 0});
  ClearPendingFruId(4);
  const sim::VariableWrite& W = Blade.Firmware.Variables.Writes().back();
  EXPECT_EQ(W.Attributes, 6u);
  EXPECT_EQ(W.Data.size(), 6u);
}

TEST_F(FruIdListTest, ClearDoesNothingWhenTheListCannotBeRead) {
  Blade.Firmware.Variables.Delete(sim::vars::ClpCommandFruIdList.Name,
                                  sim::vars::ClpCommandFruIdList.Guid);
  ClearPendingFruId(4);
  EXPECT_FALSE(Blade.Firmware.Variables.Exists(sim::vars::ClpCommandFruIdList.Name,
                                               sim::vars::ClpCommandFruIdList.Guid));

  // A list longer than six bytes does not fit the buffer and is left alone.
  SetList({4, 4, 4, 4, 4, 4, 4});
  ClearPendingFruId(4);
  EXPECT_EQ(List(), (std::vector<uint8_t>{4, 4, 4, 4, 4, 4, 4}));
  EXPECT_EQ(Writes(), 0u);
}

struct FindCase {
  const char* Name;
  std::optional<std::vector<uint8_t>> List;
  EFI_STATUS Expected;
  UINT8 FruId;
};

class FindPendingTest : public FruIdListTest, public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindPendingTest, ReportsTheFirstListedId) {
  const FindCase& C = GetParam();
  if (C.List) {
    SetList(*C.List);
  } else {
    Blade.Firmware.Variables.Delete(sim::vars::ClpCommandFruIdList.Name,
                                    sim::vars::ClpCommandFruIdList.Guid);
  }
  UINT8 FruId = 0xEE;
  EXPECT_EQ(FindPendingFruId(&FruId), C.Expected);
  EXPECT_EQ(FruId, C.FruId);
  EXPECT_EQ(Writes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, FindPendingTest,
    ::testing::Values(FindCase{"FirstNonzero", std::vector<uint8_t>{0, 0, 5, 0, 7, 0}, EFI_ABORTED,
                               5},
                      FindCase{"AllFree", std::vector<uint8_t>(6, 0), EFI_SUCCESS, 0xEE},
                      FindCase{"LastEntry", std::vector<uint8_t>{0, 0, 0, 0, 0, 2}, EFI_ABORTED, 2},
                      FindCase{"Absent", std::nullopt, EFI_NOT_FOUND, 0xEE},
                      FindCase{"TooLarge", std::vector<uint8_t>(7, 0), EFI_BUFFER_TOO_SMALL, 0xEE}),
    [](const auto& Info) { return std::string(Info.param.Name); });

class BladeDataByteTest : public DriverTest {
protected:
  BladeDataByteTest() {
    for (size_t I = 0; I < Before.size(); ++I) {
      Before[I] = static_cast<uint8_t>(0x40 + I);
    }
    Blade.Firmware.Variables.Create(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                    sim::vars::TalBladeData.Attributes, Before);
  }
  size_t Writes() {
    return Blade.Firmware.Variables.WriteCount(sim::vars::TalBladeData.Name,
                                               sim::vars::TalBladeData.Guid);
  }
  std::vector<uint8_t> Before = std::vector<uint8_t>(280);
};

TEST_F(BladeDataByteTest, StoresIntoOneOfTheFirstFourBytes) {
  for (UINT8 Index = 1; Index <= 4; ++Index) {
    ASSERT_EQ(SetBladeDataByte(Index, 0x90 + Index), EFI_SUCCESS);
    std::vector<uint8_t> Expected = Before;
    Expected[Index - 1] = 0x90 + Index;
    EXPECT_EQ(BladeData(), Expected) << "index " << int(Index);
    Before = Expected;
  }
  EXPECT_EQ(Blade.Firmware.Variables.Writes().back().Attributes, 6u);
  EXPECT_EQ(Blade.Firmware.Variables.Writes().back().Data.size(), 280u);
}

TEST_F(BladeDataByteTest, OtherIndexesRewriteTheVariableUnchanged) {
  for (UINT8 Index : {0, 5, 255}) {
    ASSERT_EQ(SetBladeDataByte(Index, 0x77), EFI_SUCCESS);
  }
  EXPECT_EQ(BladeData(), Before);
  EXPECT_EQ(Writes(), 3u);
}

TEST_F(BladeDataByteTest, FailuresComeBackUnchanged) {
  Blade.Firmware.Variables.FailSet(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                   EFI_WRITE_PROTECTED, 1);
  EXPECT_EQ(SetBladeDataByte(4, 8), EFI_WRITE_PROTECTED);
  EXPECT_EQ(SetBladeDataByte(5, 8), EFI_SUCCESS);

  Blade.Firmware.Variables.FailGet(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                   EFI_DEVICE_ERROR, 1);
  const size_t WritesBefore = Writes();
  EXPECT_EQ(SetBladeDataByte(4, 8), EFI_DEVICE_ERROR);
  EXPECT_EQ(Writes(), WritesBefore) << "nothing is written after a failed read";

  Blade.Firmware.Pool.FailAllocation(1);
  EXPECT_EQ(SetBladeDataByte(4, 8), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Writes(), WritesBefore);

  // A pool that answers with a warning and no buffer has none to give either.
  const EFI_STATUS Warning = 1;
  Blade.Firmware.Pool.FailAllocation(1, Warning);
  EXPECT_EQ(SetBladeDataByte(4, 8), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Writes(), WritesBefore);
}

TEST_F(BladeDataByteTest, OversizedVariableIsNotRead) {
  Blade.Firmware.Variables.Create(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                  sim::vars::TalBladeData.Attributes, std::vector<uint8_t>(300, 1));
  EXPECT_EQ(SetBladeDataByte(4, 8), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Writes(), 0u);
}

TEST_F(BladeDataByteTest, MissingVariableIsNotCreated) {
  Blade.Firmware.Variables.Delete(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid);
  EXPECT_EQ(SetBladeDataByte(4, 8), EFI_NOT_FOUND);
  EXPECT_FALSE(
      Blade.Firmware.Variables.Exists(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid));
}

} // namespace
