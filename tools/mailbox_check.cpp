#include "tools/mailbox_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "adapter/adapter_arrival.h"
#include "adapter/keyword_map.h"
#include "adapter/slot_table.h"
#include "adapter/vendors.h"
#include "core/byte_format.h"
#include "mailbox/mailbox.h"
#include "mailbox_format/hex_text.h"
#include "platform/command_status.h"
#include "platform/keyword_table.h"
#include "platform/platform_command.h"
#include "platform/text.h"
#include "tools/adapter_probe.h"
#include "tools/command_reference.h"
#include "tools/mailbox_json.h"

namespace tools {

namespace {

using mailbox_format::HexNumber;
constexpr uint32_t AddressSpace = 0x10000; // FRU offsets are 16-bit
constexpr uint32_t HeaderWithLock = sizeof(MailboxHeader) + sizeof(MailboxLock);

std::string Hex4(uint32_t Value) {
  return HexNumber(Value, 4);
}

// A command text as the host holds it: in a zero-filled buffer of the host's size.
struct TextBuffer {
  CHAR8 Bytes[CommandTextCapacity] = {};
  explicit TextBuffer(const std::string& Text) {
    std::copy_n(Text.begin(), std::min<size_t>(Text.size(), CommandTextCapacity - 1), Bytes);
  }
};

bool StartsWith(const CHAR8* Text, const CommandPrefix& Prefix) {
  UINT16 Length = 0;
  return TextStartsWith(Text, Prefix.Text, &Length) != 0;
}

// The byte ranges of the mailbox's pieces, in a 32-bit space so that a piece that wraps past
// offset 65535 shows as one reaching beyond it.
struct Piece {
  std::string Name;
  uint32_t Begin;
  uint32_t End;
};

// The host's reading rules over the device image: every request lies inside the device and inside
// the 16-bit offset space, or the host fails at it.
class DeviceReader {
public:
  explicit DeviceReader(const std::vector<uint8_t>& Bytes) : B_(Bytes) {}

  // Empty when the host can read [Offset, Offset + Count) in one request; else why not.
  std::string Problem(uint32_t Offset, uint32_t Count) const {
    if (Offset + Count > AddressSpace) {
      return "the request for " + std::to_string(Count) + " bytes at " + Hex4(Offset) +
             " runs past FRU offset 0xFFFF and wraps to 0x0000";
    }
    if (Offset + Count > B_.size()) {
      return "the request for " + std::to_string(Count) + " bytes at " + Hex4(Offset) +
             " reaches past the end of the " + std::to_string(B_.size()) + "-byte FRU device";
    }
    return "";
  }
  UINT16 Be16(uint32_t Offset) const {
    return static_cast<UINT16>(B_[Offset] << 8 | B_[Offset + 1]);
  }
  uint8_t At(uint32_t Offset) const { return B_[Offset]; }
  size_t Size() const { return B_.size(); }

private:
  const std::vector<uint8_t>& B_;
};

// One command record as the host reads it: the id, then the text in requests of 16 bytes until a
// NUL, into a buffer of 256 bytes.
struct RecordRead {
  UINT16 Id = 0;
  std::string Text;
  uint32_t Next = 0;   // where the next record starts
  std::string Problem; // why the host fails here; empty when it reads the record
  bool EndOfList = false;
};

RecordRead ReadRecord(const DeviceReader& D, uint32_t At) {
  RecordRead R;
  R.Problem = D.Problem(At, sizeof(CommandRecordHead));
  if (!R.Problem.empty()) {
    return R;
  }
  R.Id = D.Be16(At);
  if (R.Id == CommandEndId) {
    R.EndOfList = true;
    R.Next = At + sizeof(CommandRecordHead);
    return R;
  }
  const uint32_t TextStart = At + CommandTextField;
  for (uint32_t Chunk = TextStart; Chunk < TextStart + CommandTextCapacity; Chunk += FruChunkMax) {
    R.Problem = D.Problem(Chunk, FruChunkMax);
    if (!R.Problem.empty()) {
      R.Problem = "the host reads texts in requests of 16 bytes: " + R.Problem;
      return R;
    }
    for (uint32_t I = Chunk; I < Chunk + FruChunkMax; ++I) {
      if (D.At(I) == 0) {
        R.Next = I + 1;
        return R;
      }
      if (R.Text.size() < CommandTextCapacity - 1) {
        R.Text += static_cast<char>(D.At(I));
      }
    }
  }
  R.Problem = "no NUL within " + std::to_string(CommandTextCapacity) +
              " bytes: a text holds at most 255 characters, and the host refuses a longer one";
  return R;
}

std::string RowName(UINT8 Row) {
  return "row " + std::to_string(Row) + " (bridge " + BridgeName(Row) + ", function " +
         std::to_string(AdapterSlotTable[Row].Function) + ")";
}

std::string JoinRows(const std::vector<UINT8>& Rows) {
  std::string Text;
  for (UINT8 R : Rows) {
    Text += (Text.empty() ? "" : ", ") + RowName(R);
  }
  return Text;
}

// The readers of one FRU device: the platform pass (list 0 of FRU device 1 or 2) and the adapter
// runs of the AdapterSlotTable rows whose mailbox it is.
struct Readers {
  bool PlatformPass = false;
  std::vector<UINT8> Rows;
  std::vector<std::string> Said;
};

Readers FindReaders(UINT8 FruId) {
  Readers R;
  R.PlatformPass = FruId == 1 || FruId == 2;
  for (UINT8 Row = 0; Row < AdapterSlotCount; ++Row) {
    const UINT8 RowFru = AdapterSlotTable[Row].FruId;
    // A row of FRU device 1 moves to device 2 when platform information item 30 answers 1.
    if (RowFru == FruId || (FruId == 2 && RowFru == 1)) {
      R.Rows.push_back(Row);
    }
  }
  if (R.PlatformPass) {
    R.Said.push_back(std::string("the platform pass, list 0, while platform information item 30 "
                                 "answers ") +
                     (FruId == 1 ? "0" : "nonzero"));
  }
  if (!R.Rows.empty()) {
    const std::string Answer = std::to_string(AdapterMailboxInFru2Answer);
    R.Said.push_back("the adapter runs of " + JoinRows(R.Rows) + ", lists 0 to 7" +
                     (FruId == 1   ? ", while item 30 does not answer " + Answer
                      : FruId == 2 ? ", while item 30 answers " + Answer
                                   : ""));
  }
  return R;
}

// The vendor/device words tried for each adapter position: the two vendors the driver rewrites
// for, and one that stands for every other vendor.
constexpr UINT32 OtherVendor = Vendor10DF;

bool MentionsMultiFunctionMode(const std::string& Text) {
  TextBuffer Buffer(Text);
  for (size_t I = 0; Buffer.Bytes[I] != 0; ++I) {
    if (StartsWith(Buffer.Bytes + I, PrefixMultiFunctionSf) ||
        StartsWith(Buffer.Bytes + I, PrefixMultiFunctionNpar)) {
      return true;
    }
  }
  return false;
}

// Whether a text as vendor 0x8086 receives it begins its setting with a key of the
// AdapterKeywordMap, that is, whether the rewriting translated it.
bool HasVendorKey(const std::string& Sent) {
  TextBuffer Buffer(Sent);
  if (Sent.size() < CommandWordLength) {
    return false;
  }
  for (const AdapterKeyword* Row = AdapterKeywordMap; Row->Code != AdapterKeyEnd; ++Row) {
    UINT16 Length = 0;
    if (TextStartsWith(Buffer.Bytes + CommandWordLength, Row->Replacement, &Length)) {
      return true;
    }
  }
  return false;
}

// The devices of vendor 0x14E4 after whose run this command resets the system.
std::vector<UINT16> ResettingDevices(const std::string& Text, UINT8 Row) {
  std::vector<UINT16> Devices;
  if (!MentionsMultiFunctionMode(Text)) {
    return Devices;
  }
  for (uint32_t Device = 0; Device <= 0xFFFF; ++Device) {
    if (RewriteForPosition(Text, Row, Device << 16 | Vendor14E4).Reset) {
      Devices.push_back(static_cast<UINT16>(Device));
    }
  }
  return Devices;
}

class Checker {
public:
  Checker(const std::vector<uint8_t>& Device, UINT8 FruId, nlohmann::ordered_json Reference)
      : Bytes_(Device), D_(Device), Reference_(std::move(Reference)) {
    Result_.FruId = FruId;
    Result_.DeviceSize = Device.size();
    Readers_ = FindReaders(FruId);
    Result_.Readers = Readers_.Said;
  }

  MailboxCheckResult Run() {
    if (Readers_.Said.empty()) {
      Fail("no executor reads FRU device " + std::to_string(Result_.FruId) +
           ": the platform mailbox is in FRU device 1 or 2, adapter mailboxes are in the devices "
           "the AdapterSlotTable names");
    }
    if (!FindHeader()) {
      return Result_;
    }
    for (UINT8 J = 0; J < MailboxCommandLists; ++J) {
      WalkList(J);
    }
    CheckResultArea();
    CheckIds();
    return Result_;
  }

private:
  void Fail(const std::string& Text) { Result_.Findings.push_back({CheckLevel::Failure, Text}); }
  void Warn(const std::string& Text) { Result_.Findings.push_back({CheckLevel::Warning, Text}); }

  // An adapter run goes through the lists in order and stops after one that holds a 33rd command
  // or that it cannot read.
  bool AdapterRunReaches(UINT8 List) const {
    return !Readers_.Rows.empty() && (!AdapterRunEnd_ || List <= *AdapterRunEnd_);
  }

  bool ListIsRead(UINT8 List) const {
    return (List == 0 && Readers_.PlatformPass) || AdapterRunReaches(List);
  }

  bool FindHeader() {
    for (UINT8 K = 0; K < MailboxCandidates; ++K) {
      const uint32_t H = MailboxFirstOffset + MailboxStride * K;
      const std::string Problem = D_.Problem(H, sizeof(MailboxHeader));
      if (!Problem.empty()) {
        Fail("no mailbox before the search fails: " + Problem);
        return false;
      }
      if (std::equal(MailboxSignature, MailboxSignature + sizeof(MailboxSignature), &Device()[H])) {
        return CheckHeader(H);
      }
    }
    Fail("no mailbox: none of the FRU offsets 512, 768, ... 2304 holds \"$FIP\"");
    return false;
  }

  bool CheckHeader(uint32_t H) {
    MailboxHeader Header;
    std::copy_n(&Device()[H], sizeof(Header), reinterpret_cast<uint8_t*>(&Header));
    Result_.HeaderOffset = static_cast<UINT16>(H);
    if (!MailboxChecksumValid(Header)) {
      Fail("the header at " + Hex4(H) +
           " has a bad checksum: the host stops there and runs "
           "nothing");
      return false;
    }
    const std::string LockProblem = D_.Problem(H + sizeof(MailboxHeader), sizeof(MailboxLock));
    if (!LockProblem.empty()) {
      Fail("the lock bytes behind the header cannot be reached: " + LockProblem);
      return false;
    }
    Pieces_.push_back({"the header and its lock bytes", H, H + HeaderWithLock});
    Result_.ResultAreaOffset = D_.Be16(H + ResultAreaOffsetField);
    if (Result_.ResultAreaOffset == 0) {
      Fail("ResultAreaOffset is 0: the host runs no command of this mailbox");
    }
    return true;
  }

  void WalkList(UINT8 J) {
    const uint32_t Start = D_.Be16(*Result_.HeaderOffset + CommandListOffsetField(J));
    if (Start == 0) {
      return;
    }
    const std::string Name = "list " + std::to_string(J);
    if (!ListIsRead(J) && AdapterRunEnd_) {
      Warn(Name + " at " + Hex4(Start) + ": never run: the adapter runs stop at list " +
           std::to_string(*AdapterRunEnd_));
    } else if (!ListIsRead(J)) {
      Warn(Name + " at " + Hex4(Start) + ": no executor reads it in FRU device " +
           std::to_string(Result_.FruId));
    }
    uint32_t At = Start;
    for (UINT8 Index = 0;; ++Index) {
      const RecordRead R = ReadRecord(D_, At);
      const bool Runs = Index < MailboxCommandsPerList;
      if (!R.Problem.empty()) {
        if (Runs) {
          Fail(Name + ", record " + std::to_string(Index) + " at " + Hex4(At) + ": " + R.Problem +
               "; the host abandons the run here");
          StopAdapterRuns(J);
        }
        break;
      }
      if (R.EndOfList) {
        At = R.Next;
        break;
      }
      if (Index == MailboxCommandsPerList) {
        Fail(Name + " holds more than " + std::to_string(MailboxCommandsPerList) +
             " commands: from command " + std::to_string(Index) + " (id " + Hex4(R.Id) + " at " +
             Hex4(At) + ") on nothing is run, and the overflow marker goes over record 0" +
             (AdapterRunReaches(J) ? "; the adapter runs run no later list" : ""));
        StopAdapterRuns(J);
      }
      Classify(J, Index, static_cast<UINT16>(At), R, Runs);
      At = R.Next;
      if (Index == 0xFF) {
        break; // a list past any use; the walk has shown enough
      }
    }
    if (At > Start) {
      Pieces_.push_back({Name, Start, At});
    }
  }

  void Classify(UINT8 List, UINT8 Index, UINT16 Offset, const RecordRead& R, bool Runs) {
    CheckedCommand C;
    C.List = List;
    C.Index = Index;
    C.Offset = Offset;
    C.Id = R.Id;
    C.Text = R.Text;
    C.Runs = Runs && ListIsRead(List);
    if (C.Runs) {
      if (List == 0 && Readers_.PlatformPass) {
        ClassifyForPlatformPass(C);
      }
      if (!Readers_.Rows.empty()) {
        ClassifyForAdapterRuns(C);
      }
      NameTheRest(C);
    } else {
      C.Kind = "not run";
    }
    Result_.Commands.push_back(std::move(C));
  }

  const nlohmann::ordered_json& KeywordEntry(UINT8 Code) const {
    return Reference_["platform_keywords"][Code];
  }

  // The platform keyword of a line with a platform prefix, or nullptr for an unknown keyword.
  const PlatformKeyword* Keyword(const TextBuffer& Buffer, UINT16 Start, std::string* Value) {
    UINT16 Length = 0;
    const PlatformKeyword* Row = LookupPlatformKeyword(Buffer.Bytes + Start, &Length);
    if (Row->Code == KeywordEnd) {
      return nullptr;
    }
    *Value = Buffer.Bytes + Start + Length;
    return Row;
  }

  void ClassifyForPlatformPass(CheckedCommand& C) {
    TextBuffer Buffer(C.Text);
    const UINT16 Start = PlatformKeywordStart(Buffer.Bytes);
    if (Start == 0) {
      const bool ForAdapters = StartsWith(Buffer.Bytes, PrefixN);
      C.Routes.push_back({"platform pass", ForAdapters
                                               ? "left to the adapters: no result record"
                                               : "not a platform command: no result record"});
      return;
    }
    std::string Value;
    const PlatformKeyword* Row = Keyword(Buffer, Start, &Value);
    if (Row == nullptr) {
      C.Kind = "unknown platform keyword";
      C.Detail = Buffer.Bytes + Start;
      C.Routes.push_back({"platform pass", "answers ClpStatusBadKeyword"});
      C.Findings.push_back(
          {CheckLevel::Failure, "no platform keyword begins \"" + ReadableText(C.Detail) +
                                    "\": the platform pass answers BadKeyword (0xFD02) three "
                                    "times, reports a failure and ends with an error"});
      return;
    }
    const auto& Entry = KeywordEntry(Row->Code);
    C.Kind = "platform keyword";
    C.Detail = std::string(Row->Keyword) + " (code " + std::to_string(Row->Code) + ")";
    std::string Outcome = Entry["effect"].get<std::string>();
    if (!Entry["value"].is_null()) {
      Outcome += "; value \"" + ReadableText(Value) + "\"";
    }
    const bool Refusable = Entry["status"].size() > 1;
    if (Entry["gated"].get<bool>()) {
      Outcome += "; refused while platform information item 29 answers nonzero";
      C.Findings.push_back({CheckLevel::Warning, "refused (0xF502) on a platform whose "
                                                 "information item 29 answers nonzero, and then "
                                                 "reported as a failure"});
    } else if (Refusable) {
      C.Findings.push_back({CheckLevel::Failure, "always refused (0xF502): the platform pass "
                                                 "carries it out three times, reports a failure "
                                                 "and ends with an error"});
    }
    if (Entry["resets"] != "never") {
      Outcome += "; resets the system at the end of the run " + Entry["resets"].get<std::string>();
    }
    C.Routes.push_back({"platform pass", Outcome});
  }

  void ClassifyForAdapterRuns(CheckedCommand& C) {
    TextBuffer Buffer(C.Text);
    UINT16 Length = 0;
    if (TextStartsWith(Buffer.Bytes, PrefixBootCfgSetting.Text, &Length) ||
        TextStartsWith(Buffer.Bytes, PrefixB1.Text, &Length)) {
      ClassifySettingInAdapterList(C, Buffer, Length);
      return;
    }
    RouteToAdapters(C);
  }

  // A line that is no platform command: a port command, or something no rule takes.
  void NameTheRest(CheckedCommand& C) {
    if (!C.Kind.empty()) {
      return;
    }
    TextBuffer Buffer(C.Text);
    C.Kind = StartsWith(Buffer.Bytes, PrefixN) ? "adapter port command" : "not recognised";
    if (Readers_.Rows.empty()) {
      C.Findings.push_back({CheckLevel::Warning, "no adapter reads this mailbox, and the platform "
                                                 "pass leaves the line alone: nothing takes it"});
    } else if (C.Kind == "not recognised") {
      C.Findings.push_back({CheckLevel::Warning, "neither a platform nor an adapter port "
                                                 "command: no rule of the driver takes it, and "
                                                 "the adapter drivers receive it as it is"});
    }
  }

  void ClassifySettingInAdapterList(CheckedCommand& C, const TextBuffer& Buffer, UINT16 Start) {
    std::string Value;
    const PlatformKeyword* Row = Keyword(Buffer, Start, &Value);
    if (Row == nullptr) {
      if (C.Kind.empty()) {
        C.Kind = "unknown platform keyword";
        C.Detail = Buffer.Bytes + Start;
      }
      C.Routes.push_back({"adapter run", "after the arrival wait, sent to the adapter with "
                                         "ClpStatusBadKeyword preset; otherwise not sent"});
      C.Findings.push_back({CheckLevel::Failure,
                            "no platform keyword begins \"" + ReadableText(Buffer.Bytes + Start) +
                                "\": in an adapter list it reaches the adapter as it is"});
      return;
    }
    if (C.Kind.empty()) {
      C.Kind = "platform setting in an adapter list";
      C.Detail = std::string(Row->Keyword) + " (code " + std::to_string(Row->Code) + ")";
    }
    C.Routes.push_back(
        {"adapter run",
         "a platform setting: " + KeywordEntry(Row->Code)["in_adapter_list"].get<std::string>()});
  }

  void RouteToAdapters(CheckedCommand& C) {
    struct Target {
      const char* Name;
      UINT32 Word;
    };
    const Target Targets[] = {{"vendor 0x8086", Vendor8086},
                              {"vendor 0x14E4", Vendor14E4},
                              {"other vendors", OtherVendor}};
    bool AnySpecific = false;
    for (const Target& T : Targets) {
      const auto Ended = RunEndedAt_.find(T.Word);
      if (Ended != RunEndedAt_.end()) {
        C.Routes.push_back({"adapter run", std::string(T.Name) + ": not reached; the run ended " +
                                               "with an error at " + Ended->second});
        continue;
      }
      std::map<std::string, std::vector<UINT8>> ByText;
      for (UINT8 Row : Readers_.Rows) {
        const RewriteOutcome O = RewriteForPosition(C.Text, Row, T.Word);
        if (EFI_ERROR(O.Status)) {
          C.Findings.push_back(
              {CheckLevel::Failure, std::string("the adapter run cannot rewrite it for ") + T.Name +
                                        " and ends there with an error"});
          RunEndedAt_[T.Word] = "list " + std::to_string(C.List) + ", command " +
                                std::to_string(C.Index) + " (id " + Hex4(C.Id) + ")";
          return;
        }
        if (O.Sent) {
          ByText[O.Text].push_back(Row);
          C.Deliveries.push_back(
              {static_cast<UINT16>(T.Word == OtherVendor ? 0 : T.Word), Row, O.Text});
        }
      }
      if (ByText.empty()) {
        C.Routes.push_back({"adapter run", std::string(T.Name) + ": no adapter position of this "
                                                                 "mailbox takes it"});
        continue;
      }
      AnySpecific = AnySpecific || T.Word != OtherVendor;
      for (const auto& [Text, Rows] : ByText) {
        const std::string Who =
            Rows == Readers_.Rows ? "every position of this mailbox" : JoinRows(Rows);
        const bool One = Rows.size() == 1 || Rows == Readers_.Rows;
        std::string Outcome = std::string(T.Name) + ": " + Who + (One ? " receives" : " receive") +
                              " \"" + ReadableText(Text) + "\"";
        if (T.Word == Vendor8086 && !HasVendorKey(Text)) {
          Outcome += " (untranslated: no key of the adapter keyword map begins the setting)";
        }
        if (T.Word == Vendor14E4) {
          const std::vector<UINT16> Devices = ResettingDevices(C.Text, Rows.front());
          if (!Devices.empty()) {
            Outcome += "; the system resets after the run on devices";
            for (UINT16 Device : Devices) {
              Outcome += " " + Hex4(Device);
            }
          }
        }
        C.Routes.push_back({"adapter run", Outcome});
      }
    }
    TextBuffer Buffer(C.Text);
    if (StartsWith(Buffer.Bytes, PrefixN) && !AnySpecific) {
      C.Findings.push_back({CheckLevel::Warning, "no adapter position of this mailbox has this "
                                                 "port for vendors 0x8086 and 0x14E4"});
    }
  }

  // The records the host writes for each list land on the result area, never on the lists or
  // the header.
  void CheckResultArea() {
    const uint32_t R = Result_.ResultAreaOffset;
    if (R == 0) {
      return;
    }
    std::map<UINT8, uint32_t> Records;
    for (const CheckedCommand& C : Result_.Commands) {
      if (C.Runs) {
        Records[C.List] = C.Index + 1u;
      }
    }
    for (const auto& [List, Count] : Records) {
      const uint32_t Begin = R + ResultListStride * List;
      const uint32_t End = Begin + ResultRecordSize * Count;
      const std::string Name = "the result records of list " + std::to_string(List) + " (" +
                               Hex4(Begin) + ".." + Hex4(End - 1) + ")";
      const std::string Problem = D_.Problem(Begin, End - Begin);
      if (!Problem.empty()) {
        Fail(Name + " cannot be written: " + Problem);
      }
      for (const Piece& P : Pieces_) {
        if (Begin < P.End && P.Begin < End) {
          Fail(Name + " overwrite " + P.Name + " (" + Hex4(P.Begin) + ".." + Hex4(P.End - 1) + ")");
        }
      }
    }
  }

  // The BMC tells results apart by id.
  void CheckIds() {
    std::map<UINT16, std::pair<UINT8, UINT8>> Seen;
    for (const CheckedCommand& C : Result_.Commands) {
      const auto [It, New] = Seen.emplace(C.Id, std::make_pair(C.List, C.Index));
      if (!New) {
        Warn("id " + Hex4(C.Id) + " names command " + std::to_string(C.Index) + " of list " +
             std::to_string(C.List) + " and command " + std::to_string(It->second.second) +
             " of list " + std::to_string(It->second.first) + ": their results look alike");
      }
    }
  }

  void StopAdapterRuns(UINT8 List) {
    if (AdapterRunReaches(List)) {
      AdapterRunEnd_ = List;
    }
  }

  const std::vector<uint8_t>& Device() const { return Bytes_; }

  const std::vector<uint8_t>& Bytes_;
  DeviceReader D_;
  nlohmann::ordered_json Reference_;
  Readers Readers_;
  std::vector<Piece> Pieces_;
  std::optional<UINT8> AdapterRunEnd_;       // the last list the adapter runs reach
  std::map<UINT32, std::string> RunEndedAt_; // by vendor word: the command a run failed at
  MailboxCheckResult Result_;
};

const char* LevelName(CheckLevel Level) {
  return Level == CheckLevel::Failure ? "will fail" : "warning";
}

} // namespace

bool MailboxCheckResult::WillFail() const {
  auto Fails = [](const std::vector<CheckFinding>& Findings) {
    return std::any_of(Findings.begin(), Findings.end(),
                       [](const CheckFinding& F) { return F.Level == CheckLevel::Failure; });
  };
  return Fails(Findings) || std::any_of(Commands.begin(), Commands.end(),
                                        [&](const CheckedCommand& C) { return Fails(C.Findings); });
}

MailboxCheckResult CheckMailbox(const std::vector<uint8_t>& Device, UINT8 FruId) {
  // The reference has a sandbox of its own, so it comes first.
  nlohmann::ordered_json Reference = BuildCommandReference();
  const DriverSandbox Sandbox;
  return Checker(Device, FruId, std::move(Reference)).Run();
}

std::string DescribeCheck(const MailboxCheckResult& R) {
  std::ostringstream Out;
  Out << "FRU device " << int(R.FruId) << ", " << R.DeviceSize << " bytes";
  if (R.HeaderOffset) {
    Out << ": mailbox at " << Hex4(*R.HeaderOffset) << ", result area at "
        << Hex4(R.ResultAreaOffset);
  }
  Out << "\n";
  for (const std::string& Reader : R.Readers) {
    Out << "read by " << Reader << "\n";
  }
  int Last = -1;
  for (const CheckedCommand& C : R.Commands) {
    if (C.List != Last) {
      Out << "list " << int(C.List) << "\n";
      Last = C.List;
    }
    Out << "  " << int(C.Index) << "  id " << Hex4(C.Id) << " at " << Hex4(C.Offset) << "  \""
        << ReadableText(C.Text) << "\"\n";
    Out << "      " << C.Kind << (C.Detail.empty() ? "" : ": " + ReadableText(C.Detail)) << "\n";
    for (const CommandRoute& Route : C.Routes) {
      Out << "      " << Route.Executor << ": " << Route.Outcome << "\n";
    }
    for (const CheckFinding& F : C.Findings) {
      Out << "      " << LevelName(F.Level) << ": " << F.Text << "\n";
    }
  }
  for (const CheckFinding& F : R.Findings) {
    Out << LevelName(F.Level) << ": " << F.Text << "\n";
  }
  Out << (R.WillFail() ? "something will fail (see \"will fail\" above)\n" : "nothing will fail\n");
  return Out.str();
}

nlohmann::ordered_json CheckToJson(const MailboxCheckResult& R) {
  using Json = nlohmann::ordered_json;
  auto FindingsJson = [](const std::vector<CheckFinding>& Findings) {
    Json List = Json::array();
    for (const CheckFinding& F : Findings) {
      List.push_back(
          {{"level", F.Level == CheckLevel::Failure ? "failure" : "warning"}, {"text", F.Text}});
    }
    return List;
  };
  Json Commands = Json::array();
  for (const CheckedCommand& C : R.Commands) {
    Json Entry = {
        {"list", C.List}, {"index", C.Index}, {"offset", Hex4(C.Offset)}, {"id", Hex4(C.Id)}};
    PutCommandText(Entry, C.Text);
    Entry["runs"] = C.Runs;
    Entry["kind"] = C.Kind;
    Entry["detail"] = C.Detail;
    Json Routes = Json::array();
    for (const CommandRoute& Route : C.Routes) {
      Routes.push_back({{"executor", Route.Executor}, {"outcome", Route.Outcome}});
    }
    Entry["routes"] = Routes;
    Json Deliveries = Json::array();
    for (const AdapterDelivery& D : C.Deliveries) {
      Json Delivery = {{"vendor", D.Vendor == 0 ? std::string("other") : HexNumber(D.Vendor, 4)},
                       {"row", D.Row}};
      PutCommandText(Delivery, D.Text);
      Deliveries.push_back(Delivery);
    }
    Entry["deliveries"] = Deliveries;
    Entry["findings"] = FindingsJson(C.Findings);
    Commands.push_back(Entry);
  }
  Json Out = {{"fru_id", R.FruId}, {"device_size", R.DeviceSize}};
  Out["header_offset"] = R.HeaderOffset ? Json(Hex4(*R.HeaderOffset)) : Json();
  Out["result_area_offset"] = Hex4(R.ResultAreaOffset);
  Out["readers"] = R.Readers;
  Out["commands"] = Commands;
  Out["findings"] = FindingsJson(R.Findings);
  Out["will_fail"] = R.WillFail();
  return Out;
}

} // namespace tools
