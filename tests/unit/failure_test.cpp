// Failure reporting: once per boot, only while ClpFailurePause is set.
#include "core/failure.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

class FailureReportTest : public DriverTest {
protected:
  std::optional<std::vector<uint8_t>> Flag() {
    return Blade.Firmware.Variables.Value(sim::vars::CLPFailureFlag.Name,
                                          sim::vars::CLPFailureFlag.Guid);
  }
};

TEST_F(FailureReportTest, OnlyTheFirstFailureOfABootIsReported) {
  EnableFailureReports();
  ReportClpFailure();
  ReportClpFailure();
  ReportClpFailure();
  ASSERT_EQ(Blade.Platform.StatusCodes().size(), 1u);
  const sim::StatusCodeRecord& R = Blade.Platform.StatusCodes()[0];
  EXPECT_EQ(R.Type, EFI_ERROR_CODE);
  EXPECT_EQ(R.Value, 0xC000B3A0u);
  EXPECT_EQ(R.Instance, 0u);
  EXPECT_FALSE(R.HasCallerId);
  EXPECT_FALSE(R.HasData);
  EXPECT_EQ(Flag(), std::vector<uint8_t>{1});
  EXPECT_EQ(Blade.Firmware.Variables.Attributes(sim::vars::CLPFailureFlag.Name,
                                                sim::vars::CLPFailureFlag.Guid),
            6u);
}

TEST_F(FailureReportTest, NothingWhilePauseIsOffAndTheBootKeepsItsReport) {
  ReportClpFailure();
  EXPECT_TRUE(Blade.Platform.StatusCodes().empty());
  EXPECT_FALSE(Flag().has_value());
  // Switched on later in the same boot: the next failure still gets through.
  EnableFailureReports();
  ReportClpFailure();
  EXPECT_EQ(FailureReports(), 1u);
}

TEST_F(FailureReportTest, FlagPresentWithZeroStillReports) {
  EnableFailureReports();
  Blade.Firmware.Variables.Create(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid, 6,
                                  {0});
  ReportClpFailure();
  EXPECT_EQ(FailureReports(), 1u);
}

TEST_F(FailureReportTest, UnreadableFlagCountsAsNotReported) {
  EnableFailureReports();
  Blade.Firmware.Variables.Create(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid, 6,
                                  {1});
  Blade.Firmware.Variables.FailGet(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid,
                                   EFI_DEVICE_ERROR, 1);
  ReportClpFailure();
  EXPECT_EQ(FailureReports(), 1u);
}

TEST_F(FailureReportTest, MissingBladeDataReportsNothing) {
  Blade.Firmware.Variables.Delete(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid);
  ReportClpFailure();
  EXPECT_TRUE(Blade.Platform.StatusCodes().empty());
  EXPECT_FALSE(Flag().has_value());
}

TEST_F(FailureReportTest, FailedFlagWriteLetsTheNextFailureThrough) {
  EnableFailureReports();
  Blade.Firmware.Variables.FailSet(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid,
                                   EFI_OUT_OF_RESOURCES, 1);
  ReportClpFailure();
  ReportClpFailure();
  ReportClpFailure();
  EXPECT_EQ(FailureReports(), 2u);
}

TEST_F(FailureReportTest, CallerArgumentsArePassedOn) {
  EnableFailureReports();
  EFI_GUID Caller = sim::vars::TalBladeDataGuid;
  ReportClpFailure(EFI_ERROR_CODE | 0x80000000u, 0x12345678, 3, &Caller, nullptr);
  ASSERT_EQ(Blade.Platform.StatusCodes().size(), 1u);
  EXPECT_EQ(Blade.Platform.StatusCodes()[0].Type, 0x80000002u);
  EXPECT_EQ(Blade.Platform.StatusCodes()[0].Value, 0x12345678u);
  EXPECT_EQ(Blade.Platform.StatusCodes()[0].Instance, 3u);
  EXPECT_TRUE(Blade.Platform.StatusCodes()[0].HasCallerId);
}

TEST_F(FailureReportTest, StatusCodeProtocolIsLocatedOnceAndKept) {
  for (int I = 0; I < 3; ++I) {
    EXPECT_EQ(SendStatusCode(EFI_ERROR_CODE, 0xC000B3A1, 0, nullptr, nullptr), EFI_SUCCESS);
  }
  EXPECT_EQ(Blade.Platform.StatusCodes().size(), 3u);
  size_t Locates = 0;
  for (const sim::ServiceCall& C : Blade.Firmware.Calls()) {
    Locates +=
        C.Service == "LocateProtocol" && GuidEquals(C.Guid, EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID);
  }
  EXPECT_EQ(Locates, 1u);
  // The plain emission is not gated and uses up nothing.
  EXPECT_FALSE(Flag().has_value());
}

class NoStatusCodeProtocolTest : public DriverTest {
protected:
  NoStatusCodeProtocolTest() : DriverTest(Options()) {}
  static sim::BladeOptions Options() {
    sim::BladeOptions O;
    O.InstallStatusCode = false;
    return O;
  }
};

TEST_F(NoStatusCodeProtocolTest, ReportStillUsesUpTheBootsReport) {
  EnableFailureReports();
  EXPECT_EQ(SendStatusCode(EFI_ERROR_CODE, 0xC000B3A0, 0, nullptr, nullptr), EFI_NOT_FOUND);
  ReportClpFailure();
  EXPECT_TRUE(Blade.Platform.StatusCodes().empty());
  EXPECT_EQ(Blade.Firmware.Variables.Value(sim::vars::CLPFailureFlag.Name,
                                           sim::vars::CLPFailureFlag.Guid),
            std::vector<uint8_t>{1});
  // Located later, it is found then: a failed location is not remembered.
  Blade.InstallProtocol(EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID, Blade.Platform.StatusCode());
  EXPECT_EQ(SendStatusCode(EFI_ERROR_CODE, 0xC000B3A1, 0, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Blade.Platform.StatusCodes().size(), 1u);
}

} // namespace
