#include "tests/bench/ipmi_floor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <tuple>

namespace bench {

namespace {

// The mailbox format in its own words.
constexpr uint16_t FirstHeader = 512;
constexpr uint16_t HeaderStride = 256;
constexpr int Candidates = 8;
constexpr uint16_t HeaderBytes = 28;
constexpr uint16_t LockTurn = 28;
constexpr uint16_t BmcLockFlag = 29;
constexpr uint16_t HostLockFlag = 30;
constexpr uint16_t ResultAreaField = 24;
constexpr uint16_t ListField = 8;
constexpr uint8_t Lists = 8;
constexpr uint16_t ResultBlockBytes = 192;
constexpr uint16_t EndId = 0xFFFF;
constexpr int CommandsPerList = 32;
constexpr uint16_t RecordBytes = 6;
constexpr uint8_t RequestMax = 16;
const std::vector<uint8_t> OverflowMarker = {0xFD, 0x00, 0x00, 0x00};
// The mailboxes of FRU devices 1 and 2 are the platform's; an adapter pass leaves them locked.
constexpr uint8_t PlatformFru = 1;
constexpr uint8_t PlatformFruAlternate = 2;

constexpr uint8_t NetFnStorage = 0x0A;
constexpr uint8_t ReadFruData = 0x11;
constexpr uint8_t WriteFruData = 0x12;

uint16_t Be16(const std::vector<uint8_t>& B, size_t At) {
  return static_cast<uint16_t>(B[At] << 8 | B[At + 1]);
}

bool StartsWithNoCase(const std::string& Text, const std::string& Prefix) {
  return Text.size() >= Prefix.size() &&
         std::equal(Prefix.begin(), Prefix.end(), Text.begin(), [](char A, char B) {
           return std::toupper(static_cast<unsigned char>(A)) ==
                  std::toupper(static_cast<unsigned char>(B));
         });
}

bool IsFruRequest(const sim::IpmiRequest& R) {
  return R.NetFn == NetFnStorage && (R.Cmd == ReadFruData || R.Cmd == WriteFruData) &&
         R.Data.size() >= 3;
}

FruRequest AsFruRequest(const sim::IpmiRequest& R) {
  const bool Write = R.Cmd == WriteFruData;
  return {Write, R.Data[0], static_cast<uint16_t>(R.Data[1] | R.Data[2] << 8),
          static_cast<uint8_t>(Write ? R.Data.size() - 3 : (R.Data.size() > 3 ? R.Data[3] : 0))};
}

} // namespace

bool FruRequest::operator<(const FruRequest& O) const {
  return std::tie(Write, Fru, Offset, Count) < std::tie(O.Write, O.Fru, O.Offset, O.Count);
}

std::string Describe(const FruRequest& R) {
  char Text[96];
  std::snprintf(Text, sizeof(Text), "%s of %u bytes at 0x%04X of FRU device %u",
                R.Write ? "Write FRU Data" : "Read FRU Data", unsigned(R.Count), unsigned(R.Offset),
                unsigned(R.Fru));
  return Text;
}

BootFloor::BootFloor(std::map<uint8_t, std::vector<uint8_t>> Devices)
    : Bytes_(std::move(Devices)) {}

void BootFloor::Read(uint8_t Fru, uint32_t Offset, uint32_t Count, const std::string& Purpose) {
  for (uint32_t Done = 0; Done < Count; Done += RequestMax) {
    const uint32_t Chunk = std::min<uint32_t>(RequestMax, Count - Done);
    Requests_.push_back(
        {false, Fru, static_cast<uint16_t>(Offset + Done), static_cast<uint8_t>(Chunk)});
    ++Purposes_[Purpose];
  }
}

// A compare-then-write that leaves Wanted at Offset.
void BootFloor::Update(uint8_t Fru, uint32_t Offset, const std::vector<uint8_t>& Wanted,
                       const std::string& Purpose) {
  std::vector<uint8_t>& Bytes = Bytes_.at(Fru);
  for (uint32_t Done = 0; Done < Wanted.size(); Done += RequestMax) {
    const uint32_t At = Offset + Done;
    const uint32_t Chunk = std::min<uint32_t>(RequestMax, uint32_t(Wanted.size()) - Done);
    Read(Fru, At, Chunk, Purpose);
    const auto From = Wanted.begin() + Done;
    if (!std::equal(From, From + Chunk, Bytes.begin() + At)) {
      std::copy(From, From + Chunk, Bytes.begin() + At);
      Requests_.push_back({true, Fru, static_cast<uint16_t>(At), static_cast<uint8_t>(Chunk)});
      ++Purposes_[Purpose];
    }
  }
}

uint16_t BootFloor::FindHeader(uint8_t Fru, const std::string& Purpose) {
  const std::vector<uint8_t>& Bytes = Bytes_.at(Fru);
  for (int K = 0; K < Candidates; ++K) {
    const uint16_t H = static_cast<uint16_t>(FirstHeader + HeaderStride * K);
    Read(Fru, H, HeaderBytes, Purpose);
    if (std::equal(Bytes.begin() + H, Bytes.begin() + H + 4, "$FIP")) {
      return H;
    }
  }
  return 0;
}

void BootFloor::Lock(uint8_t Fru, uint16_t H) {
  Update(Fru, H + HostLockFlag, {1}, "lock");
  Update(Fru, H + LockTurn, {1}, "lock");
  Read(Fru, H + BmcLockFlag, 1, "lock");
  if (Bytes_.at(Fru)[H + BmcLockFlag] != 0) {
    Read(Fru, H + LockTurn, 1, "lock");
  }
}

uint16_t BootFloor::ListOffset(uint8_t Fru, uint16_t H, uint8_t List) {
  Read(Fru, H + ListField + 2 * List, 2, "offsets read again under the lock");
  return Be16(Bytes_.at(Fru), H + ListField + 2 * List);
}

bool BootFloor::List(
    uint8_t Fru, uint32_t P, uint32_t ResultBlock,
    const std::function<std::vector<uint8_t>(uint16_t, const std::string&, uint32_t)>& Record) {
  const std::vector<uint8_t>& Bytes = Bytes_.at(Fru);
  for (int I = 0; I < CommandsPerList; ++I) {
    const uint16_t Id = Be16(Bytes, P);
    if (Id == EndId) {
      Read(Fru, P, 2, "list ends");
      return true;
    }
    const auto TextBegin = Bytes.begin() + P + 2;
    const std::string Text(TextBegin, std::find(TextBegin, Bytes.end(), 0));
    const uint32_t RecordOffset = ResultBlock + RecordBytes * I;
    const std::vector<uint8_t> Wanted = Record(Id, Text, RecordOffset);
    // A command the pass does not answer is read all the same: its end is where the next begins.
    const std::string Whose = Wanted.empty() ? " passed over" : " answered";
    const uint32_t WithNul = static_cast<uint32_t>(Text.size() + 1);
    Read(Fru, P, 2, "ids of commands" + Whose);
    for (uint32_t Done = 0; Done < WithNul; Done += RequestMax) {
      Read(Fru, P + 2 + Done, RequestMax, "texts of commands" + Whose);
    }
    if (!Wanted.empty()) {
      Update(Fru, RecordOffset, Wanted, "result records");
    }
    P += 2 + WithNul;
  }
  Read(Fru, P, 2, "list ends");
  if (Be16(Bytes, P) == EndId) {
    return true;
  }
  Update(Fru, ResultBlock, OverflowMarker, "overflow markers");
  return false;
}

bool BootFloor::Begin(uint8_t Fru, const std::string& Search, uint16_t* H, uint16_t* ResultArea) {
  *H = FindHeader(Fru, Search);
  if (*H == 0) {
    return false;
  }
  Lock(Fru, *H);
  Read(Fru, *H + ResultAreaField, 2, "offsets read again under the lock");
  *ResultArea = Be16(Bytes_.at(Fru), *H + ResultAreaField);
  return *ResultArea != 0; // without a result area nothing runs, and the mailbox stays locked
}

void BootFloor::PlatformPass(uint8_t Fru, const std::vector<uint8_t>& After) {
  uint16_t H = 0, ResultArea = 0;
  if (!Begin(Fru, "header search", &H, &ResultArea)) {
    return;
  }
  const uint16_t First = ListOffset(Fru, H, 0);
  if (First == 0) {
    return;
  }
  List(Fru, First, ResultArea, [&After](uint16_t, const std::string& Text, uint32_t At) {
    if (!StartsWithNoCase(Text, "SET BOOTCFGSETTING1 ") && !StartsWithNoCase(Text, "SET B1 ")) {
      return std::vector<uint8_t>();
    }
    return std::vector<uint8_t>(After.begin() + At, After.begin() + At + RecordBytes);
  });
}

void BootFloor::AdapterPass(uint8_t Fru, const std::string& Search,
                            const std::function<bool(const std::string&)>& Takes, uint32_t Answer) {
  uint16_t H = 0, ResultArea = 0;
  if (!Begin(Fru, Search, &H, &ResultArea)) {
    return;
  }
  const auto Record = [&Takes, Answer](uint16_t Id, const std::string& Text, uint32_t) {
    if (!Takes(Text)) {
      return std::vector<uint8_t>();
    }
    return std::vector<uint8_t>{uint8_t(Id >> 8),     uint8_t(Id),           uint8_t(Answer),
                                uint8_t(Answer >> 8), uint8_t(Answer >> 16), uint8_t(Answer >> 24)};
  };
  for (uint8_t J = 0; J < Lists; ++J) {
    const uint16_t First = ListOffset(Fru, H, J);
    if (First != 0 && !List(Fru, First, ResultArea + ResultBlockBytes * J, Record)) {
      break;
    }
  }
  if (Fru != PlatformFru && Fru != PlatformFruAlternate) {
    Update(Fru, H + HostLockFlag, {0}, "unlock");
  }
}

std::vector<FruRequest> PlatformPassFloor(const std::vector<uint8_t>& Before,
                                          const std::vector<uint8_t>& After, uint8_t Fru) {
  BootFloor F({{Fru, Before}});
  F.PlatformPass(Fru, After);
  return F.Requests();
}

FloorComparison CompareWithFloor(const std::vector<sim::IpmiRequest>& Trace,
                                 const std::vector<FruRequest>& Floor) {
  FloorComparison C;
  std::map<FruRequest, size_t> Unmatched;
  for (const FruRequest& F : Floor) {
    ++Unmatched[F];
  }
  size_t Other = 0;
  for (const sim::IpmiRequest& R : Trace) {
    ++C.Requests;
    if (!IsFruRequest(R)) {
      ++Other;
      continue;
    }
    const FruRequest F = AsFruRequest(R);
    auto It = Unmatched.find(F);
    if (It == Unmatched.end() || It->second == 0) {
      C.Surplus.push_back(Describe(F));
    } else {
      --It->second;
    }
  }
  // The floor's requests left over, named in the floor's order.
  for (const FruRequest& F : Floor) {
    size_t& Left = Unmatched[F];
    if (Left != 0) {
      C.Missing.push_back(Describe(F));
      --Left;
    }
  }
  C.Floor = Floor.size() + Other;
  return C;
}

void PrintComparison(std::ostream& Out, const std::string& Label, const FloorComparison& C,
                     const std::map<std::string, size_t>* Purposes) {
  constexpr size_t Shown = 20; // a surplus repeated in every pass would fill pages
  Out << "  " << Label << ": " << C.Requests << " requests, floor " << C.Floor << ", ratio "
      << C.Ratio() << "\n";
  if (Purposes != nullptr) {
    for (const auto& [Purpose, Count] : *Purposes) {
      Out << "    floor: " << Count << " for " << Purpose << "\n";
    }
  }
  const auto List = [&Out](const std::vector<std::string>& Requests, const char* What) {
    for (size_t I = 0; I < Requests.size() && I < Shown; ++I) {
      Out << "    " << What << ": " << Requests[I] << "\n";
    }
    if (Requests.size() > Shown) {
      Out << "    " << What << ": " << Requests.size() - Shown << " more\n";
    }
  };
  List(C.Surplus, "surplus");
  List(C.Missing, "below the floor (the floor is wrong)");
}

} // namespace bench
