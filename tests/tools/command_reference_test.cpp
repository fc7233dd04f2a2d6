// The command reference against the driver's behaviour: every platform keyword is carried out in a
// simulated blade, and what it changed must be what the reference says it changes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/driver_state.h"
#include "core/entry.h"
#include "platform/platform_command.h"
#include "sim/blade.h"
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
  for (const auto& [Label, Spec] : Variables) {
    Blade.Firmware.Variables.Create(Spec->Name, Spec->Guid, Spec->Attributes,
                                    std::vector<uint8_t>(Spec->Size, Fill));
    O.Before[Label] = Blade.Firmware.Variables.Value(Spec->Name, Spec->Guid).value();
  }
  EXPECT_EQ(ExecutePlatformCommand(Blade.Bmc.Transport(), Text.c_str(), &O.Status, &O.Flags),
            EFI_SUCCESS)
      << Text;
  for (const auto& [Label, Spec] : Variables) {
    O.After[Label] = Blade.Firmware.Variables.Value(Spec->Name, Spec->Guid).value();
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

} // namespace
