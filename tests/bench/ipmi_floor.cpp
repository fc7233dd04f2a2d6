#include "tests/bench/ipmi_floor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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
constexpr uint16_t EndId = 0xFFFF;
constexpr int CommandsPerList = 32;
constexpr uint16_t RecordBytes = 6;
constexpr uint8_t RequestMax = 16;
constexpr uint8_t OverflowMarkerBytes = 4;

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

class FloorBuilder {
public:
  FloorBuilder(const std::vector<uint8_t>& Before, const std::vector<uint8_t>& After, uint8_t Fru)
      : Before_(Before), After_(After), Fru_(Fru) {}

  void Read(uint32_t Offset, uint32_t Count) {
    for (uint32_t Done = 0; Done < Count; Done += RequestMax) {
      const uint32_t Chunk = std::min<uint32_t>(RequestMax, Count - Done);
      Out.push_back(
          {false, Fru_, static_cast<uint16_t>(Offset + Done), static_cast<uint8_t>(Chunk)});
    }
  }

  // A compare-then-write of Count bytes that end up as After holds them.
  void Update(uint32_t Offset, uint32_t Count) {
    for (uint32_t Done = 0; Done < Count; Done += RequestMax) {
      const uint32_t At = Offset + Done;
      const uint32_t Chunk = std::min<uint32_t>(RequestMax, Count - Done);
      Read(At, Chunk);
      if (!std::equal(Before_.begin() + At, Before_.begin() + At + Chunk, After_.begin() + At)) {
        Out.push_back({true, Fru_, static_cast<uint16_t>(At), static_cast<uint8_t>(Chunk)});
      }
    }
  }

  // The header's offset, or 0 when no candidate holds it.
  uint16_t FindHeader() {
    for (int K = 0; K < Candidates; ++K) {
      const uint16_t H = static_cast<uint16_t>(FirstHeader + HeaderStride * K);
      Read(H, HeaderBytes);
      if (std::equal(Before_.begin() + H, Before_.begin() + H + 4, "$FIP")) {
        return H;
      }
    }
    return 0;
  }

  void Lock(uint16_t H) {
    Update(H + HostLockFlag, 1);
    Update(H + LockTurn, 1);
    Read(H + BmcLockFlag, 1);
    if (Before_[H + BmcLockFlag] != 0) {
      Read(H + LockTurn, 1);
    }
  }

  // One list's commands from P; records of commands that get one go to the list's result block.
  void List(uint32_t P, uint32_t ResultBlock) {
    for (int I = 0; I < CommandsPerList; ++I) {
      Read(P, 2);
      if (Be16(Before_, P) == EndId) {
        return;
      }
      const auto TextBegin = Before_.begin() + P + 2;
      const auto TextEnd = std::find(TextBegin, Before_.end(), 0);
      const std::string Text(TextBegin, TextEnd);
      const uint32_t WithNul = static_cast<uint32_t>(Text.size() + 1);
      for (uint32_t Done = 0; Done < WithNul; Done += RequestMax) {
        Read(P + 2 + Done, RequestMax);
      }
      if (StartsWithNoCase(Text, "SET BOOTCFGSETTING1 ") || StartsWithNoCase(Text, "SET B1 ")) {
        Update(ResultBlock + RecordBytes * I, RecordBytes);
      }
      P += 2 + WithNul;
    }
    Read(P, 2);
    if (Be16(Before_, P) != EndId) {
      Update(ResultBlock, OverflowMarkerBytes);
    }
  }

  std::vector<FruRequest> Out;

private:
  const std::vector<uint8_t>& Before_;
  const std::vector<uint8_t>& After_;
  uint8_t Fru_;
};

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

std::string Describe(const FruRequest& R) {
  char Text[96];
  std::snprintf(Text, sizeof(Text), "%s of %u bytes at 0x%04X of FRU device %u",
                R.Write ? "Write FRU Data" : "Read FRU Data", unsigned(R.Count), unsigned(R.Offset),
                unsigned(R.Fru));
  return Text;
}

std::vector<FruRequest> PlatformPassFloor(const std::vector<uint8_t>& Before,
                                          const std::vector<uint8_t>& After, uint8_t Fru) {
  FloorBuilder F(Before, After, Fru);
  const uint16_t H = F.FindHeader();
  if (H == 0) {
    return F.Out;
  }
  F.Lock(H);
  const uint16_t ResultArea = Be16(Before, H + ResultAreaField);
  F.Read(H + ResultAreaField, 2);
  if (ResultArea == 0) {
    return F.Out;
  }
  const uint16_t List = Be16(Before, H + ListField);
  F.Read(H + ListField, 2);
  if (List != 0) {
    F.List(List, ResultArea);
  }
  return F.Out;
}

FloorComparison CompareWithFloor(const std::vector<sim::IpmiRequest>& Trace,
                                 const std::vector<FruRequest>& Floor) {
  FloorComparison C;
  std::vector<bool> Used(Floor.size(), false);
  size_t Other = 0;
  for (const sim::IpmiRequest& R : Trace) {
    ++C.Requests;
    if (!IsFruRequest(R)) {
      ++Other;
      continue;
    }
    const FruRequest F = AsFruRequest(R);
    size_t I = 0;
    while (I < Floor.size() && (Used[I] || !(Floor[I] == F))) {
      ++I;
    }
    if (I == Floor.size()) {
      C.Surplus.push_back(Describe(F));
    } else {
      Used[I] = true;
    }
  }
  for (size_t I = 0; I < Floor.size(); ++I) {
    if (!Used[I]) {
      C.Missing.push_back(Describe(Floor[I]));
    }
  }
  C.Floor = Floor.size() + Other;
  return C;
}

} // namespace bench
