// The default restore of an adapter's multi-function mode, through an arrival with the
// adapter-ready input low and NparRestoreMask set, and called directly for its pool failures.
#include "adapter/npar_restore.h"
#include "tests/support/adapter_blade.h"

namespace {

using namespace testing_support;

const std::vector<std::string> RestoreTexts = {"set netport1 OEMTAL_MULTIFUNCTIONMODE=NPAR",
                                               "exit"};

struct RestoreCase {
  const char* Name;
  UINT32 Mask;
  std::vector<std::pair<unsigned, sim::ClpAnswer>> Answers; // by call number
  size_t Calls;
  size_t Reports;
  bool Reset;
  std::vector<uint8_t> FruIdListAfter;
  std::vector<UINT32> MasksWritten; // NparRestoreMask of each TalBladeData write
};

class RestoreTest : public AdapterBladeTest, public ::testing::WithParamInterface<RestoreCase> {
protected:
  RestoreTest() {
    PutAdapter(6, 0x8086);
    SetAdapterReady(false);
    SetFruIdList({0x05, 0x04, 0, 0, 0, 0});
    PutMailbox(0x05, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  }
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
};

TEST_P(RestoreTest, SendsTheTwoCommandsAndClearsTheBitOnlyWhenBothAreAccepted) {
  const RestoreCase& C = GetParam();
  SetBlade32(blade::NparRestoreMask, C.Mask);
  for (const auto& [Number, Answer] : C.Answers) {
    Nic.AnswerCall(Number, Answer);
  }
  Load();
  const std::vector<uint8_t> Before = BladeData();
  const size_t Writes = BladeDataWrites();

  const sim::BootOutcome Outcome = Blade.StartAdapter(Nic, At(6));
  EXPECT_EQ(Outcome.Reset, C.Reset);
  ASSERT_EQ(Nic.Calls().size(), C.Calls);
  for (size_t I = 0; I < C.Calls; ++I) {
    EXPECT_EQ(Nic.Calls()[I].Text, RestoreTexts[I]);
    EXPECT_TRUE(Nic.Calls()[I].ThisInstalled) << "the adapter's own interface, no copy";
    EXPECT_TRUE(Nic.Calls()[I].ResponseZeroed);
  }
  EXPECT_EQ(FailureReports(), C.Reports);
  EXPECT_EQ(FruIdList(), C.FruIdListAfter);
  std::vector<UINT32> Masks;
  for (const std::vector<uint8_t>& Data : BladeDataWritten(Writes)) {
    Masks.push_back(Data[176] | Data[177] << 8 | Data[178] << 16 | Data[179] << 24);
    std::vector<uint8_t> Expected = Before;
    std::copy(Data.begin() + 176, Data.begin() + 180, Expected.begin() + 176);
    EXPECT_EQ(Data, Expected) << "only the mask changes";
  }
  EXPECT_EQ(Masks, C.MasksWritten);
  EXPECT_TRUE(OemMessages().empty()) << "no wait";
  EXPECT_EQ(Blade.Bmc.ReadFru(0x05, H + 30, 1), Bytes({0})) << "the mailbox is not locked";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreTest,
    ::testing::Values(
        RestoreCase{"OtherBitsRemain", 0x44, {}, 2, 0, false, Bytes({0, 0x04, 0, 0, 0, 0}), {0x04}},
        RestoreCase{"TheLastBitResets", 0x40, {}, 2, 0, true, Bytes({0, 0x04, 0, 0, 0, 0}), {}},
        RestoreCase{
            "ExitRefused", 0x40, {{2, {0x0E00}}}, 2, 1, false, Bytes({5, 4, 0, 0, 0, 0}), {}},
        RestoreCase{
            "FirstRefused", 0x40, {{1, {0x0501}}}, 1, 1, false, Bytes({5, 4, 0, 0, 0, 0}), {}},
        RestoreCase{"FirstFails",
                    0x40,
                    {{1, {0x0500, EFI_DEVICE_ERROR}}},
                    1,
                    0,
                    false,
                    Bytes({5, 4, 0, 0, 0, 0}),
                    {}},
        RestoreCase{"ExitFails",
                    0x40,
                    {{2, {0x0500, EFI_UNSUPPORTED}}},
                    2,
                    0,
                    false,
                    Bytes({5, 4, 0, 0, 0, 0}),
                    {}},
        RestoreCase{
            "BitOfAnotherAdapterOnly", 0x04, {}, 0, 0, false, Bytes({5, 4, 0, 0, 0, 0}), {}}),
    [](const ::testing::TestParamInfo<RestoreCase>& Info) { return std::string(Info.param.Name); });

TEST_F(RestoreTest, AFailingWriteOfTheMaskIsReported) {
  SetBlade32(blade::NparRestoreMask, 0x44);
  Load();
  Blade.Firmware.Variables.FailSet(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid,
                                   EFI_WRITE_PROTECTED, 1);
  ASSERT_TRUE(Blade.StartAdapter(Nic, At(6)).Returned);
  EXPECT_EQ(Nic.Calls().size(), 2u);
  EXPECT_EQ(FailureReports(), 1u);
  EXPECT_EQ(Blade32(blade::NparRestoreMask), 0x44u);
}

// Called directly: the buffers are taken only when there is something to send, and a buffer that
// cannot be had is a failure (the caller reports it), nothing sent.
class RestoreCallTest : public AdapterBladeTest {
protected:
  RestoreCallTest() {
    PutAdapter(6, 0x8086);
    Blade.Adapters.Start(Nic, At(6)); // the driver is not loaded: nothing runs
    Data = std::vector<uint8_t>(280, 0);
    Data[176] = 0x40;
  }
  EFI_STATUS Restore(UINTN Bus, UINTN Function) {
    return RestoreNparDefault(Nic.Record(At(6)), Data.data(), Bus, 0, Function);
  }
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  std::vector<uint8_t> Data;
};

TEST_F(RestoreCallTest, EachBufferThatCannotBeHadIsReturned) {
  for (unsigned Nth : {1u, 2u}) {
    SCOPED_TRACE(Nth);
    Blade.Firmware.Pool.FailAllocation(Nth, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Restore(0x05, 0), EFI_OUT_OF_RESOURCES);
    EXPECT_TRUE(Nic.Calls().empty());
    EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
    EXPECT_EQ(Data[176], 0x40);
  }
}

TEST_F(RestoreCallTest, NothingToDoTakesNoBuffer) {
  const uint64_t Allocations = Blade.Firmware.Pool.TotalAllocations();
  EXPECT_EQ(Restore(0x07, 0), EFI_ABORTED) << "no position on bus 7";
  Data[176] = 0x80;
  EXPECT_EQ(Restore(0x05, 0), EFI_SUCCESS) << "another position's bit";
  EXPECT_EQ(Blade.Firmware.Pool.TotalAllocations(), Allocations);
  EXPECT_TRUE(Nic.Calls().empty());
}

} // namespace
