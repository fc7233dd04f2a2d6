// The EDK2 binary module: the dependency expression the image build writes, read the way the DXE
// dispatcher reads it, and the GUIDs the package declaration gives the platform's build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/dispatch_dependencies.h"
#include "core/protocols.h"
#include "core/variables.h"
#include "tests/support/image_build.h"

namespace {

std::string GuidText(const EFI_GUID& G) {
  char Text[37];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", G.Data1,
                G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3], G.Data4[4],
                G.Data4[5], G.Data4[6], G.Data4[7]);
  return Text;
}

// The GUID of 16 bytes in firmware's memory order.
std::string GuidTextFromBytes(const uint8_t* B) {
  EFI_GUID G{};
  G.Data1 = static_cast<UINT32>(B[0] | B[1] << 8 | B[2] << 16 | static_cast<UINT32>(B[3]) << 24);
  G.Data2 = static_cast<UINT16>(B[4] | B[5] << 8);
  G.Data3 = static_cast<UINT16>(B[6] | B[7] << 8);
  std::copy(B + 8, B + 16, G.Data4);
  return GuidText(G);
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    return std::nullopt;
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(File), {});
}

std::string ReadText(const std::string& Path) {
  std::ifstream File(Path);
  std::ostringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

std::string DepexPath() {
  std::string Path = BLADECFG_IMAGE_PATH;
  return Path.replace(Path.size() - 4, 4, ".depex");
}

// A DXE dependency expression as the dispatcher sees it: the opcodes in order, with the GUID of
// each PUSH, and whether it evaluates to TRUE with the protocols Installed.
struct DecodedDepex {
  std::vector<uint8_t> Opcodes;
  std::vector<std::string> Pushed;
  std::string Problem;

  std::optional<bool> Evaluate(const std::set<std::string>& Installed) const {
    std::vector<bool> Stack;
    size_t NextPush = 0;
    for (uint8_t Op : Opcodes) {
      switch (Op) {
      case 0x02: // PUSH
        Stack.push_back(Installed.count(Pushed[NextPush++]) != 0);
        break;
      case 0x03: // AND
      case 0x04: // OR
      {
        if (Stack.size() < 2) {
          return std::nullopt;
        }
        const bool B = Stack.back();
        Stack.pop_back();
        Stack.back() = Op == 0x03 ? (Stack.back() && B) : (Stack.back() || B);
        break;
      }
      case 0x08: // END
        return Stack.size() == 1 ? std::optional<bool>(Stack[0]) : std::nullopt;
      default:
        return std::nullopt;
      }
    }
    return std::nullopt;
  }
};

DecodedDepex Decode(const std::vector<uint8_t>& Bytes) {
  DecodedDepex D;
  for (size_t At = 0; At < Bytes.size();) {
    const uint8_t Op = Bytes[At++];
    D.Opcodes.push_back(Op);
    if (Op == 0x02) {
      if (At + 16 > Bytes.size()) {
        D.Problem = "a PUSH without its whole GUID";
        return D;
      }
      D.Pushed.push_back(GuidTextFromBytes(Bytes.data() + At));
      At += 16;
    } else if (Op == 0x08) {
      if (At != Bytes.size()) {
        D.Problem = "bytes after END";
      }
      return D;
    } else if (Op != 0x03 && Op != 0x04 && Op != 0x05 && Op != 0x06 && Op != 0x07) {
      D.Problem = "opcode " + std::to_string(Op) + " where a DXE expression has none";
      return D;
    }
  }
  D.Problem = "no END";
  return D;
}

class DriverDepex : public ::testing::Test {
protected:
  void SetUp() override {
    const auto Bytes = ReadFile(DepexPath());
    if (!Bytes) {
      SKIP_WITHOUT_IMAGE(DepexPath() + " not found: the image preset writes it");
    }
    Raw = *Bytes;
    Depex = Decode(Raw);
    ASSERT_EQ(Depex.Problem, "");
  }
  std::vector<uint8_t> Raw;
  DecodedDepex Depex;
};

TEST_F(DriverDepex, WaitsForWhatThePlatformPassNeedsAndNothingElse) {
  // Written out by hand: the two platform protocols the pass locates, then the variable,
  // variable-write, metronome and reset architectural protocols behind GetVariable and
  // SetVariable, Stall and ResetSystem.
  const std::vector<std::string> Expected = {
      "6BB945E8-3743-433E-B90E-29B30D5DC630", "2E65E620-61FB-11DE-9BA7-002185140296",
      "1E5668E2-8481-11D4-BCF1-0080C73C8881", "6441F818-6362-4E44-B570-7DBA31DD2453",
      "26BACCB2-6F42-11D4-BCE7-0080C73C8881", "27CFAC88-46CC-11D4-9A38-0090273FC14D"};
  EXPECT_EQ(Depex.Pushed, Expected);

  // And the same GUIDs as the driver's own constants.
  ASSERT_EQ(Depex.Pushed.size(), std::size(DispatchDependencies));
  EXPECT_EQ(Depex.Pushed[0], GuidText(IpmiTransportProtocolGuid));
  EXPECT_EQ(Depex.Pushed[1], GuidText(PlatformInfoProtocolGuid));
  for (size_t I = 0; I < Depex.Pushed.size(); ++I) {
    EXPECT_EQ(Depex.Pushed[I], GuidText(DispatchDependencies[I])) << "PUSH " << I;
  }
}

TEST_F(DriverDepex, IsTrueOnlyOnceEveryProtocolIsInstalled) {
  EXPECT_EQ(Raw.size(), 6u * 17 + 5 + 1) << "six PUSHes, five ANDs and END";
  EXPECT_EQ(Raw.front(), 0x02) << "no BEFORE, AFTER or SOR: the dispatcher schedules it itself";
  const std::set<std::string> All(Depex.Pushed.begin(), Depex.Pushed.end());
  EXPECT_EQ(Depex.Evaluate(All), std::optional<bool>(true));
  for (const std::string& Missing : All) {
    std::set<std::string> Some = All;
    Some.erase(Missing);
    EXPECT_EQ(Depex.Evaluate(Some), std::optional<bool>(false)) << "without " << Missing;
  }
  // Protocols that arrive only through notifications hold nothing back.
  std::set<std::string> More = All;
  More.insert(GuidText(AdapterClpProtocolGuid));
  EXPECT_EQ(Depex.Evaluate(More), std::optional<bool>(true));
}

TEST_F(DriverDepex, ThePackageCarriesTheImageAndTheExpressionAsBuilt) {
  std::string Package = BLADECFG_IMAGE_PATH;
  Package.replace(Package.rfind('/') + 1, std::string::npos, "BladeCfgPkg/");
  EXPECT_EQ(ReadFile(Package + "BladeCfgDxe.depex"), std::optional<std::vector<uint8_t>>(Raw));
  EXPECT_EQ(ReadFile(Package + "BladeCfgDxe.efi"), ReadFile(BLADECFG_IMAGE_PATH));
  for (const char* Name : {"BladeCfgDxe.inf", "BladeCfgPkg.dec"}) {
    EXPECT_EQ(ReadText(Package + Name), ReadText(std::string(BLADECFG_EDK2_DIR) + "/" + Name))
        << Name;
  }
}

// "gName = { 0x..., 0x..., 0x..., { 0x.., ... }}" lines of a DEC file, by name.
std::map<std::string, std::string> DecGuids(const std::string& Text) {
  const std::regex Line(
      R"((g\w+)\s*=\s*\{\s*0x([0-9A-Fa-f]+),\s*0x([0-9A-Fa-f]+),\s*0x([0-9A-Fa-f]+),\s*\{([^}]*)\}\s*\})");
  std::map<std::string, std::string> Guids;
  for (std::sregex_iterator M(Text.begin(), Text.end(), Line), End; M != End; ++M) {
    EFI_GUID G{};
    G.Data1 = static_cast<UINT32>(std::stoul((*M)[2], nullptr, 16));
    G.Data2 = static_cast<UINT16>(std::stoul((*M)[3], nullptr, 16));
    G.Data3 = static_cast<UINT16>(std::stoul((*M)[4], nullptr, 16));
    std::istringstream Bytes((*M)[5]);
    std::string Byte;
    for (int I = 0; I < 8 && std::getline(Bytes, Byte, ','); ++I) {
      G.Data4[I] = static_cast<UINT8>(std::stoul(Byte, nullptr, 16));
    }
    Guids[(*M)[1]] = GuidText(G);
  }
  return Guids;
}

TEST(Edk2Package, DeclaresTheGuidsTheDriverUses) {
  const auto Guids = DecGuids(ReadText(std::string(BLADECFG_EDK2_DIR) + "/BladeCfgPkg.dec"));
  const std::map<std::string, std::string> Expected = {
      {"gAdapterClpProtocolGuid", GuidText(AdapterClpProtocolGuid)},
      {"gCompletionSignalProtocolGuid", GuidText(CompletionSignalProtocolGuid)},
      {"gIpmiTransportProtocolGuid", GuidText(IpmiTransportProtocolGuid)},
      {"gPlatformInfoProtocolGuid", GuidText(PlatformInfoProtocolGuid)},
      {"gSmbiosEditProtocolGuid", GuidText(SmbiosEditProtocolGuid)},
      {"gTalBladeDataGuid", GuidText(TalBladeDataGuid)},
      {"gSystemSetupGuid", GuidText(SystemSetupGuid)},
      {"gServerSetupGuid", GuidText(ServerSetupGuid)},
  };
  EXPECT_EQ(Guids, Expected);
}

TEST(Edk2Package, TheModuleNamesEveryProtocolItConsumes) {
  const std::string Inf = ReadText(std::string(BLADECFG_EDK2_DIR) + "/BladeCfgDxe.inf");
  const auto Section = [&Inf](const std::string& Name) {
    const size_t Begin = Inf.find("[" + Name + "]");
    return Begin == std::string::npos ? std::string()
                                      : Inf.substr(Begin, Inf.find("\n[", Begin + 1) - Begin);
  };
  const std::string Protocols = Section("Protocols");
  for (const char* Name :
       {"gIpmiTransportProtocolGuid", "gPlatformInfoProtocolGuid", "gAdapterClpProtocolGuid",
        "gCompletionSignalProtocolGuid", "gSmbiosEditProtocolGuid",
        "gEfiStatusCodeRuntimeProtocolGuid", "gEfiPciIoProtocolGuid", "gEfiMpServiceProtocolGuid",
        "gEfiVariableArchProtocolGuid", "gEfiVariableWriteArchProtocolGuid",
        "gEfiMetronomeArchProtocolGuid", "gEfiResetArchProtocolGuid"}) {
    EXPECT_NE(Protocols.find(Name), std::string::npos) << Name << " missing from [Protocols]";
  }
  const std::string Binaries = Section("Binaries.X64");
  EXPECT_NE(Binaries.find("PE32|BladeCfgDxe.efi"), std::string::npos);
  EXPECT_NE(Binaries.find("DXE_DEPEX|BladeCfgDxe.depex"), std::string::npos);
  EXPECT_NE(Section("Defines").find("MODULE_TYPE    = DXE_DRIVER"), std::string::npos);
}

} // namespace
