// The command reference against the driver's behaviour: every platform keyword is carried out in a
// simulated blade, and what it changed must be what the reference says it changes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/driver_state.h"
#include "core/entry.h"
#include "mailbox_format/hex_text.h"
#include "platform/platform_command.h"
#include "sim/blade.h"
#include "sim/bmc_mailbox.h"
#include "tools/command_reference.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr UINT32 Refused = 0xF502;
constexpr UINT8 ResetFlag = 0x02;

// A value for each keyword that takes one.
const std::map<std::string, std::string> SampleValues = {
    {"OEMTAL_ACTIVECORE=", "3"},
    {"OEMTAL_UUID=", "00112233445566778899AABBCCDDEEFF"},
    {"OEMTAL_SERIAL=", "SN42"},
    {"OEMTAL_FCOE=", "0000BEEF"},
};

const std::map<std::string, const sim::VariableSpec*> Variables = {
    {"TalBladeData", &sim::vars::TalBladeData},
    {"SystemSetup", &sim::vars::SystemSetup},
    {"ServerSetup", &sim::vars::ServerSetup},
};

struct Outcome {
  UINT32 Status = 0;
  UINT8 Flags = 0;
  std::map<std::string, std::vector<uint8_t>> Before, After;
};

// One command in a fresh blade whose three variables hold Fill in every byte.
Outcome RunCommand(const std::string& Text, uint8_t Fill, UINT64 Item29) {
  sim::Blade Blade;
  ResetDriverState();
  InitServiceTables(Blade.Firmware.ImageHandle(), Blade.Firmware.SystemTable());
  Blade.Platform.SetCpuTopology(2, 16);
  Blade.Platform.SetInfo(29, Item29);
  Outcome O;
  for (const auto& [Label, Described] : Variables) {
    Blade.Firmware.Variables.Create(Described->Name, Described->Guid, Described->Attributes,
                                    std::vector<uint8_t>(Described->Size, Fill));
    O.Before[Label] = Blade.Firmware.Variables.Value(Described->Name, Described->Guid).value();
  }
  EXPECT_EQ(ExecutePlatformCommand(Blade.Bmc.Transport(), Text.c_str(), &O.Status, &O.Flags),
            EFI_SUCCESS)
      << Text;
  for (const auto& [Label, Described] : Variables) {
    O.After[Label] = Blade.Firmware.Variables.Value(Described->Name, Described->Guid).value();
  }
  ResetDriverState();
  return O;
}

bool Named(const Json& Changes, const std::string& Variable, size_t Offset) {
  for (const Json& C : Changes) {
    const size_t From = C["offset"].get<size_t>();
    if (C["variable"] == Variable && Offset >= From && Offset < From + C["size"].get<size_t>()) {
      return true;
    }
  }
  return false;
}

TEST(CommandReference, NamesEveryFieldAKeywordChangesAndWhetherItResets) {
  const Json Reference = tools::BuildCommandReference();
  ASSERT_EQ(Reference["platform_keywords"].size(), 90u);
  for (const Json& K : Reference["platform_keywords"]) {
    const std::string Keyword = K["keyword"];
    const std::string Text =
        "SET B1 " + Keyword + (K["value"].is_null() ? "" : SampleValues.at(Keyword));
    SCOPED_TRACE(Text);
    for (uint8_t Fill : {0x00, 0xFF}) {
      const Outcome O = RunCommand(Text, Fill, 0);
      for (const auto& [Label, Before] : O.Before) {
        const std::vector<uint8_t>& After = O.After.at(Label);
        for (size_t I = 0; I < Before.size(); ++I) {
          EXPECT_TRUE(Before[I] == After[I] || Named(K["changes"], Label, I))
              << Label << " byte " << I << " changed, which the reference does not name (fill "
              << int(Fill) << ")";
        }
      }
      if ((O.Flags & ResetFlag) != 0) {
        EXPECT_NE(K["resets"], "never")
            << "the command asked for a reset (fill " << int(Fill) << ")";
      }
    }
  }
}

TEST(CommandReference, SaysWhichKeywordsPlatformItem29Refuses) {
  const Json Reference = tools::BuildCommandReference();
  size_t RefusedKeywords = 0;
  for (const Json& K : Reference["platform_keywords"]) {
    const std::string Keyword = K["keyword"];
    const std::string Text =
        "SET B1 " + Keyword + (K["value"].is_null() ? "" : SampleValues.at(Keyword));
    const bool SaysRefused = K["status"].size() == 2 && K["status"][1] == "Refused";
    EXPECT_EQ(RunCommand(Text, 0, 1).Status == Refused, SaysRefused) << Text;
    RefusedKeywords += SaysRefused ? 1 : 0;
  }
  // LOM3, LOM4, MEZ3, MEZ4, MEZ4B and SIO1, each on and off, while item 29 says so; SIO2 always.
  EXPECT_EQ(RefusedKeywords, 14u);
}

// The bridges of the positions the adapter tests place, with their secondary buses.
const std::map<std::string, UINT8> Bridges = {
    {"00:02.0", 0x02}, {"00:03.0", 0x05}, {"00:03.1", 0x06}};
constexpr size_t NparRestoreMask = 176;
constexpr size_t PendingMask14E4 = 172;
constexpr size_t PendingMask8086 = 188;

// A blade with the reference's position P behind its bridge, holding an adapter of Vendor, and the
// mailbox of P's FRU device; TalBladeData holds Blade.
struct PositionBlade {
  sim::Blade Blade;
  sim::PciAddress At;
  sim::AdapterDriver* Driver;
  PositionBlade(const Json& P, UINT16 Vendor, const std::vector<uint8_t>& TalBladeData,
                const std::vector<mailbox_format::MailboxCommand>& Commands)
      : At(Bridges.at(P["bridge"]), 0, P["function"].get<UINT8>()) {
    // A root port or function that is not function 0 of its device needs function 0 beside it,
    // as on the blade: without it the device is not there.
    const std::string Bridge = P["bridge"];
    if (Bridge.back() != '0') {
      const std::string PortZero = Bridge.substr(0, Bridge.size() - 1) + "0";
      Blade.Pci.Bridge(sim::PciAddress(PortZero.c_str()), Bridges.at(PortZero));
    }
    Blade.Pci.Bridge(sim::PciAddress(Bridge.c_str()), Bridges.at(Bridge));
    for (UINT8 F = 0; F <= At.Function; ++F) {
      Blade.Pci.Function(sim::PciAddress(At.Bus, At.Device, F), Vendor, 0x1000);
    }
    Blade.Bmc.AddFruDevice(1, 4096);
    const UINT8 Fru = P["fru_id"];
    if (Fru != 1) {
      Blade.Bmc.AddFruDevice(Fru, 4096);
    }
    sim::MailboxContents Mailbox;
    Mailbox.Lists.push_back(Commands);
    sim::WriteMailbox(Blade.Bmc, Fru, Mailbox);
    const sim::VariableSpec& V = sim::vars::TalBladeData;
    Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, TalBladeData);
    Driver = &Blade.Adapters.Add();
    Blade.LoadDriver();
  }
};

std::vector<uint8_t> WithBit(size_t Field, UINT32 Bit) {
  std::vector<uint8_t> Data(sim::vars::TalBladeData.Size, 0);
  for (int I = 0; I < 4; ++I) {
    Data[Field + I] = static_cast<uint8_t>(Bit >> (8 * I));
  }
  return Data;
}

// Each position behind the bridges above, its vendor's bit pending, receives from its FRU device's
// mailbox the command of the port the reference names, and only that one.
TEST(CommandReference, NamesThePortEachPositionTakes) {
  const Json Reference = tools::BuildCommandReference();
  std::vector<mailbox_format::MailboxCommand> Ports;
  for (UINT16 Port = 1; Port <= 7; ++Port) {
    Ports.push_back({Port, "SET NETPORT" + std::to_string(Port) + " PORT" + std::to_string(Port)});
  }
  size_t Placed = 0;
  for (const Json& P : Reference["adapters"]["positions"]) {
    if (Bridges.count(P["bridge"]) == 0) {
      continue;
    }
    ++Placed;
    const UINT32 Bit = std::stoul(P["pending_bit"].get<std::string>(), nullptr, 16);
    for (const auto& [Vendor, Field, Port] :
         {std::make_tuple(0x8086, PendingMask8086, P["port_8086"]),
          std::make_tuple(0x14E4, PendingMask14E4, P["port_14E4"])}) {
      SCOPED_TRACE(P.dump() + " vendor " + std::to_string(Vendor));
      PositionBlade B(P, static_cast<UINT16>(Vendor), WithBit(Field, Bit), Ports);
      B.Blade.StartAdapter(*B.Driver, B.At);
      const std::vector<std::string> Texts = B.Driver->Texts();
      ASSERT_EQ(Texts.size(), 1u);
      EXPECT_EQ(Texts[0].substr(Texts[0].size() - 5), "PORT" + Port.dump());
    }
  }
  EXPECT_EQ(Placed, 10u);
}

// The wait messages reach the BMC as the reference spells them, and the default restore sends its
// commands in the reference's order.
TEST(CommandReference, SpellsTheWaitMessagesAndTheDefaultRestore) {
  const Json Reference = tools::BuildCommandReference();
  const Json& Arrival = Reference["adapters"]["arrival"];
  const Json& P = Reference["adapters"]["positions"][2];
  {
    PositionBlade B(P, 0x15B3, WithBit(NparRestoreMask, 0), {});
    B.Blade.Platform.SetPortValue(0x50C, 0);
    B.Blade.Platform.SetPortValue(0x548, 0);
    B.Blade.StartAdapter(*B.Driver, B.At);
    const std::vector<sim::IpmiRequest> Sent = B.Blade.Bmc.Requests(0x30, 0x30);
    ASSERT_EQ(Sent.size(), 2u);
    for (size_t I = 0; I < 2; ++I) {
      const Json& Message = Arrival["wait_messages"][I];
      EXPECT_EQ(Message["netfn"], "0x30");
      EXPECT_EQ(Message["command"], "0x30");
      EXPECT_EQ(mailbox_format::HexBytesText(Sent[I].Data), Message["request"]);
    }
  }
  // Another position's bit too, so that the restore ends without a reset.
  const UINT32 Bit = std::stoul(P["pending_bit"].get<std::string>(), nullptr, 16);
  PositionBlade B(P, 0x15B3, WithBit(NparRestoreMask, Bit | 0x80000), {});
  B.Blade.Platform.SetPortValue(0x50C, 0);
  B.Blade.StartAdapter(*B.Driver, B.At);
  EXPECT_EQ(Json(B.Driver->Texts()), Arrival["default_restore"]["commands"]);
  EXPECT_EQ(Arrival["default_restore"]["expected_status"], "0x0500");
  const std::vector<uint8_t> After =
      B.Blade.Firmware.Variables.Value(sim::vars::TalBladeData.Name, sim::vars::TalBladeData.Guid)
          .value();
  EXPECT_EQ(After[NparRestoreMask + 2], 0x08); // the other bit alone is left
}

} // namespace
