#include "firmware/runner/report.h"

#include <sstream>

namespace fw {
namespace {

std::vector<std::string> Split(const std::string& Line) {
  std::istringstream In(Line);
  std::vector<std::string> Words;
  for (std::string W; In >> W;) {
    Words.push_back(W);
  }
  return Words;
}

bool ParseUnsigned(const std::string& Text, int Base, uint64_t* Value) {
  if (Text.empty() || Text.size() > (Base == 16 ? 16u : 20u)) {
    return false;
  }
  size_t Used = 0;
  try {
    *Value = std::stoull(Text, &Used, Base);
  } catch (const std::exception&) {
    return false;
  }
  return Used == Text.size() && Text[0] != '-' && Text[0] != '+';
}

bool ParseBytes(const std::string& Text, std::vector<uint8_t>* Bytes) {
  Bytes->clear();
  if (Text == "-") {
    return true;
  }
  if (Text.size() % 2 != 0) {
    return false;
  }
  for (size_t I = 0; I < Text.size(); I += 2) {
    uint64_t Byte = 0;
    if (!ParseUnsigned(Text.substr(I, 2), 16, &Byte)) {
      return false;
    }
    Bytes->push_back(static_cast<uint8_t>(Byte));
  }
  return true;
}

bool ParseFlag(const std::string& Text, bool* Value) {
  if (Text != "0" && Text != "1") {
    return false;
  }
  *Value = Text == "1";
  return true;
}

class Reader {
public:
  explicit Reader(Report& R) : R_(R) {}

  void Line(const std::string& Text, size_t Number) {
    const std::vector<std::string> W = Split(Text);
    if (W.empty()) {
      return Problem(Number, "empty line");
    }
    if (R_.Ended) {
      return Problem(Number, "line after the end");
    }
    const bool Read = Dispatch(W, Number);
    if (!Read) {
      Problem(Number, "unreadable: " + Text);
    }
    ++Lines_;
  }

  void Finish() {
    if (!R_.Began) {
      R_.Problems.push_back("no begin line: the harness never ran");
    }
    if (!R_.Ended) {
      R_.Problems.push_back("no end line: the report stops after " + std::to_string(Lines_) +
                            " lines");
    }
  }

private:
  void Problem(size_t Number, const std::string& What) {
    R_.Problems.push_back("line " + std::to_string(Number) + ": " + What);
  }

  bool Dispatch(const std::vector<std::string>& W, size_t Number) {
    const std::string& Verb = W[0];
    if (Verb == "begin") {
      R_.Began = W.size() == 1;
      return R_.Began;
    }
    if (Verb == "end") {
      uint64_t Count = 0;
      if (W.size() != 2 || !ParseUnsigned(W[1], 10, &Count)) {
        return false;
      }
      if (Count != Lines_) {
        Problem(Number, "the end line counts " + std::to_string(Count) + " lines, " +
                            std::to_string(Lines_) + " arrived");
      }
      R_.Ended = true;
      return true;
    }
    if (Verb == "start") {
      R_.Started.push_back(W.size() == 2 ? W[1] : "");
      return W.size() == 2;
    }
    if (Verb == "load") {
      return LoadLineOf(W);
    }
    if (Verb == "completion") {
      uint64_t S = 0;
      if (W.size() != 2 || !ParseUnsigned(W[1], 16, &S)) {
        return false;
      }
      R_.Completions.push_back(S);
      return true;
    }
    if (Verb == "snapshot") {
      if (W.size() != 2) {
        return false;
      }
      R_.Snapshots[W[1]];
      return true;
    }
    if (Verb == "fru" || Verb == "var") {
      return ReadBackOf(W);
    }
    if (Verb == "codes" || Verb == "code") {
      return CodeOf(W);
    }
    if (Verb == "pci") {
      return PciOf(W);
    }
    if (Verb == "smbios") {
      ReadBack B{};
      if (W.size() != 4 || !ParseUnsigned(W[2], 16, &B.Status) || !ParseBytes(W[3], &B.Bytes)) {
        return false;
      }
      R_.Smbios[W[1]] = B;
      return true;
    }
    if (Verb == "ipmi") {
      uint64_t NetFn = 0, Command = 0;
      IpmiLine L{};
      if (W.size() != 5 || W[1].size() != 2 || W[2].size() != 2 ||
          !ParseUnsigned(W[1], 16, &NetFn) || !ParseUnsigned(W[2], 16, &Command) ||
          !ParseUnsigned(W[3], 16, &L.Status) || !ParseBytes(W[4], &L.Bytes)) {
        return false;
      }
      L.NetFn = static_cast<uint8_t>(NetFn);
      L.Command = static_cast<uint8_t>(Command);
      R_.Ipmi.push_back(L);
      return true;
    }
    if (Verb == "clock") {
      ClockLine C{};
      if (W.size() != 5 || !ParseUnsigned(W[2], 10, &C.Counter) ||
          !ParseUnsigned(W[3], 10, &C.LastStartTicks) || !ParseUnsigned(W[4], 10, &C.IpmiTicks)) {
        return false;
      }
      R_.Clocks[W[1]] = C;
      return true;
    }
    if (Verb == "inputs" || Verb == "execs" || Verb == "exec" || Verb == "mpcalls" ||
        Verb == "mpcall") {
      return SnapshotLineOf(W);
    }
    if (Verb == "pciio") {
      return PciIoOf(W);
    }
    if (Verb == "connecting") {
      R_.Connecting.push_back(W.size() == 2 ? W[1] : "");
      return W.size() == 2;
    }
    if (Verb == "connect") {
      ConnectLine L{};
      bool Installed = false;
      if (W.size() != 4 || !ParseUnsigned(W[2], 16, &L.Status) || !ParseFlag(W[3], &Installed)) {
        return false;
      }
      L.Location = W[1];
      L.Installed = Installed;
      R_.Connects.push_back(L);
      return true;
    }
    if (Verb == "execute") {
      ExecuteLine L{};
      uint64_t Word = 0;
      if (W.size() != 4 || !ParseUnsigned(W[2], 16, &L.Status) || !ParseUnsigned(W[3], 16, &Word) ||
          Word > 0xFFFFFFFF) {
        return false;
      }
      L.Location = W[1];
      L.StatusWord = static_cast<uint32_t>(Word);
      R_.HarnessExecutes.push_back(L);
      return true;
    }
    if (Verb == "ready-wait") {
      uint64_t Waited = 0, Level = 0;
      if (W.size() != 3 || !ParseUnsigned(W[1], 10, &Waited) || !ParseUnsigned(W[2], 16, &Level) ||
          Level > 0xFFFFFFFF) {
        return false;
      }
      R_.ReadyWaits.emplace_back(Waited, static_cast<uint32_t>(Level));
      return true;
    }
    if (Verb == "mprun") {
      MpRunLine L{};
      if (W.size() != 5 || !ParseUnsigned(W[1], 16, &L.Status) ||
          !ParseUnsigned(W[2], 10, &L.Processors) || !ParseUnsigned(W[3], 10, &L.Enabled) ||
          !ParseUnsigned(W[4], 10, &L.Ran)) {
        return false;
      }
      R_.MpRuns.push_back(L);
      return true;
    }
    if (Verb == "reset") {
      uint64_t Type = 0, S = 0;
      if (W.size() != 3 || !ParseUnsigned(W[1], 10, &Type) || !ParseUnsigned(W[2], 16, &S)) {
        return false;
      }
      R_.Reset = ResetLine{static_cast<uint32_t>(Type), S};
      return true;
    }
    if (Verb == "error") {
      std::string Text;
      for (size_t I = 1; I < W.size(); ++I) {
        Text += (I > 1 ? " " : "") + W[I];
      }
      R_.Errors.push_back(Text);
      return true;
    }
    return false;
  }

  bool LoadLineOf(const std::vector<std::string>& W) {
    uint64_t L = 0, S = 0, Resident = 0;
    if (W.size() != 5 || !ParseUnsigned(W[2], 16, &L) || !ParseUnsigned(W[3], 16, &S) ||
        !ParseUnsigned(W[4], 10, &Resident) || Resident > 1) {
      return false;
    }
    R_.Loads.push_back(LoadLine{W[1], L, S, Resident == 1});
    return true;
  }

  // fru <tag> <fru> <offset> <status> <bytes>; var <tag> <name> <guid> <status> <bytes>
  bool ReadBackOf(const std::vector<std::string>& W) {
    const bool Fru = W[0] == "fru";
    ReadBack B{};
    if (W.size() != 6 || !ParseUnsigned(W[4], 16, &B.Status) || !ParseBytes(W[5], &B.Bytes)) {
      return false;
    }
    auto It = R_.Snapshots.find(W[1]);
    if (It == R_.Snapshots.end()) {
      return false;
    }
    if (!Fru) {
      It->second.Variables[W[2] + " " + W[3]] = B;
      return true;
    }
    uint64_t Id = 0, Offset = 0;
    if (!ParseUnsigned(W[2], 10, &Id) || !ParseUnsigned(W[3], 10, &Offset)) {
      return false;
    }
    It->second.Fru[{static_cast<int>(Id), static_cast<int>(Offset)}] = B;
    return true;
  }

  // codes <tag> <count>; code <tag> <index> <type> <value> <instance>
  bool CodeOf(const std::vector<std::string>& W) {
    if (W.size() < 3) {
      return false;
    }
    auto It = R_.Snapshots.find(W[1]);
    if (It == R_.Snapshots.end()) {
      return false;
    }
    uint64_t A = 0, B = 0, C = 0, D = 0;
    if (W[0] == "codes") {
      if (W.size() != 3 || !ParseUnsigned(W[2], 10, &A)) {
        return false;
      }
      It->second.CodesSeen = A;
      return true;
    }
    if (W.size() != 6 || !ParseUnsigned(W[2], 10, &A) || !ParseUnsigned(W[3], 16, &B) ||
        !ParseUnsigned(W[4], 16, &C) || !ParseUnsigned(W[5], 10, &D) ||
        A != It->second.Codes.size()) {
      return false;
    }
    It->second.Codes.push_back(
        CodeLine{static_cast<uint32_t>(B), static_cast<uint32_t>(C), static_cast<uint32_t>(D)});
    return true;
  }

  // The lines a snapshot holds besides its read-backs and codes.
  bool SnapshotLineOf(const std::vector<std::string>& W) {
    if (W.size() < 3) {
      return false;
    }
    auto It = R_.Snapshots.find(W[1]);
    if (It == R_.Snapshots.end()) {
      return false;
    }
    Snapshot& S = It->second;
    if (W[0] == "inputs") {
      uint64_t Ready = 0, Wait = 0;
      bool Risen = false;
      if (W.size() != 5 || !ParseUnsigned(W[2], 16, &Ready) || !ParseUnsigned(W[3], 16, &Wait) ||
          !ParseFlag(W[4], &Risen) || Ready > 0xFFFFFFFF || Wait > 0xFFFFFFFF) {
        return false;
      }
      S.Inputs = InputsLine{static_cast<uint32_t>(Ready), static_cast<uint32_t>(Wait), Risen};
      return true;
    }
    if (W[0] == "execs" || W[0] == "mpcalls") {
      uint64_t Count = 0;
      if (W.size() != 3 || !ParseUnsigned(W[2], 10, &Count)) {
        return false;
      }
      (W[0] == "execs" ? S.ExecutesSeen : S.MpCallsSeen) = Count;
      return true;
    }
    uint64_t Index = 0;
    if (!ParseUnsigned(W[2], 10, &Index)) {
      return false;
    }
    return W[0] == "exec" ? Index == S.Executes.size() && ExecOf(W, &S.Executes)
                          : Index == S.MpCalls.size() && MpCallOf(W, &S.MpCalls);
  }

  // exec <tag> <index> <location> <location status> <own> <zero-filled> <zeroed> <returned>
  //      <status word> <text>
  static bool ExecOf(const std::vector<std::string>& W, std::vector<ExecLine>* Out) {
    ExecLine L{};
    uint64_t Word = 0;
    std::vector<uint8_t> Text;
    if (W.size() != 11 || !ParseUnsigned(W[4], 16, &L.LocationStatus) ||
        !ParseFlag(W[5], &L.OwnRecord) || !ParseFlag(W[6], &L.CommandZeroFilled) ||
        !ParseFlag(W[7], &L.ResponseZeroed) || !ParseUnsigned(W[8], 16, &L.Returned) ||
        !ParseUnsigned(W[9], 16, &Word) || Word > 0xFFFFFFFF || !ParseBytes(W[10], &Text)) {
      return false;
    }
    L.Location = W[3];
    L.StatusWord = static_cast<uint32_t>(Word);
    L.Text.assign(Text.begin(), Text.end());
    Out->push_back(L);
    return true;
  }

  // mpcall <tag> <index> <image> <offset> <single> <timeout> <event> <argument> <list> <status>
  static bool MpCallOf(const std::vector<std::string>& W, std::vector<MpCallLine>* Out) {
    MpCallLine L{};
    uint64_t Offset = 0;
    if (W.size() != 11 || !ParseUnsigned(W[4], 16, &Offset) || Offset > 0xFFFFFFFF ||
        !ParseFlag(W[5], &L.SingleThread) || !ParseUnsigned(W[6], 10, &L.TimeoutInMicroSeconds) ||
        !ParseFlag(W[7], &L.WaitEvent) || !ParseFlag(W[8], &L.Argument) ||
        !ParseFlag(W[9], &L.FailedCpuList) || !ParseUnsigned(W[10], 16, &L.Status)) {
      return false;
    }
    L.Image = W[3];
    L.Offset = static_cast<uint32_t>(Offset);
    Out->push_back(L);
    return true;
  }

  // pciio <index> <segment> <bus:dev.fn> <id> <status>; index 0 starts a new listing.
  bool PciIoOf(const std::vector<std::string>& W) {
    uint64_t Index = 0, Segment = 0, Id = 0;
    PciIoLine L{};
    if (W.size() != 6 || !ParseUnsigned(W[1], 10, &Index) || !ParseUnsigned(W[2], 10, &Segment) ||
        !ParseUnsigned(W[4], 16, &Id) || Id > 0xFFFFFFFF || !ParseUnsigned(W[5], 16, &L.Status)) {
      return false;
    }
    if (Index == 0) {
      R_.PciIo.clear();
    }
    if (Index != R_.PciIo.size()) {
      return false;
    }
    L.Segment = static_cast<unsigned>(Segment);
    L.Location = W[3];
    L.Id = static_cast<uint32_t>(Id);
    R_.PciIo.push_back(L);
    return true;
  }

  // pci <bus:dev.fn> <id> <bus numbers>
  bool PciOf(const std::vector<std::string>& W) {
    uint64_t Id = 0, Buses = 0;
    if (W.size() != 4 || !ParseUnsigned(W[2], 16, &Id) || !ParseUnsigned(W[3], 16, &Buses)) {
      return false;
    }
    R_.Pci[W[1]] = PciLine{static_cast<uint32_t>(Id), static_cast<uint32_t>(Buses)};
    return true;
  }

  Report& R_;
  size_t Lines_ = 0;
};

} // namespace

const LoadLine* Report::Load(const std::string& Name) const {
  for (const LoadLine& L : Loads) {
    if (L.Path.size() >= Name.size() &&
        L.Path.compare(L.Path.size() - Name.size(), Name.size(), Name) == 0) {
      return &L;
    }
  }
  return nullptr;
}

Report ParseReport(const std::string& Text) {
  Report R;
  Reader In(R);
  std::istringstream Lines(Text);
  size_t Number = 0;
  for (std::string Line; std::getline(Lines, Line);) {
    In.Line(Line, ++Number);
  }
  In.Finish();
  return R;
}

} // namespace fw
