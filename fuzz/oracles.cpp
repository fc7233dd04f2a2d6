#include "fuzz/oracles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "mailbox_format/layout.h"
#include "sim/platform_variables.h"
#include "sim/problems.h"

namespace fuzz {
namespace {

namespace mf = mailbox_format;

constexpr EFI_STATUS_CODE_VALUE FailureReport = 0xC000B3A0;
constexpr size_t ChunkMax = 16;
constexpr size_t TextCapacity = 256;
constexpr size_t ExecutionsPerCommand = 3;

FailureHandler CallerHandler = nullptr;

void ProblemIsFailure(const std::string& Message) {
  Fail("the simulated blade saw misuse: " + Message);
}

// One request of the trace with its bytes, as the BMC keeps them.
struct Sent {
  const sim::Bmc::TraceRecord& R;
  const uint8_t* Request;
  const uint8_t* Response;

  bool IsFru(UINT8 Cmd) const {
    return R.NetFn == sim::ipmi::NetFnStorage && R.Cmd == Cmd && R.RequestSize >= 3;
  }
  UINT8 Fru() const { return Request[0]; }
  UINT16 Offset() const { return static_cast<UINT16>(Request[1] | (Request[2] << 8)); }
  bool BusyAnswer() const {
    return R.Status == EFI_DEVICE_ERROR && R.CompletionCode == sim::ipmi::CompletionFruBusy;
  }
  // A Read FRU Data answer delivered whole: the count byte and that many data bytes.
  bool WholeRead(size_t Count) const {
    return IsFru(sim::ipmi::CmdReadFruData) && R.RequestSize == 4 && Request[3] == Count &&
           !EFI_ERROR(R.Status) && R.ResponseBytes == Count + 1 && Response[0] == Count;
  }
};

template <typename Visit> void ForEachRequest(const sim::Bmc& Bmc, Visit V) {
  for (const sim::Bmc::TraceRecord& R : Bmc.TraceRecords()) {
    V(Sent{R, Bmc.RequestBytes(R), Bmc.ResponseBytes(R)});
  }
}

std::string Hex(unsigned Value) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%04X", Value);
  return Text;
}

// A byte of the device as the host's reads of Offset see it; past the end the read would fail.
struct DeviceView {
  const std::vector<uint8_t>& Bytes;
  bool Has(size_t Offset, size_t Count) const { return Offset + Count <= Bytes.size(); }
  UINT16 Be16(size_t Offset) const {
    return static_cast<UINT16>((Bytes[Offset] << 8) | Bytes[Offset + 1]);
  }
};

// Requests to read one text at Offset: 16-byte chunks until the one that holds the NUL, at most
// the 256 bytes of the text area.
size_t TextChunks(const DeviceView& D, UINT16 Offset, size_t* Length) {
  for (size_t Chunk = 0; Chunk < TextCapacity / ChunkMax; ++Chunk) {
    const size_t At = static_cast<UINT16>(Offset + Chunk * ChunkMax);
    if (!D.Has(At, ChunkMax)) {
      *Length = TextCapacity; // the read fails here: the walk stops
      return Chunk + 1;
    }
    for (size_t I = 0; I < ChunkMax; ++I) {
      if (D.Bytes[At + I] == 0) {
        *Length = Chunk * ChunkMax + I;
        return Chunk + 1;
      }
    }
  }
  *Length = TextCapacity;
  return TextCapacity / ChunkMax;
}

// Requests for one command as the device holds it: each execution reads the id and the text and
// sends one more request (a power-restore request, a UUID message), then the record is read and
// written.
size_t CommandRequests(size_t TextChunks, size_t Executions) {
  return Executions * (1 + TextChunks + 1) + 2;
}

} // namespace

size_t ListRequests(const std::vector<uint8_t>* Device, bool ContentsChange, size_t List,
                    size_t Executions) {
  constexpr size_t MostCommands = mf::MailboxCommandsPerList;
  if (Device == nullptr || ContentsChange) {
    return MostCommands * CommandRequests(TextCapacity / ChunkMax, Executions);
  }
  const DeviceView D{*Device};
  size_t Header = 0;
  for (size_t K = 0; K < mf::MailboxCandidates && Header == 0; ++K) {
    const size_t H = mf::MailboxFirstOffset + mf::MailboxStride * K;
    if (D.Has(H, mf::HeaderSize) &&
        std::equal(std::begin(mf::Signature), std::end(mf::Signature), D.Bytes.begin() + H)) {
      Header = H;
    }
  }
  if (Header == 0) {
    return 0;
  }
  UINT16 Record = D.Be16(Header + mf::ListOffsetField + 2 * List);
  if (Record == 0 || D.Be16(Header + mf::ResultAreaField) == 0) {
    return 0;
  }
  size_t Requests = 0;
  for (size_t I = 0; I < MostCommands; ++I) {
    if (!D.Has(Record, 2)) {
      return Requests + 1; // the id cannot be read
    }
    if (D.Be16(Record) == mf::CommandEndId) {
      return Requests;
    }
    size_t Length = 0;
    Requests +=
        CommandRequests(TextChunks(D, static_cast<UINT16>(Record + 2), &Length), Executions);
    if (Length >= TextCapacity) {
      return Requests;
    }
    Record = static_cast<UINT16>(Record + 2 + Length + 1);
  }
  return Requests;
}

void SetFailureHandler(FailureHandler Handler) {
  CallerHandler = Handler;
}

void Fail(const std::string& What) {
  if (CallerHandler != nullptr) {
    CallerHandler(What);
  }
  std::fprintf(stderr, "\n*** oracle: %s\n\n", What.c_str());
  std::abort();
}

void Expect(bool Condition, const std::string& What) {
  if (!Condition) {
    Fail(What);
  }
}

void FailOnSimulatorProblems() {
  sim::SetProblemHandler(ProblemIsFailure);
}

BootRun RunBoot(sim::Blade& Blade, const BladeFacts& Facts) {
  BootRun Run;
  Run.Entry = Blade.LoadDriver();
  Expect(Blade.Firmware.Pool.LiveCount() == 0,
         std::to_string(Blade.Firmware.Pool.LiveCount()) + " pool buffers left after the entry");
  if (Facts.CompletionSignal && Run.Entry.Returned) {
    Run.Completion = Blade.InstallCompletionSignal();
    Expect(Blade.Firmware.Pool.LiveCount() == 0,
           std::to_string(Blade.Firmware.Pool.LiveCount()) +
               " pool buffers left after the completion signal");
  }
  return Run;
}

void CheckBootEnds(const BootRun& Run, const sim::Blade& Blade) {
  Expect(!Run.Entry.Hang, "the boot hung in DriverEntry: " + Run.Entry.HangReason);
  if (Run.Entry.Returned) {
    Expect(Run.Entry.Status == EFI_SUCCESS,
           "DriverEntry returned " + Hex(static_cast<unsigned>(Run.Entry.Status)));
  } else {
    Expect(Run.Entry.Reset, "DriverEntry neither returned nor reset the system");
    const auto& Resets = Blade.Firmware.Resets();
    Expect(Resets.size() == 1 && Resets[0].Type == EfiResetCold,
           "the boot ended without one recorded cold reset");
  }
  if (Run.Completion) {
    Expect(!Run.Completion->Hang, "the completion signal hung: " + Run.Completion->HangReason);
    Expect(Run.Completion->Returned && !Run.Completion->Reset,
           "the completion signal's notifications did not come back");
  }
}

void CheckOneFailureReport(const sim::Blade& Blade) {
  size_t Reports = 0;
  for (const sim::StatusCodeRecord& C : Blade.Platform.StatusCodes()) {
    Reports += C.Value == FailureReport ? 1 : 0;
    Expect(C.Value != FailureReport || C.Type == EFI_ERROR_CODE,
           "a failure report of the wrong type");
  }
  // The flag that tells a report went out may fail to be written or read (a warning stores or
  // delivers nothing either); then the next failure is reported again, once for each such failure.
  const sim::VariableStore& Store = Blade.Firmware.Variables;
  const sim::VariableSpec& Flag = sim::vars::CLPFailureFlag;
  size_t FlagFailures = Store.FailedReadCount(Flag.Name, Flag.Guid);
  for (const sim::VariableWrite& W : Store.Writes()) {
    FlagFailures += W.Name == Flag.Name && GuidEquals(W.Guid, Flag.Guid) && W.Result != EFI_SUCCESS;
  }
  Expect(Reports <= 1 + FlagFailures,
         std::to_string(Reports) + " failure reports in one boot, with " +
             std::to_string(FlagFailures) + " failed reads and writes of CLPFailureFlag");
}

void WritePlaces::AllowLock(UINT8 Fru, UINT16 HeaderOffset) {
  Locks_.push_back(Lock{Fru, HeaderOffset});
}

void WritePlaces::AllowResultBlock(UINT8 Fru, UINT16 ResultArea, UINT8 List) {
  Blocks_.push_back(Block{Fru, static_cast<UINT16>(mf::ResultRecordOffset(ResultArea, List, 0))});
}

// A write is allowed when any place allows it: headers and result blocks may overlap.
std::string WritePlaces::Judge(UINT8 Fru, UINT16 Offset, const std::vector<uint8_t>& Bytes) const {
  std::string Why = "not a lock byte, record or overflow marker of a mailbox the host ran";
  for (const Lock& L : Locks_) {
    if (L.Fru != Fru) {
      continue;
    }
    if (Offset == static_cast<UINT16>(L.Header + mf::LockTurnOffset)) {
      if (Bytes == std::vector<uint8_t>{1}) {
        return "";
      }
      Why = "LockTurn written other than as one 1";
    }
    if (Offset == static_cast<UINT16>(L.Header + mf::HostLockFlagOffset)) {
      if (Bytes.size() == 1 && Bytes[0] <= 1) {
        return "";
      }
      Why = "HostLockFlag written other than as one 0 or 1";
    }
  }
  for (const Block& B : Blocks_) {
    if (B.Fru != Fru) {
      continue;
    }
    const size_t Distance = static_cast<UINT16>(Offset - B.Start);
    if (Bytes.size() == mf::ResultRecordSize && Distance % mf::ResultRecordSize == 0 &&
        Distance / mf::ResultRecordSize < mf::ResultRecordsPerList) {
      return "";
    }
    if (Distance == 0 && Bytes == std::vector<uint8_t>(std::begin(mf::OverflowMarker),
                                                       std::end(mf::OverflowMarker))) {
      return "";
    }
  }
  return Why;
}

WritePlaces PlatformWritePlaces(const sim::Bmc& Bmc, bool EveryList) {
  struct Found {
    UINT8 Fru;
    UINT16 Header;
    UINT16 ResultArea = 0; // as the host last read it
  };
  WritePlaces Places;
  std::vector<Found> Headers;
  ForEachRequest(Bmc, [&](const Sent& S) {
    if (S.WholeRead(ChunkMax) &&
        std::equal(std::begin(mf::Signature), std::end(mf::Signature), S.Response + 1)) {
      Headers.push_back({S.Fru(), S.Offset()});
      Places.AllowLock(S.Fru(), S.Offset());
    }
    if (!S.WholeRead(2)) {
      return;
    }
    const UINT16 Value = static_cast<UINT16>((S.Response[1] << 8) | S.Response[2]);
    for (Found& H : Headers) {
      const UINT16 Field = static_cast<UINT16>(S.Offset() - H.Header);
      if (H.Fru != S.Fru()) {
        continue;
      }
      if (Field == mf::ResultAreaField) {
        H.ResultArea = Value;
        Places.AllowResultBlock(H.Fru, Value, 0);
      }
      const size_t List = (Field - mf::ListOffsetField) / 2;
      if (EveryList && Field >= mf::ListOffsetField && Field % 2 == 0 &&
          List < mf::MailboxCommandLists && Value != 0 && H.ResultArea != 0) {
        Places.AllowResultBlock(H.Fru, H.ResultArea, static_cast<UINT8>(List));
      }
    }
  });
  return Places;
}

void CheckHostWrites(const sim::Bmc& Bmc, const WritePlaces& Places) {
  ForEachRequest(Bmc, [&](const Sent& S) {
    if (!S.IsFru(sim::ipmi::CmdWriteFruData)) {
      return;
    }
    const std::vector<uint8_t> Bytes(S.Request + 3, S.Request + S.R.RequestSize);
    const std::string Why = Places.Judge(S.Fru(), S.Offset(), Bytes);
    Expect(Why.empty(), "request " + std::to_string(S.R.Number) + " writes " +
                            std::to_string(Bytes.size()) + " bytes at " + Hex(S.Offset()) +
                            " of FRU device " + std::to_string(S.Fru()) + ": " + Why);
  });
}

size_t PlatformRequestBound(const BladeFacts& Facts, sim::Bmc& Bmc) {
  constexpr size_t Search = SearchRequests;
  constexpr size_t Lock = LockRequests;
  constexpr size_t HeaderFields = 2; // result area and list 0
  constexpr size_t Overflow = OverflowRequests;
  constexpr size_t Release = Search + 2;
  size_t Entry = 0;
  for (UINT8 Fru : {UINT8{1}, UINT8{2}}) {
    const std::vector<uint8_t>* Device = Bmc.HasFruDevice(Fru) ? &Bmc.Fru(Fru) : nullptr;
    Entry = std::max(
        Entry, Search + Lock + HeaderFields +
                   ListRequests(Device, Facts.ContentsChange, 0, ExecutionsPerCommand) + Overflow);
  }
  return Entry + Release;
}

void CheckRequestCount(const sim::Bmc& Bmc, size_t Bound) {
  size_t Counted = 0;
  ForEachRequest(Bmc, [&](const Sent& S) { Counted += S.BusyAnswer() ? 0 : 1; });
  Expect(Counted <= Bound, std::to_string(Counted) + " requests answered other than busy; the " +
                               "mailbox accounts for " + std::to_string(Bound));
}

} // namespace fuzz
