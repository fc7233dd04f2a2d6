// Platform command lines: classification, every keyword's effect on TalBladeData and the two Setup
// variables, the refusal gate, the write-back order, and the failures that stop a command.
#include <string>
#include <vector>

#include "platform/platform_command.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/exact_text.h"

namespace {

using testing_support::DriverTest;
using testing_support::ExactText;
using Bytes = std::vector<uint8_t>;

// The three variables a platform command works on: "mark TBD", "mark SYS" and "mark SRV".
enum Var { Tbd, Sys, Srv };

const sim::VariableSpec& Variable(Var V) {
  return V == Tbd   ? sim::vars::TalBladeData
         : V == Sys ? sim::vars::SystemSetup
                    : sim::vars::ServerSetup;
}

const char* NameOf(Var V) {
  return V == Tbd ? "TalBladeData" : V == Sys ? "SystemSetup" : "ServerSetup";
}

// Bytes at an offset of one variable; multi-byte values little-endian.
struct Field {
  Var V;
  size_t Offset;
  Bytes Value;
};

Field U8(Var V, size_t Offset, uint8_t Value) {
  return {V, Offset, {Value}};
}
Field U16(Var V, size_t Offset, uint16_t Value) {
  return {V, Offset, {uint8_t(Value), uint8_t(Value >> 8)}};
}
Field U32(Var V, size_t Offset, uint32_t Value) {
  return {
      V, Offset, {uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16), uint8_t(Value >> 24)}};
}
// DeviceEnableMask (152) and DeviceDisableMask (156) together.
Field Masks(uint32_t Enable, uint32_t Disable) {
  Field F = U32(Tbd, 152, Enable);
  Bytes D = U32(Tbd, 156, Disable).Value;
  F.Value.insert(F.Value.end(), D.begin(), D.end());
  return F;
}
Field NetBoot(uint16_t Flags) {
  return U16(Tbd, 164, Flags);
}
const Field AllEnabled = Masks(0xFFFFFFFF, 0);
const Field AllDisabled = Masks(0, 0xFFFFFFFF);

struct Outcome {
  EFI_STATUS Result;
  UINT32 Status;
  UINT8 Flags;
};

class PlatformCommandTest : public DriverTest {
protected:
  explicit PlatformCommandTest(const sim::BladeOptions& Options = {}) : DriverTest(Options) {
    Blade.Platform.SetCpuTopology(2, 8); // 4 cores
  }

  Bytes Value(Var V) {
    return Blade.Firmware.Variables.Value(Variable(V).Name, Variable(V).Guid).value();
  }
  void Set(const std::vector<Field>& Fields) {
    for (const Field& F : Fields) {
      Bytes Data = Value(F.V);
      std::copy(F.Value.begin(), F.Value.end(), Data.begin() + F.Offset);
      const sim::VariableSpec& P = Variable(F.V);
      Blade.Firmware.Variables.Create(P.Name, P.Guid, P.Attributes, Data);
    }
  }
  size_t Reads(Var V) {
    return Blade.Firmware.Variables.ReadCount(Variable(V).Name, Variable(V).Guid);
  }
  // The platform variables written, in order, failed writes included.
  std::vector<Var> Written() {
    std::vector<Var> Out;
    for (const sim::VariableWrite& W : Blade.Firmware.Variables.Writes()) {
      for (Var V : {Tbd, Sys, Srv}) {
        if (W.Name == Variable(V).Name && GuidEquals(W.Guid, Variable(V).Guid)) {
          Out.push_back(V);
        }
      }
    }
    return Out;
  }
  Outcome Run(const std::string& Line, UINT8 Flags = 0x01) {
    auto Text = ExactText(Line);
    UINT32 Status = 0xDEADBEEF;
    EFI_STATUS Result = ExecutePlatformCommand(Transport(), Text.get(), &Status, &Flags);
    EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u) << "'" << Line << "' left pool buffers";
    return {Result, Status, Flags};
  }
};

std::string Names(const std::vector<Var>& Vars) {
  std::string S;
  for (Var V : Vars) {
    S += std::string(S.empty() ? "" : ", ") + NameOf(V);
  }
  return "{" + S + "}";
}

// One keyword: the line, the variable bytes before, the bytes that change, the variables written
// in order, and what else goes out.
struct KeywordCase {
  UINT8 Code;
  std::string Line;
  std::vector<Field> Before;
  std::vector<Field> Changed;
  std::vector<Var> Writes;
  UINT8 FlagsAfter = 0x00; // from 0x01: bit 0 is cleared at every call
  UINT32 Status = 0x0E00;
  bool Gated = false; // asks platform item 29 (which answers 0); other codes never ask (it is 1)
  bool SwRaidBefore = false;
  bool SwRaidAfter = false;
  std::vector<Bytes> PowerRestore{}; // Set Power Restore Policy requests
  std::vector<UINT32> StatusCodes{};

  KeywordCase& Reset() {
    FlagsAfter = 0x02;
    return *this;
  }
  KeywordCase& Gate() {
    Gated = true;
    return *this;
  }
  KeywordCase& Refused() {
    Status = 0xF502;
    return *this;
  }
  KeywordCase& SwRaid(bool Before, bool After) {
    SwRaidBefore = Before;
    SwRaidAfter = After;
    return *this;
  }
  KeywordCase& Policy(uint8_t Request) {
    PowerRestore.push_back({Request});
    return *this;
  }
  KeywordCase& Sends(UINT32 Value) {
    StatusCodes.push_back(Value);
    return *this;
  }
};

void PrintTo(const KeywordCase& C, std::ostream* Out) {
  *Out << "'" << C.Line << "'";
}

KeywordCase K(UINT8 Code, std::string Line, std::vector<Field> Before, std::vector<Field> Changed,
              std::vector<Var> Writes) {
  return {Code, std::move(Line), std::move(Before), std::move(Changed), std::move(Writes)};
}
KeywordCase Nothing(UINT8 Code, std::string Line) {
  return K(Code, std::move(Line), {}, {}, {});
}

const std::string P1 = "SET BOOTCFGSETTING1 ";
const std::string B1 = "SET B1 ";

std::vector<KeywordCase> EveryKeyword() {
  const Bytes StoredUuid = {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88,
                            0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
  return {
      K(0, P1 + "OEMTAL_LOM1=ENABLE", {AllDisabled}, {Masks(0x1, 0xFFFFFFFE)}, {Tbd}),
      K(1, B1 + "OEMTAL_LOM1=DISABLE", {AllEnabled}, {Masks(0xFFFFFFFE, 0x1)}, {Tbd}),
      K(2, P1 + "oemtal_lom2=enable", {AllDisabled}, {Masks(0x2, 0xFFFFFFFD)}, {Tbd}),
      K(3, B1 + "OEMTAL_LOM2=DISABLE", {AllEnabled}, {Masks(0xFFFFFFFD, 0x2)}, {Tbd}),
      K(4, P1 + "OEMTAL_LOM3=ENABLE", {AllDisabled}, {Masks(0x400, 0xFFFFFBFF)}, {Tbd}).Gate(),
      K(5, B1 + "OEMTAL_LOM3=DISABLE", {AllEnabled}, {Masks(0xFFFFFBFF, 0x400)}, {Tbd}).Gate(),
      K(6, P1 + "OEMTAL_LOM4=ENABLE", {AllDisabled}, {Masks(0x800, 0xFFFFF7FF)}, {Tbd}).Gate(),
      K(7, B1 + "OEMTAL_LOM4=DISABLE", {AllEnabled}, {Masks(0xFFFFF7FF, 0x800)}, {Tbd}).Gate(),
      K(8, P1 + "OEMTAL_ISCSI=ENABLE", {NetBoot(0x0216), U32(Tbd, 200, 0x12345678)},
        {NetBoot(0x0219), U32(Tbd, 200, 0)}, {Tbd}),
      K(9, B1 + "OEMTAL_ISCSI=DISABLE", {NetBoot(0x03F5), U32(Tbd, 200, 0x12345678)},
        {NetBoot(0x03FA), U32(Tbd, 200, 0)}, {Tbd}),
      K(10, P1 + "OEMTAL_MEZ1=ENABLE", {AllDisabled}, {Masks(0xC, 0xFFFFFFF3)}, {Tbd}),
      // Every permanent-address bit but the one that guards the device.
      K(11, B1 + "OEMTAL_MEZ1=DISABLE", {AllEnabled, NetBoot(0x03EF)}, {Masks(0xFFFFFFF3, 0xC)},
        {Tbd}),
      K(12, P1 + "OEMTAL_MEZ2=ENABLE", {AllDisabled}, {Masks(0xC0, 0xFFFFFF3F)}, {Tbd}),
      K(13, B1 + "OEMTAL_MEZ2=DISABLE", {AllEnabled, NetBoot(0x03DF)}, {Masks(0xFFFFFF3F, 0xC0)},
        {Tbd}),
      K(14, P1 + "OEMTAL_MEZ2B=ENABLE", {AllDisabled}, {Masks(0x300, 0xFFFFFCFF)}, {Tbd}),
      K(15, B1 + "OEMTAL_MEZ2B=DISABLE", {AllEnabled, NetBoot(0x03DF)}, {Masks(0xFFFFFCFF, 0x300)},
        {Tbd}),
      K(16, P1 + "OEMTAL_IPL1=CD", {U8(Tbd, 3, 0x40)}, {U8(Tbd, 3, 2)}, {Tbd}),
      K(17, B1 + "OEMTAL_IPL1=FLOPPY", {U8(Tbd, 3, 0x40)}, {U8(Tbd, 3, 2)}, {Tbd}),
      K(18, P1 + "OEMTAL_IPL1=KEY", {U8(Tbd, 3, 0x40)}, {U8(Tbd, 3, 4)}, {Tbd}),
      K(19, B1 + "OEMTAL_IPL1=NETWORK", {U8(Tbd, 3, 0x40)}, {U8(Tbd, 3, 8)}, {Tbd}),
      K(20, P1 + "OEMTAL_IPL1=PCI", {U8(Tbd, 3, 0x40)}, {U8(Tbd, 3, 16)}, {Tbd}),
      K(21, B1 + "OEMTAL_IPL1=USB", {U8(Tbd, 3, 0x40)}, {U8(Tbd, 3, 32)}, {Tbd}),
      K(22, P1 + "OEMTAL_IPL1=IDE", {U8(Tbd, 3, 0x02)}, {U8(Tbd, 3, 64)}, {Tbd}),
      K(23, B1 + "OEMTAL_SAS=ENABLE", {U8(Sys, 331, 1), U8(Sys, 448, 1)},
        {U8(Sys, 331, 2), U8(Sys, 448, 0)}, {Sys})
          .Reset(),
      K(24, P1 + "OEMTAL_SAS=DISABLE", {U8(Sys, 331, 2), U8(Sys, 448, 1)},
        {U8(Sys, 331, 1), U8(Sys, 448, 0)}, {Sys})
          .Reset(),
      Nothing(25, B1 + "OEMTAL_SWRAID=ENABLE").SwRaid(false, true),
      Nothing(26, P1 + "OEMTAL_SWRAID=DISABLE").SwRaid(true, false),
      Nothing(27, B1 + "OEMTAL_HWRAID=ENABLE"),
      Nothing(28, P1 + "OEMTAL_HWRAID=DISABLE"),
      Nothing(29, B1 + "OEMTAL_IDE=ENABLE"),
      Nothing(30, P1 + "OEMTAL_IDE=DISABLE"),
      K(31, B1 + "OEMTAL_MEZ3=ENABLE", {AllDisabled}, {Masks(0x3000, 0xFFFFCFFF)}, {Tbd}).Gate(),
      K(32, P1 + "OEMTAL_MEZ3=DISABLE", {AllEnabled, NetBoot(0x03BF)}, {Masks(0xFFFFCFFF, 0x3000)},
        {Tbd})
          .Gate(),
      K(33, B1 + "OEMTAL_MEZ4=ENABLE", {AllDisabled}, {Masks(0x30000, 0xFFFCFFFF)}, {Tbd}).Gate(),
      K(34, P1 + "OEMTAL_MEZ4=DISABLE", {AllEnabled, NetBoot(0x02FF)}, {Masks(0xFFFCFFFF, 0x30000)},
        {Tbd})
          .Gate(),
      K(35, B1 + "OEMTAL_MEZ4B=ENABLE", {AllDisabled}, {Masks(0xC0000, 0xFFF3FFFF)}, {Tbd}).Gate(),
      K(36, P1 + "OEMTAL_MEZ4B=DISABLE", {AllEnabled, NetBoot(0x02FF)},
        {Masks(0xFFF3FFFF, 0xC0000)}, {Tbd})
          .Gate(),
      K(37, B1 + "OEMTAL_SIO1=ENABLE", {AllDisabled, U8(Sys, 604, 0)},
        {Masks(0xF3C00, 0xFFF0C3FF), U8(Sys, 604, 1)}, {Sys, Tbd})
          .Gate(),
      K(38, P1 + "OEMTAL_SIO1=DISABLE", {AllEnabled, U8(Sys, 604, 1)},
        {Masks(0xFFF0C3FF, 0xF3C00), U8(Sys, 604, 0)}, {Sys, Tbd})
          .Gate(),
      Nothing(39, B1 + "OEMTAL_SIO2=ENABLE").Refused(),
      Nothing(40, P1 + "OEMTAL_SIO2=DISABLE").Refused(),
      Nothing(41, B1 + "OEMTAL_IPL1_DEFAULT"),
      K(42, P1 + "OEMTAL_PXEPERMANENTADDRESS=ENABLE", {NetBoot(0x01FF)}, {NetBoot(0x03FF)}, {Tbd}),
      K(43, B1 + "OEMTAL_PXEPERMANENTADDRESS=DISABLE", {NetBoot(0x03FF)}, {NetBoot(0x01FF)}, {Tbd}),
      K(44, P1 + "OEMTAL_FCPERMANENTADDRESS11=ENABLE", {AllDisabled},
        {Masks(0xC, 0xFFFFFFF3), NetBoot(0x0010)}, {Tbd}),
      K(45, B1 + "OEMTAL_FCPERMANENTADDRESS11=DISABLE", {NetBoot(0x03FF)}, {NetBoot(0x03EF)},
        {Tbd}),
      K(46, P1 + "OEMTAL_FCPERMANENTADDRESS12=ENABLE", {AllDisabled},
        {Masks(0x3C0, 0xFFFFFC3F), NetBoot(0x0020)}, {Tbd}),
      K(47, B1 + "OEMTAL_FCPERMANENTADDRESS12=DISABLE", {NetBoot(0x03FF)}, {NetBoot(0x03DF)},
        {Tbd}),
      // Not gated: item 29 answers 1 and the devices are enabled all the same.
      K(48, P1 + "OEMTAL_FCPERMANENTADDRESS21=ENABLE", {AllDisabled},
        {Masks(0x3000, 0xFFFFCFFF), NetBoot(0x0040)}, {Tbd}),
      K(49, B1 + "OEMTAL_FCPERMANENTADDRESS21=DISABLE", {NetBoot(0x03FF)}, {NetBoot(0x03BF)},
        {Tbd}),
      K(50, P1 + "OEMTAL_FCPERMANENTADDRESS22=ENABLE", {AllDisabled},
        {Masks(0xF0000, 0xFFF0FFFF), NetBoot(0x0100)}, {Tbd}),
      K(51, B1 + "OEMTAL_FCPERMANENTADDRESS22=DISABLE", {NetBoot(0x03FF)}, {NetBoot(0x02FF)},
        {Tbd}),
      K(52, P1 + "OEMTAL_SIO1DAC=ENABLE", {U8(Sys, 604, 0)}, {U8(Sys, 604, 1)}, {Sys}).Reset(),
      K(53, B1 + "OEMTAL_SIO1DAC=DISABLE", {U8(Sys, 604, 1)}, {U8(Sys, 604, 0)}, {Sys}).Reset(),
      Nothing(54, P1 + "OEMTAL_SIO2DAC=ENABLE"),
      Nothing(55, B1 + "OEMTAL_SIO2DAC=DISABLE"),
      K(56, P1 + "OEMTAL_ACLINK=STAYOFF", {U8(Srv, 2, 2), U8(Sys, 408, 1)},
        {U8(Srv, 2, 0), U8(Sys, 408, 0)}, {Sys, Srv})
          .Reset()
          .Policy(0),
      K(57, B1 + "OEMTAL_ACLINK=STAYON", {U8(Srv, 2, 0), U8(Sys, 408, 0)},
        {U8(Srv, 2, 2), U8(Sys, 408, 1)}, {Sys, Srv})
          .Reset()
          .Policy(2),
      K(58, P1 + "OEMTAL_ACLINK=LASTSTATE", {U8(Srv, 2, 0), U8(Sys, 408, 0)},
        {U8(Srv, 2, 1), U8(Sys, 408, 2)}, {Sys, Srv})
          .Reset()
          .Policy(1),
      K(59, B1 + "OEMTAL_ACTIVECORE=ALL", {U8(Sys, 51, 2)}, {U8(Sys, 51, 4)}, {Sys}).Reset(),
      K(60, P1 + "OEMTAL_ACTIVECORE=3", {U8(Sys, 51, 4)}, {U8(Sys, 51, 3)}, {Sys}).Reset(),
      K(61, B1 + "OEMTAL_NUMA=ENABLE", {U8(Sys, 112, 0)}, {U8(Sys, 112, 1)}, {Sys}).Reset(),
      K(62, P1 + "OEMTAL_NUMA=DISABLE", {U8(Sys, 112, 1)}, {U8(Sys, 112, 0)}, {Sys}).Reset(),
      K(63, B1 + "OEMTAL_UUID=00112233445566778899AABBCCDDEEFF", {},
        {U8(Tbd, 0, 1), {Tbd, 4, StoredUuid}}, {Tbd}),
      K(64, P1 + "OEMTAL_SERIAL=AB1", {{Tbd, 20, Bytes(10, 0xFF)}},
        {U8(Tbd, 1, 1), {Tbd, 20, {'A', 0, 'B', 0, '1', 0, 0, 0}}}, {Tbd}),
      K(65, B1 + "OEMTAL_DEFAULT", {NetBoot(0x01FF)}, {NetBoot(0x03FF)}, {Tbd}),
      K(66, P1 + "DEFAULT", {NetBoot(0x01FF)}, {NetBoot(0x03FF)}, {Tbd}),
      K(67, B1 + "OEMTAL_IOV1_BUS1=ENABLE", {}, {U8(Sys, 639, 1)}, {Sys}),
      K(68, P1 + "OEMTAL_IOV1_BUS1=DISABLE", {U8(Sys, 639, 1)}, {U8(Sys, 639, 0)}, {Sys}),
      K(69, B1 + "OEMTAL_IOV1_BUS2=ENABLE", {}, {U8(Sys, 640, 1)}, {Sys}),
      K(70, P1 + "OEMTAL_IOV1_BUS2=DISABLE", {U8(Sys, 640, 1)}, {U8(Sys, 640, 0)}, {Sys}),
      K(71, B1 + "OEMTAL_IOV1_BUS3=ENABLE", {}, {U8(Sys, 641, 1)}, {Sys}),
      K(72, P1 + "OEMTAL_IOV1_BUS3=DISABLE", {U8(Sys, 641, 1)}, {U8(Sys, 641, 0)}, {Sys}),
      K(73, B1 + "OEMTAL_IOV1_BUS4=ENABLE", {}, {U8(Sys, 642, 1)}, {Sys}),
      K(74, P1 + "OEMTAL_IOV1_BUS4=DISABLE", {U8(Sys, 642, 1)}, {U8(Sys, 642, 0)}, {Sys}),
      K(75, B1 + "OEMTAL_IOV2_BUS1=ENABLE", {}, {U8(Sys, 643, 1)}, {Sys}),
      K(76, P1 + "OEMTAL_IOV2_BUS1=DISABLE", {U8(Sys, 643, 1)}, {U8(Sys, 643, 0)}, {Sys}),
      K(77, B1 + "OEMTAL_IOV2_BUS2=ENABLE", {}, {U8(Sys, 644, 1)}, {Sys}),
      K(78, P1 + "OEMTAL_IOV2_BUS2=DISABLE", {U8(Sys, 644, 1)}, {U8(Sys, 644, 0)}, {Sys}),
      K(79, B1 + "OEMTAL_IOV2_BUS3=ENABLE", {}, {U8(Sys, 645, 1)}, {Sys}),
      K(80, P1 + "OEMTAL_IOV2_BUS3=DISABLE", {U8(Sys, 645, 1)}, {U8(Sys, 645, 0)}, {Sys}),
      K(81, B1 + "OEMTAL_IOV2_BUS4=ENABLE", {}, {U8(Sys, 646, 1)}, {Sys}),
      K(82, P1 + "OEMTAL_IOV2_BUS4=DISABLE", {U8(Sys, 646, 1)}, {U8(Sys, 646, 0)}, {Sys}),
      K(83, B1 + "OEMTAL_CONREDIRECT=ENABLE", {U8(Sys, 597, 0), U8(Sys, 512, 1), U8(Sys, 513, 0)},
        {U8(Sys, 597, 2), U8(Sys, 512, 0), U8(Sys, 513, 1)}, {Sys})
          .Reset(),
      K(84, P1 + "OEMTAL_CONREDIRECT=DISABLE", {U8(Sys, 597, 2), U8(Sys, 512, 1), U8(Sys, 513, 1)},
        {U8(Sys, 597, 0), U8(Sys, 512, 0), U8(Sys, 513, 0)}, {Sys})
          .Reset(),
      K(85, B1 + "OEMTAL_FCOE=1234abcd", {NetBoot(0x0219)},
        {NetBoot(0x021E), U32(Tbd, 200, 0x1234ABCD)}, {Tbd}),
      K(86, P1 + "OEMTAL_CLPFailurePause=ENABLE", {}, {U8(Tbd, 276, 1)}, {Tbd}),
      K(87, B1 + "OEMTAL_CLPFAILUREPAUSE=DISABLE", {U8(Tbd, 276, 1)}, {U8(Tbd, 276, 0)}, {Tbd}),
      Nothing(88, P1 + "OEMTAL_EMFailurePause=ENABLE").Sends(0xC000B3A1),
      Nothing(89, B1 + "oemtal_emfailurepause=disable"),
  };
}

class EveryKeywordTest : public PlatformCommandTest,
                         public ::testing::WithParamInterface<KeywordCase> {};

TEST_P(EveryKeywordTest, ChangesExactlyWhatTheKeywordStandsFor) {
  const KeywordCase& C = GetParam();
  Driver.SwRaidRequested = C.SwRaidBefore;
  Blade.Platform.SetInfo(29, C.Gated ? 0 : 1);
  Set(C.Before);
  Bytes Expected[3] = {Value(Tbd), Value(Sys), Value(Srv)};
  for (const Field& F : C.Changed) {
    std::copy(F.Value.begin(), F.Value.end(), Expected[F.V].begin() + F.Offset);
  }

  const Outcome O = Run(C.Line);
  EXPECT_EQ(O.Result, EFI_SUCCESS);
  EXPECT_EQ(O.Status, C.Status);
  EXPECT_EQ(O.Flags, C.FlagsAfter);
  for (Var V : {Tbd, Sys, Srv}) {
    EXPECT_EQ(Value(V), Expected[V]) << NameOf(V);
    EXPECT_EQ(Reads(V), 1u) << NameOf(V);
  }
  ASSERT_EQ(Names(Written()), Names(C.Writes));
  for (size_t I = 0; I < C.Writes.size(); ++I) {
    const sim::VariableWrite& W = Blade.Firmware.Variables.Writes()[I];
    EXPECT_EQ(W.Attributes, C.Writes[I] == Tbd ? 6u : 7u) << NameOf(C.Writes[I]);
    EXPECT_EQ(W.Data, Expected[C.Writes[I]]) << NameOf(C.Writes[I]);
  }
  EXPECT_EQ(Driver.SwRaidRequested != 0, C.SwRaidAfter);

  const std::vector<UINTN>& Queries = Blade.Platform.InfoQueries();
  EXPECT_EQ(std::count(Queries.begin(), Queries.end(), 29u), C.Gated ? 1 : 0);
  std::vector<Bytes> Requests;
  for (const sim::IpmiRequest& R : Blade.Bmc.Trace()) {
    EXPECT_EQ(R.NetFn, 0x00);
    EXPECT_EQ(R.Cmd, 0x06);
    EXPECT_EQ(R.ResponseCapacity, 1);
    Requests.push_back(R.Data);
  }
  EXPECT_EQ(Requests, C.PowerRestore);
  std::vector<UINT32> Codes;
  for (const sim::StatusCodeRecord& R : Blade.Platform.StatusCodes()) {
    EXPECT_EQ(R.Type, EFI_ERROR_CODE);
    EXPECT_EQ(R.Instance, 0u);
    EXPECT_FALSE(R.HasCallerId || R.HasData);
    Codes.push_back(R.Value);
  }
  EXPECT_EQ(Codes, C.StatusCodes);
  EXPECT_FALSE(Blade.Firmware.Variables.Exists(sim::vars::CLPFailureFlag.Name,
                                               sim::vars::CLPFailureFlag.Guid));
  EXPECT_EQ(Blade.Smbios.UpdateCalls(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Codes, EveryKeywordTest, ::testing::ValuesIn(EveryKeyword()),
                         [](const auto& Info) { return "Code" + std::to_string(Info.param.Code); });

TEST(EveryKeywordTable, CoversEveryCodeOnce) {
  const std::vector<KeywordCase> Rows = EveryKeyword();
  ASSERT_EQ(Rows.size(), 90u);
  for (size_t I = 0; I < Rows.size(); ++I) {
    EXPECT_EQ(Rows[I].Code, I);
  }
}

// Lines that are not platform commands are done without a look at any variable.
TEST_F(PlatformCommandTest, OtherLinesAreDoneWithoutARecord) {
  for (const char* Line :
       {"SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE", "SET N2 OEMTAL_LOM1=ENABLE",
        "set netport1 oemtal_bootenable=enable", "SET N", "SET B1OEMTAL_LOM1=ENABLE",
        "SET BOOTCFGSETTING1OEMTAL_LOM1=ENABLE", "SET B2 OEMTAL_LOM1=ENABLE", "OEMTAL_LOM1=ENABLE",
        " SET B1 OEMTAL_LOM1=ENABLE", ""}) {
    const Outcome O = Run(Line, 0x02);
    EXPECT_EQ(O.Result, EFI_SUCCESS) << "'" << Line << "'";
    EXPECT_EQ(O.Status, 0x0E00u) << "'" << Line << "'";
    EXPECT_EQ(O.Flags, 0x03) << "'" << Line << "'"; // the reset request is kept
  }
  for (Var V : {Tbd, Sys, Srv}) {
    EXPECT_EQ(Reads(V), 0u) << NameOf(V);
  }
  EXPECT_TRUE(Written().empty());
}

TEST_F(PlatformCommandTest, UnknownKeywordsReadNothing) {
  for (const char* Line : {"SET BOOTCFGSETTING1 OEMTAL_LOM9=ENABLE", "SET B1 ", "SET B1 DUMMY",
                           "SET B1  OEMTAL_LOM1=ENABLE", "SET BOOTCFGSETTING1 OEMTAL_LOM1"}) {
    const Outcome O = Run(Line, 0x03);
    EXPECT_EQ(O.Result, EFI_SUCCESS) << "'" << Line << "'";
    EXPECT_EQ(O.Status, 0xFD02u) << "'" << Line << "'";
    EXPECT_EQ(O.Flags, 0x02) << "'" << Line << "'";
  }
  for (Var V : {Tbd, Sys, Srv}) {
    EXPECT_EQ(Reads(V), 0u) << NameOf(V);
  }
  EXPECT_TRUE(Written().empty());
}

TEST_F(PlatformCommandTest, PrefixAndKeywordMatchWithoutCaseAndAsPrefixes) {
  EXPECT_EQ(Run("set b1 oemtal_numa=enable").Status, 0x0E00u);
  EXPECT_EQ(Value(Sys)[112], 1);
  Set({AllDisabled});
  EXPECT_EQ(Run("Set BootCfgSetting1 OEMTAL_LOM1=ENABLED").Status, 0x0E00u);
  EXPECT_EQ(Value(Tbd)[152], 0x01);
}

// The gated keywords (LOM3, LOM4, MEZ3, MEZ4, MEZ4B, SIO1) are refused while platform item 29 is
// nonzero, before anything else is looked at: the guards would have made some of them no-ops.
TEST_F(PlatformCommandTest, GateRefusesBeforeAnyOtherTest) {
  Set({AllEnabled, NetBoot(0x03FF), U8(Sys, 604, 0)});
  Blade.Platform.SetInfo(29, 1);
  for (const char* Keyword :
       {"OEMTAL_LOM3=ENABLE", "OEMTAL_LOM3=DISABLE", "OEMTAL_LOM4=ENABLE", "OEMTAL_LOM4=DISABLE",
        "OEMTAL_MEZ3=ENABLE", "OEMTAL_MEZ3=DISABLE", "OEMTAL_MEZ4=ENABLE", "OEMTAL_MEZ4=DISABLE",
        "OEMTAL_MEZ4B=ENABLE", "OEMTAL_MEZ4B=DISABLE", "OEMTAL_SIO1=ENABLE",
        "OEMTAL_SIO1=DISABLE"}) {
    const Outcome O = Run(B1 + Keyword, 0x00);
    EXPECT_EQ(O.Result, EFI_SUCCESS) << Keyword;
    EXPECT_EQ(O.Status, 0xF502u) << Keyword;
    EXPECT_EQ(O.Flags, 0x00) << Keyword;
  }
  // Any nonzero answer refuses, also one beyond 32 bits.
  Blade.Platform.SetInfo(29, 0x100000000ull);
  EXPECT_EQ(Run(B1 + "OEMTAL_LOM3=DISABLE").Status, 0xF502u);
  EXPECT_TRUE(Written().empty());
}

TEST_F(PlatformCommandTest, FailedGateQueryStopsTheCommand) {
  Set({AllDisabled});
  Blade.Platform.FailInfo(29, EFI_DEVICE_ERROR);
  const Outcome O = Run(B1 + "OEMTAL_MEZ4=ENABLE");
  EXPECT_EQ(O.Result, EFI_DEVICE_ERROR);
  EXPECT_EQ(O.Status, 0x0E00u);
  EXPECT_TRUE(Written().empty());
}

// The permanent-address bits keep their cards enabled against a disable, which then writes
// nothing at all.
TEST_F(PlatformCommandTest, PermanentAddressesGuardTheirCards) {
  const std::vector<std::pair<uint16_t, const char*>> Cases = {
      {0x0010, "OEMTAL_MEZ1=DISABLE"},  {0x0020, "OEMTAL_MEZ2=DISABLE"},
      {0x0020, "OEMTAL_MEZ2B=DISABLE"}, {0x0040, "OEMTAL_MEZ3=DISABLE"},
      {0x0100, "OEMTAL_MEZ4=DISABLE"},  {0x0100, "OEMTAL_MEZ4B=DISABLE"}};
  for (const auto& [Guard, Keyword] : Cases) {
    Set({AllEnabled, NetBoot(Guard)});
    EXPECT_EQ(Run(P1 + Keyword).Status, 0x0E00u) << Keyword;
    const Bytes Data = Value(Tbd);
    EXPECT_EQ(Bytes(Data.begin() + 152, Data.begin() + 160), AllEnabled.Value) << Keyword;
  }
  EXPECT_TRUE(Written().empty());

  // Through the keyword that sets the guard.
  Set({AllDisabled, NetBoot(0)});
  Run(P1 + "OEMTAL_FCPERMANENTADDRESS11=ENABLE");
  Run(P1 + "OEMTAL_MEZ1=DISABLE");
  EXPECT_EQ(Value(Tbd)[152], 0x0C);
  EXPECT_EQ(Value(Tbd)[156], 0xF3);
  EXPECT_EQ(Written().size(), 1u);
}

TEST_F(PlatformCommandTest, Sio1DisableSparesGuardedCards) {
  struct Case {
    uint16_t Guards;
    uint32_t Enable, Disable;
  };
  for (const Case& C : std::vector<Case>{{0x0040, 0xFFF0F3FF, 0x000F0C00},
                                         {0x0100, 0xFFFFC3FF, 0x00003C00},
                                         {0x0140, 0xFFFFF3FF, 0x00000C00}}) {
    Set({AllEnabled, NetBoot(C.Guards)});
    EXPECT_EQ(Run(P1 + "OEMTAL_SIO1=DISABLE").Status, 0x0E00u);
    const Bytes Data = Value(Tbd);
    EXPECT_EQ(Bytes(Data.begin() + 152, Data.begin() + 160), Masks(C.Enable, C.Disable).Value)
        << "guards " << std::hex << C.Guards;
  }
}

// SwRaidRequested lives as long as the driver: it turns any later SAS keyword into SAS with
// software RAID.
TEST_F(PlatformCommandTest, SoftwareRaidRequestShapesLaterSasKeywords) {
  struct Case {
    std::vector<const char*> Keywords;
    uint8_t SasMode, SwRaid;
  };
  for (const Case& C : std::vector<Case>{
           {{"OEMTAL_SWRAID=ENABLE", "OEMTAL_SAS=DISABLE"}, 3, 1},
           {{"OEMTAL_SWRAID=ENABLE", "OEMTAL_SAS=ENABLE"}, 3, 1},
           {{"OEMTAL_SWRAID=ENABLE", "OEMTAL_LOM1=ENABLE", "OEMTAL_SAS=DISABLE"}, 3, 1},
           {{"OEMTAL_SWRAID=ENABLE", "OEMTAL_SWRAID=DISABLE", "OEMTAL_SAS=ENABLE"}, 2, 0},
           {{"OEMTAL_SAS=DISABLE"}, 1, 0}}) {
    Driver.SwRaidRequested = FALSE;
    Set({U8(Sys, 331, 0), U8(Sys, 448, 0)});
    UINT8 Flags = 0;
    for (const char* Keyword : C.Keywords) {
      Flags = Run(B1 + Keyword, Flags).Flags;
    }
    EXPECT_EQ(Value(Sys)[331], C.SasMode) << C.Keywords.front() << " .. " << C.Keywords.back();
    EXPECT_EQ(Value(Sys)[448], C.SwRaid) << C.Keywords.front() << " .. " << C.Keywords.back();
    EXPECT_EQ(Flags, 0x02);
  }
}

TEST_F(PlatformCommandTest, SoftwareRaidAloneNeedsNoReset) {
  Set({U8(Sys, 331, 2), U8(Sys, 448, 1)});
  const Outcome O = Run(B1 + "OEMTAL_SAS=ENABLE", 0x00);
  EXPECT_EQ(O.Flags, 0x00);
  EXPECT_EQ(Value(Sys)[448], 0);
  EXPECT_EQ(Names(Written()), Names({Sys}));
}

// Setup values that already hold the keyword's value are not rewritten and ask for no reset;
// TalBladeData keywords rewrite the variable all the same.
TEST_F(PlatformCommandTest, UnchangedValuesAreWrittenOnlyForBladeData) {
  struct Case {
    const char* Keyword;
    std::vector<Field> Before;
    std::vector<Var> Writes;
  };
  const std::vector<Case> Cases = {
      {"OEMTAL_NUMA=ENABLE", {U8(Sys, 112, 1)}, {}},
      {"OEMTAL_NUMA=DISABLE", {U8(Sys, 112, 0)}, {}},
      {"OEMTAL_SAS=ENABLE", {U8(Sys, 331, 2), U8(Sys, 448, 0)}, {}},
      {"OEMTAL_SAS=DISABLE", {U8(Sys, 331, 1), U8(Sys, 448, 0)}, {}},
      {"OEMTAL_SIO1DAC=ENABLE", {U8(Sys, 604, 1)}, {}},
      {"OEMTAL_IOV1_BUS3=DISABLE", {U8(Sys, 641, 0)}, {}},
      {"OEMTAL_IOV2_BUS4=ENABLE", {U8(Sys, 646, 1)}, {}},
      // ConRedirect decides alone: its companion bytes are not put right.
      {"OEMTAL_CONREDIRECT=ENABLE", {U8(Sys, 597, 2), U8(Sys, 512, 1), U8(Sys, 513, 0)}, {}},
      {"OEMTAL_CONREDIRECT=DISABLE", {U8(Sys, 597, 0), U8(Sys, 513, 1)}, {}},
      // AcLink unchanged: nothing is sent, though the cache disagrees.
      {"OEMTAL_ACLINK=STAYON", {U8(Srv, 2, 2), U8(Sys, 408, 0)}, {}},
      {"OEMTAL_ACTIVECORE=ALL", {U8(Sys, 51, 4)}, {}},
      {"OEMTAL_ACTIVECORE=9", {U8(Sys, 51, 4)}, {}},
      {"OEMTAL_LOM1=ENABLE", {Masks(0x1, 0)}, {Tbd}},
      {"OEMTAL_SIO1=ENABLE", {Masks(0xF3C00, 0), U8(Sys, 604, 1)}, {Tbd}},
      {"OEMTAL_CLPFailurePause=ENABLE", {U8(Tbd, 276, 1)}, {Tbd}},
      {"OEMTAL_IPL1=NETWORK", {U8(Tbd, 3, 8)}, {Tbd}},
  };
  for (const Case& C : Cases) {
    Set(C.Before);
    const Bytes Before[3] = {Value(Tbd), Value(Sys), Value(Srv)};
    const size_t WritesBefore = Blade.Firmware.Variables.Writes().size();
    const Outcome O = Run(P1 + C.Keyword, 0x00);
    EXPECT_EQ(O.Status, 0x0E00u) << C.Keyword;
    EXPECT_EQ(O.Flags, 0x00) << C.Keyword;
    for (Var V : {Tbd, Sys, Srv}) {
      EXPECT_EQ(Value(V), Before[V]) << C.Keyword << " changed " << NameOf(V);
    }
    const std::vector<Var> All = Written();
    EXPECT_EQ(Names({All.begin() + WritesBefore, All.end()}), Names(C.Writes)) << C.Keyword;
  }
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
}

TEST_F(PlatformCommandTest, FcoeValueIsUpToEightHexDigits) {
  for (const auto& [Text, Value32] : std::vector<std::pair<const char*, uint32_t>>{
           {"123456789", 0x12345678}, {"ab", 0xAB}, {"", 0}, {"FFFFFFFF", 0xFFFFFFFF}}) {
    Set({NetBoot(0x03F9), U32(Tbd, 200, 0x5A5A5A5A)});
    EXPECT_EQ(Run(B1 + "OEMTAL_FCOE=" + Text).Status, 0x0E00u);
    const Bytes Data = Value(Tbd);
    EXPECT_EQ(Bytes(Data.begin() + 200, Data.begin() + 204), U32(Tbd, 200, Value32).Value)
        << "'" << Text << "'";
    EXPECT_EQ(Bytes(Data.begin() + 164, Data.begin() + 166), NetBoot(0x03FE).Value)
        << "'" << Text << "'";
  }
}

TEST_F(PlatformCommandTest, EmFailurePauseIsSentEveryTimeWhateverTheFailureSettings) {
  Set({U8(Tbd, 276, 1)});
  Blade.Firmware.Variables.Create(sim::vars::CLPFailureFlag.Name, sim::vars::CLPFailureFlag.Guid, 6,
                                  {1});
  Run(P1 + "OEMTAL_EMFailurePause=ENABLE");
  Set({U8(Tbd, 276, 0)});
  Run(P1 + "OEMTAL_EMFailurePause=ENABLE");
  ASSERT_EQ(Blade.Platform.StatusCodes().size(), 2u);
  EXPECT_EQ(Blade.Platform.StatusCodes()[1].Value, 0xC000B3A1u);
  EXPECT_EQ(Blade.Firmware.Variables.Value(sim::vars::CLPFailureFlag.Name,
                                           sim::vars::CLPFailureFlag.Guid),
            Bytes{1});
  EXPECT_TRUE(Written().empty());
}

struct WriteFailure {
  const char* Name;
  std::string Line;
  std::vector<Field> Before;
  Var Failing;
  std::vector<Var> Attempts; // in order, the failing one last
};

class WriteFailureTest : public PlatformCommandTest,
                         public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailureTest, FirstFailedWriteStopsTheRest) {
  const WriteFailure& C = GetParam();
  Set(C.Before);
  Blade.Firmware.Variables.FailSet(Variable(C.Failing).Name, Variable(C.Failing).Guid,
                                   EFI_WRITE_PROTECTED);
  EXPECT_EQ(Run(C.Line).Result, EFI_WRITE_PROTECTED);
  EXPECT_EQ(Names(Written()), Names(C.Attempts));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, WriteFailureTest,
    ::testing::Values(
        WriteFailure{"SystemSetupFirst", B1 + "OEMTAL_ACLINK=STAYON", {}, Sys, {Sys}},
        WriteFailure{"ServerSetupSecond", B1 + "OEMTAL_ACLINK=STAYON", {}, Srv, {Sys, Srv}},
        WriteFailure{"BladeDataAfterSetup", B1 + "OEMTAL_SIO1=ENABLE", {}, Sys, {Sys}},
        WriteFailure{"BladeDataLast", B1 + "OEMTAL_SIO1=ENABLE", {}, Tbd, {Sys, Tbd}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct ReadFailure {
  const char* Name;
  Var Failing;
  EFI_STATUS Status;
  size_t Reads[3]; // TalBladeData, SystemSetup, ServerSetup
  bool Missing;    // the variable is gone rather than failing to read
};

class ReadFailureTest : public PlatformCommandTest,
                        public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(ReadFailureTest, StatusIsReturnedAndNothingWritten) {
  const ReadFailure& C = GetParam();
  const sim::VariableSpec& P = Variable(C.Failing);
  if (C.Missing) {
    Blade.Firmware.Variables.Delete(P.Name, P.Guid);
  } else {
    Blade.Firmware.Variables.FailGet(P.Name, P.Guid, C.Status);
  }
  // A keyword that would write all three.
  const Outcome O = Run(B1 + "OEMTAL_ACLINK=STAYON");
  EXPECT_EQ(O.Result, C.Status);
  EXPECT_EQ(O.Status, 0xDEADBEEFu);
  for (Var V : {Tbd, Sys, Srv}) {
    EXPECT_EQ(Reads(V), C.Reads[V]) << NameOf(V);
  }
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
}

// Read order: SystemSetup, ServerSetup, TalBladeData.
INSTANTIATE_TEST_SUITE_P(
    Reads, ReadFailureTest,
    ::testing::Values(ReadFailure{"SystemSetup", Sys, EFI_DEVICE_ERROR, {0, 1, 0}, false},
                      ReadFailure{"ServerSetup", Srv, EFI_DEVICE_ERROR, {0, 1, 1}, false},
                      ReadFailure{"BladeData", Tbd, EFI_DEVICE_ERROR, {1, 1, 1}, false},
                      ReadFailure{"BladeDataMissing", Tbd, EFI_NOT_FOUND, {1, 1, 1}, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(PlatformCommandTest, OversizedSetupIsNotRead) {
  Blade.Firmware.Variables.Create(sim::vars::SystemSetup.Name, sim::vars::SystemSetup.Guid, 7,
                                  Bytes(800, 0));
  EXPECT_EQ(Run(B1 + "OEMTAL_NUMA=ENABLE").Result, EFI_BUFFER_TOO_SMALL);
  EXPECT_TRUE(Written().empty());
}

TEST_F(PlatformCommandTest, NoPoolForTheWorkingCopiesStopsTheCommand) {
  for (unsigned Nth : {1u, 2u, 3u}) {
    Blade.Firmware.Pool.FailAllocation(Nth);
    EXPECT_EQ(Run(B1 + "OEMTAL_ACLINK=STAYON").Result, EFI_OUT_OF_RESOURCES) << Nth;
  }
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(Blade.Bmc.Trace().empty());
}

class NoPlatformInfoTest : public PlatformCommandTest {
protected:
  NoPlatformInfoTest()
      : PlatformCommandTest(sim::BladeOptions{true, /*InstallPlatformInfo=*/false}) {}
};

TEST_F(NoPlatformInfoTest, EveryLineFailsWithTheLocateStatus) {
  for (const char* Line : {"SET B1 OEMTAL_LOM1=ENABLE", "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE",
                           "SET B1 OEMTAL_LOM9=ENABLE"}) {
    const Outcome O = Run(Line, 0x03);
    EXPECT_EQ(O.Result, EFI_NOT_FOUND) << "'" << Line << "'";
    EXPECT_EQ(O.Status, 0xDEADBEEFu) << "'" << Line << "'";
    EXPECT_EQ(O.Flags, 0x02) << "'" << Line << "'";
  }
  for (Var V : {Tbd, Sys, Srv}) {
    EXPECT_EQ(Reads(V), 0u) << NameOf(V);
  }
  EXPECT_TRUE(Written().empty());
}

} // namespace
