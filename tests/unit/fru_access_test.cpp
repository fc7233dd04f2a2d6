// FRU access over IPMI: busy retries, completion codes, chunking, compare-then-write, text reads.
#include <cstring>
#include <tuple>

#include "mailbox/fru_access.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::Accesses;
using testing_support::DriverTest;
using testing_support::FruAccess;

constexpr UINT16 TextBuffer = 256; // the size of the area a command text is read into

class FruAccessTest : public DriverTest {
protected:
  FruAccessTest() { EnableFailureReports(); }
};

struct BusyCase {
  const char* Name;
  bool Write;
  int BusyAnswers;
  EFI_STATUS Expected;
  size_t Requests;
  size_t Reports;
};

class FruBusyTest : public FruAccessTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(FruBusyTest, RetriesWhileTheDeviceIsBusy) {
  const BusyCase& C = GetParam();
  Blade.Bmc.InjectCompletion(sim::ipmi::CompletionFruBusy, C.BusyAnswers);
  UINT8 Buffer[17] = {};
  EFI_STATUS Status = C.Write ? WriteFruChunk(Transport(), Stall(), 1, 0x300, 4, Buffer)
                              : ReadFruChunk(Transport(), Stall(), 1, 0x300, 4, Buffer);
  EXPECT_EQ(Status, C.Expected);
  EXPECT_EQ(Blade.Bmc.Trace().size(), C.Requests);
  // One 30 microsecond delay after every busy answer, the last one included.
  EXPECT_EQ(Blade.Firmware.Stalls(), std::vector<uint64_t>(C.BusyAnswers, 30));
  EXPECT_EQ(FailureReports(), C.Reports);
}

INSTANTIATE_TEST_SUITE_P(Chunks, FruBusyTest,
                         ::testing::Values(BusyCase{"ReadNineBusy", false, 9, EFI_SUCCESS, 10, 0},
                                           BusyCase{"ReadTenBusy", false, 10, EFI_ABORTED, 10, 1},
                                           BusyCase{"WriteNineBusy", true, 9, EFI_SUCCESS, 10, 0},
                                           BusyCase{"WriteTenBusy", true, 10, EFI_ABORTED, 10, 1},
                                           BusyCase{"ReadOneBusy", false, 1, EFI_SUCCESS, 2, 0}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

struct FailureCase {
  const char* Name;
  bool InjectCode;
  UINT8 Code;
  EFI_STATUS TransportStatus;
  EFI_STATUS Expected;
  size_t Reports;
};

class FruFailureTest : public FruAccessTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FruFailureTest, MapsAnswersToStatusAndReports) {
  const FailureCase& C = GetParam();
  for (bool Write : {false, true}) {
    if (C.InjectCode) {
      Blade.Bmc.InjectCompletion(C.Code);
    } else {
      Blade.Bmc.InjectStatus(C.TransportStatus);
    }
    UINT8 Buffer[17] = {};
    EFI_STATUS Status = Write ? WriteFruChunk(Transport(), Stall(), 1, 0x300, 4, Buffer)
                              : ReadFruChunk(Transport(), Stall(), 1, 0x300, 4, Buffer);
    EXPECT_EQ(Status, C.Expected) << (Write ? "write" : "read");
  }
  // At most one report per boot gets through, however many failures there are.
  EXPECT_EQ(FailureReports(), C.Reports);
  EXPECT_TRUE(Blade.Firmware.Stalls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FruFailureTest,
    ::testing::Values(FailureCase{"NotPresentIsSilent", true, 0xCB, 0, EFI_DEVICE_ERROR, 0},
                      FailureCase{"OtherCodeReports", true, 0xC0, 0, EFI_DEVICE_ERROR, 1},
                      FailureCase{"WriteProtectedReports", true, 0x80, 0, EFI_DEVICE_ERROR, 1},
                      FailureCase{"TransportTimeoutReports", false, 0, EFI_TIMEOUT, EFI_TIMEOUT, 1},
                      FailureCase{"TransportNoResponseReports", false, 0, EFI_NO_RESPONSE,
                                  EFI_NO_RESPONSE, 1},
                      // A device error with no byte delivered carries no completion code: it is
                      // not taken for a busy answer.
                      FailureCase{"DeviceErrorWithoutACodeReports", false, 0, EFI_DEVICE_ERROR,
                                  EFI_DEVICE_ERROR, 1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(FruAccessTest, ReadChunkReturnsCountAndData) {
  Blade.Bmc.WriteFru(1, 0x123, {0xDE, 0xAD, 0xBE, 0xEF});
  UINT8 Response[5] = {};
  ASSERT_EQ(ReadFruChunk(Transport(), Stall(), 1, 0x123, 4, Response), EFI_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Response, Response + 5),
            (std::vector<uint8_t>{4, 0xDE, 0xAD, 0xBE, 0xEF}));
  const sim::IpmiRequest& R = Blade.Bmc.Trace().at(0);
  EXPECT_EQ(R.NetFn, sim::ipmi::NetFnStorage);
  EXPECT_EQ(R.Lun, 0);
  EXPECT_EQ(R.Cmd, sim::ipmi::CmdReadFruData);
  EXPECT_EQ(R.Data, (std::vector<uint8_t>{1, 0x23, 0x01, 4}));
  EXPECT_EQ(R.ResponseCapacity, 5);
}

TEST_F(FruAccessTest, WriteChunkSendsHeadAndData) {
  const UINT8 Data[3] = {7, 8, 9};
  ASSERT_EQ(WriteFruChunk(Transport(), Stall(), 2, 0x0410, 3, Data), EFI_SUCCESS);
  const sim::IpmiRequest& R = Blade.Bmc.Trace().at(0);
  EXPECT_EQ(R.Cmd, sim::ipmi::CmdWriteFruData);
  EXPECT_EQ(R.Data, (std::vector<uint8_t>{2, 0x10, 0x04, 7, 8, 9}));
  EXPECT_EQ(R.ResponseCapacity, 1);
  EXPECT_EQ(Blade.Bmc.ReadFru(2, 0x410, 3), (std::vector<uint8_t>{7, 8, 9}));
}

TEST_F(FruAccessTest, OversizedChunksAreRefusedWithoutARequest) {
  UINT8 Buffer[32] = {};
  EXPECT_EQ(WriteFruChunk(Transport(), Stall(), 1, 0, 17, Buffer), EFI_ABORTED);
  EXPECT_EQ(ReadFruChunk(Transport(), Stall(), 1, 0, 17, Buffer), EFI_ABORTED);
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
  EXPECT_EQ(FailureReports(), 0u);
}

TEST_F(FruAccessTest, WriteOfNoBytesSendsTheHeadAlone) {
  ASSERT_EQ(WriteFruChunk(Transport(), Stall(), 1, 0x20, 0, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Blade.Bmc.Trace().at(0).Data, (std::vector<uint8_t>{1, 0x20, 0x00}));
}

struct ChunkingCase {
  UINT16 Offset;
  UINT8 Count;
  std::vector<FruAccess> Reads;
};

class FruChunkingTest : public FruAccessTest, public ::testing::WithParamInterface<ChunkingCase> {};

TEST_P(FruChunkingTest, ReadsInRequestsOfAtMostSixteen) {
  const ChunkingCase& C = GetParam();
  Blade.Bmc.AddFruDevice(3, 65536);
  std::vector<uint8_t> Pattern(65536);
  for (size_t I = 0; I < Pattern.size(); ++I) {
    Pattern[I] = static_cast<uint8_t>(I * 7 + 3);
  }
  Blade.Bmc.WriteFru(3, 0, Pattern);
  std::vector<UINT8> Destination(C.Count + 1, 0xAA);
  ASSERT_EQ(ReadFruBytes(Transport(), Stall(), 3, C.Offset, C.Count, Destination.data()),
            EFI_SUCCESS);
  EXPECT_EQ(Accesses(FruReads()), C.Reads);
  for (size_t I = 0; I < C.Count; ++I) {
    EXPECT_EQ(Destination[I], Pattern[static_cast<UINT16>(C.Offset + I)]) << I;
  }
  EXPECT_EQ(Destination[C.Count], 0xAA) << "nothing written past the count";
}

INSTANTIATE_TEST_SUITE_P(
    Counts, FruChunkingTest,
    ::testing::Values(ChunkingCase{0x200, 0, {}}, ChunkingCase{0x200, 1, {{3, 0x200, 1}}},
                      ChunkingCase{0x200, 16, {{3, 0x200, 16}}},
                      ChunkingCase{0x200, 17, {{3, 0x200, 16}, {3, 0x210, 1}}},
                      ChunkingCase{0x200, 40, {{3, 0x200, 16}, {3, 0x210, 16}, {3, 0x220, 8}}},
                      // The offset is 16 bits: a transfer that runs past 0xFFFF wraps to 0.
                      ChunkingCase{0xFFF0, 20, {{3, 0xFFF0, 16}, {3, 0x0000, 4}}}));

TEST_F(FruAccessTest, ShortAnswerAtTheEndOfTheDeviceFails) {
  Blade.Bmc.AddFruDevice(4, 256);
  UINT8 Destination[16];
  EXPECT_EQ(ReadFruBytes(Transport(), Stall(), 4, 248, 16, Destination), EFI_ABORTED);
  EXPECT_EQ(FailureReports(), 1u);
}

enum class FruOperation { ReadChunk, ReadBytes, UpdateBytes, ReadText };

class FruFaultyAnswerTest
    : public FruAccessTest,
      public ::testing::WithParamInterface<std::tuple<sim::FruAnswerFault, FruOperation>> {};

std::string FaultyAnswerName(
    const ::testing::TestParamInfo<std::tuple<sim::FruAnswerFault, FruOperation>>& Info) {
  const char* Faults[] = {"ShorterThanCount", "LongerThanCount", "CountAboveRequest"};
  const char* Operations[] = {"ReadChunk", "ReadBytes", "UpdateBytes", "ReadText"};
  return std::string(Faults[static_cast<int>(std::get<0>(Info.param))]) +
         Operations[static_cast<int>(std::get<1>(Info.param))];
}

// The first answer's size and count byte disagree: whichever operation reads it fails with one
// report, sends nothing more, and passes none of the answer on.
TEST_P(FruFaultyAnswerTest, IsAShortCountAndNothingOfItIsUsed) {
  const auto [Fault, Operation] = GetParam();
  std::vector<uint8_t> Stored(20, 'T');
  Stored[18] = 0; // a text of 18 characters
  Blade.Bmc.WriteFru(1, 0x300, Stored);
  Blade.Bmc.InjectFruAnswerFault(Fault);
  std::vector<UINT8> Destination(300, 0xAA);
  const std::vector<UINT8> Untouched = Destination;
  const std::vector<UINT8> Source(20, 0x55);
  UINT16 Length = 0x7777;
  EFI_STATUS Status = EFI_SUCCESS;
  switch (Operation) {
  case FruOperation::ReadChunk:
    Status = ReadFruChunk(Transport(), Stall(), 1, 0x300, 16, Destination.data());
    break;
  case FruOperation::ReadBytes:
    Status = ReadFruBytes(Transport(), Stall(), 1, 0x300, 20, Destination.data());
    EXPECT_EQ(Destination, Untouched);
    break;
  case FruOperation::UpdateBytes:
    Status = UpdateFruBytes(Transport(), Stall(), 1, 0x300, 20, Source.data());
    EXPECT_TRUE(FruWrites().empty());
    EXPECT_EQ(Blade.Bmc.ReadFru(1, 0x300, 20), Stored);
    break;
  case FruOperation::ReadText:
    Status = ReadFruText(Transport(), Stall(), 1, 0x300, &Length, Destination.data(), 256);
    EXPECT_EQ(Destination, Untouched);
    EXPECT_EQ(Length, 0x7777);
    break;
  }
  EXPECT_EQ(Status, EFI_ABORTED);
  EXPECT_EQ(FruReads().size(), 1u);
  EXPECT_EQ(FailureReports(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FruFaultyAnswerTest,
    ::testing::Combine(::testing::Values(sim::FruAnswerFault::ShorterThanCount,
                                         sim::FruAnswerFault::LongerThanCount,
                                         sim::FruAnswerFault::CountAboveRequest),
                       ::testing::Values(FruOperation::ReadChunk, FruOperation::ReadBytes,
                                         FruOperation::UpdateBytes, FruOperation::ReadText)),
    FaultyAnswerName);

TEST_F(FruAccessTest, MultiChunkReadStopsAtTheFirstFailure) {
  Blade.Bmc.InjectCompletion(0xC3, 1, sim::RequestMatch{{}, {}, {}, UINT16{0x210}});
  UINT8 Destination[40];
  EXPECT_EQ(ReadFruBytes(Transport(), Stall(), 1, 0x200, 40, Destination), EFI_DEVICE_ERROR);
  EXPECT_EQ(Accesses(FruReads()), (std::vector<FruAccess>{{1, 0x200, 16}, {1, 0x210, 16}}));
}

TEST_F(FruAccessTest, UpdateOfABytePresentAlreadyOnlyReads) {
  Blade.Bmc.WriteFru(1, 0x240, {0x5A});
  const UINT8 Value = 0x5A;
  ASSERT_EQ(UpdateFruBytes(Transport(), Stall(), 1, 0x240, 1, &Value), EFI_SUCCESS);
  EXPECT_EQ(Accesses(FruReads()), (std::vector<FruAccess>{{1, 0x240, 1}}));
  EXPECT_TRUE(FruWrites().empty());
}

TEST_F(FruAccessTest, UpdateWritesOnlyTheChunkThatDiffers) {
  std::vector<uint8_t> Current(20);
  for (size_t I = 0; I < Current.size(); ++I) {
    Current[I] = static_cast<uint8_t>(I);
  }
  Blade.Bmc.WriteFru(1, 0x300, Current);
  std::vector<uint8_t> Wanted = Current;
  Wanted[18] = 0xEE;
  ASSERT_EQ(UpdateFruBytes(Transport(), Stall(), 1, 0x300, 20, Wanted.data()), EFI_SUCCESS);
  EXPECT_EQ(Accesses(FruReads()), (std::vector<FruAccess>{{1, 0x300, 16}, {1, 0x310, 4}}));
  EXPECT_EQ(Accesses(FruWrites()), (std::vector<FruAccess>{{1, 0x310, 4}}));
  EXPECT_EQ(Blade.Bmc.ReadFru(1, 0x300, 20), Wanted);
}

TEST_F(FruAccessTest, UpdateStopsWhenAWriteFails) {
  Blade.Bmc.InjectCompletion(0x80, 1, sim::RequestMatch{{}, sim::ipmi::CmdWriteFruData, {}, {}});
  std::vector<uint8_t> Wanted(32, 0x11);
  EXPECT_EQ(UpdateFruBytes(Transport(), Stall(), 1, 0x300, 32, Wanted.data()), EFI_DEVICE_ERROR);
  EXPECT_EQ(FruWrites().size(), 1u);
  EXPECT_EQ(Blade.Bmc.ReadFru(1, 0x310, 16), std::vector<uint8_t>(16, 0))
      << "later chunk untouched";
}

struct TextCase {
  size_t Characters;
  UINT16 ExpectedLength;
  size_t Requests;
};

class FruTextTest : public FruAccessTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(FruTextTest, ReadsUpToAndIncludingTheNul) {
  const TextCase& C = GetParam();
  std::string Text(C.Characters, 'x');
  for (size_t I = 0; I < Text.size(); ++I) {
    Text[I] = static_cast<char>('A' + I % 26);
  }
  std::vector<uint8_t> Bytes(Text.begin(), Text.end());
  Bytes.push_back(0);
  Bytes.insert(Bytes.end(), 40, 'z'); // what follows the NUL in the device
  Blade.Bmc.WriteFru(1, 0x400, Bytes);

  std::vector<UINT8> Destination(TextBuffer + 8, 0xAA);
  UINT16 Length = 0;
  ASSERT_EQ(ReadFruText(Transport(), Stall(), 1, 0x400, &Length, Destination.data(), TextBuffer),
            EFI_SUCCESS);
  EXPECT_EQ(Length, C.ExpectedLength);
  EXPECT_EQ(FruReads().size(), C.Requests);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Destination.data())), Text);
  EXPECT_EQ(Destination[C.Characters + 1], 0xAA) << "bytes after the NUL are not copied";
}

INSTANTIATE_TEST_SUITE_P(Lengths, FruTextTest,
                         ::testing::Values(TextCase{0, 1, 1}, TextCase{3, 4, 1},
                                           TextCase{15, 16, 1}, TextCase{16, 17, 2},
                                           TextCase{17, 18, 2}, TextCase{31, 32, 2},
                                           TextCase{32, 33, 3}, TextCase{255, 256, 16}));

TEST_F(FruAccessTest, TextWithoutNulWithinTheBufferIsRefused) {
  Blade.Bmc.AddFruDevice(5, 4096, 'A');
  std::vector<UINT8> Destination(TextBuffer + 16, 0xAA);
  UINT16 Length = 0x7777;
  EXPECT_EQ(ReadFruText(Transport(), Stall(), 5, 0x200, &Length, Destination.data(), TextBuffer),
            EFI_ABORTED);
  EXPECT_EQ(Accesses(FruReads()).size(), 16u) << "no more than the buffer holds is read";
  EXPECT_EQ(Accesses(FruReads()).back(), (FruAccess{5, 0x2F0, 16}));
  for (size_t I = TextBuffer; I < Destination.size(); ++I) {
    ASSERT_EQ(Destination[I], 0xAA) << "written past the buffer at " << I;
  }
  EXPECT_EQ(Destination[TextBuffer - 1], 0) << "left terminated";
  EXPECT_EQ(Length, 0x7777) << "no length for a refused text";
  EXPECT_EQ(FailureReports(), 1u);
}

TEST_F(FruAccessTest, TextCapacityNeedNotBeAMultipleOfSixteen) {
  Blade.Bmc.AddFruDevice(5, 4096, 'A');
  UINT8 Destination[24];
  std::memset(Destination, 0xAA, sizeof(Destination));
  UINT16 Length = 0;
  EXPECT_EQ(ReadFruText(Transport(), Stall(), 5, 0x200, &Length, Destination, 20), EFI_ABORTED);
  EXPECT_EQ(Accesses(FruReads()), (std::vector<FruAccess>{{5, 0x200, 16}, {5, 0x210, 4}}));
  EXPECT_EQ(Destination[20], 0xAA);
}

TEST_F(FruAccessTest, TextRunningIntoTheEndOfTheDeviceFails) {
  Blade.Bmc.AddFruDevice(4, 256, 'B');
  UINT8 Destination[TextBuffer];
  UINT16 Length = 0;
  EXPECT_EQ(ReadFruText(Transport(), Stall(), 4, 248, &Length, Destination, TextBuffer),
            EFI_ABORTED);
  EXPECT_EQ(FruReads().size(), 1u);
  EXPECT_EQ(FailureReports(), 1u);
}

} // namespace
