// bladecfg-mailbox: builds FRU images holding a command mailbox from a readable description,
// decodes FRU images or dumps back into header, command lists and result records, and checks a
// mailbox before it goes to a BMC. A mailbox may be for any FRU device; --fru names it, and with
// --area-size the image is one area of a file that holds every FRU device at id x area size
// (QEMU's frudatafile).
//
//   bladecfg-mailbox build commands.json -o fru1.bin
//   bladecfg-mailbox decode fru1.bin            # readable listing
//   bladecfg-mailbox decode fru1.bin --json     # a description that builds the same bytes
//   bladecfg-mailbox check commands.json        # how the driver takes each command; exit status 1
//   bladecfg-mailbox check fru5.bin --fru 5     # when something will fail
//   bladecfg-mailbox build mez.json --fru 0x52 --area-size 8192 -o blade.fru   # area 0x52 only
//   bladecfg-mailbox decode blade.fru --fru 0x52 --area-size 8192
#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "tools/fru_positions.h"
#include "tools/json_view.h"
#include "tools/mailbox_check.h"
#include "tools/mailbox_json.h"
#include "tools/scenario.h"

namespace {

std::vector<uint8_t> ReadImage(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    throw tools::InputError(Path + ": cannot be read");
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}

void WriteImage(const std::string& Path, const std::vector<uint8_t>& Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()),
            static_cast<std::streamsize>(Bytes.size()));
  if (!Out.flush()) {
    throw tools::InputError(Path + ": cannot be written");
  }
}

// Where one FRU device's image sits in the output: the whole file, or its area in a file of
// areas.
struct Placement {
  std::optional<unsigned> Fru;
  std::optional<size_t> AreaSize;
};

unsigned ParseNumber(const std::string& Text, unsigned long Min, unsigned long Max,
                     const std::string& Option) {
  size_t Used = 0;
  unsigned long Value = 0;
  try {
    Value = std::stoul(Text, &Used, 0);
  } catch (const std::exception&) {
    Used = 0;
  }
  if (Text.empty() || Used != Text.size() || Value < Min || Value > Max) {
    throw tools::InputError(Option + ": expected a number from " + std::to_string(Min) + " to " +
                            std::to_string(Max) + " (decimal, or hexadecimal with 0x), found \"" +
                            Text + "\"");
  }
  return static_cast<unsigned>(Value);
}

Placement PlacementOf(const std::string& Fru, const std::string& AreaSize) {
  Placement P;
  if (!Fru.empty()) {
    P.Fru = ParseNumber(Fru, 0, 0xFE, "--fru");
  }
  if (!AreaSize.empty()) {
    if (!P.Fru) {
      throw tools::InputError("--area-size: give --fru too, the device whose area it is");
    }
    P.AreaSize = ParseNumber(AreaSize, 1, mailbox_format::FruAddressSpace, "--area-size");
  }
  return P;
}

// The image in its area of the file, the file's other areas kept (so that one file can be filled
// device by device); the rest of the area gets the image's fill byte.
std::vector<uint8_t> IntoArea(const std::string& Path, const std::vector<uint8_t>& Image,
                              UINT8 Fill, const Placement& P) {
  if (Image.size() > *P.AreaSize) {
    throw tools::InputError("--area-size: the image of " + std::to_string(Image.size()) +
                            " bytes does not fit an area of " + std::to_string(*P.AreaSize));
  }
  std::vector<uint8_t> File;
  if (std::ifstream(Path, std::ios::binary)) {
    File = ReadImage(Path);
  }
  const size_t Start = *P.Fru * *P.AreaSize;
  File.resize(std::max(File.size(), Start + *P.AreaSize), 0);
  std::copy(Image.begin(), Image.end(), File.begin() + Start);
  std::fill(File.begin() + Start + Image.size(), File.begin() + Start + *P.AreaSize, Fill);
  return File;
}

std::vector<uint8_t> FromArea(const std::string& Path, const std::vector<uint8_t>& File,
                              const Placement& P) {
  const size_t Start = *P.Fru * *P.AreaSize;
  if (File.size() <= Start) {
    throw tools::InputError(Path + ": " + std::to_string(File.size()) +
                            " bytes hold no area for FRU device " + std::to_string(*P.Fru));
  }
  return {File.begin() + Start, File.begin() + std::min(File.size(), Start + *P.AreaSize)};
}

int Build(const std::string& Description, const std::string& Output, const Placement& P) {
  const nlohmann::json J = tools::ReadJsonFile(Description);
  const mailbox_format::MailboxImage Image =
      tools::MailboxFromJson(tools::JsonView(J, Description));
  const std::vector<uint8_t> Bytes = mailbox_format::EncodeMailboxImage(Image);
  WriteImage(Output, P.AreaSize ? IntoArea(Output, Bytes, Image.Fill, P) : Bytes);
  const mailbox_format::MailboxLayout Layout = mailbox_format::PlaceMailbox(Image);
  std::cout << Output << ": " << Bytes.size() << " bytes";
  if (P.AreaSize) {
    std::cout << " in the area of FRU device " << *P.Fru << " at "
              << tools::HexNumber(*P.Fru * *P.AreaSize, 6);
  }
  std::cout << ", header at " << tools::HexNumber(Layout.HeaderOffset, 4) << ", result area at "
            << tools::HexNumber(Layout.ResultAreaOffset, 4) << "\n";
  if (P.Fru) {
    std::cout << tools::DescribeFruDevice(static_cast<UINT8>(*P.Fru)) << "\n";
  }
  return 0;
}

int Decode(const std::string& Path, bool Json, const Placement& P) {
  std::vector<uint8_t> Bytes = ReadImage(Path);
  if (P.AreaSize) {
    Bytes = FromArea(Path, Bytes, P);
  }
  mailbox_format::DecodedMailbox Decoded;
  try {
    Decoded = mailbox_format::DecodeMailboxImage(Bytes);
  } catch (const mailbox_format::MailboxFormatError& E) {
    throw tools::InputError(Path + ": " + E.what());
  }
  if (Json) {
    nlohmann::ordered_json J = tools::MailboxToJson(Decoded);
    if (P.Fru) {
      // Under "decoded", which a build ignores: the description still builds the same bytes.
      J["decoded"]["fru"] = *P.Fru;
      J["decoded"]["fru_device"] = tools::DescribeFruDevice(static_cast<UINT8>(*P.Fru));
    }
    std::cout << J.dump(2) << "\n";
  } else {
    std::cout << Path << ": ";
    if (P.Fru) {
      std::cout << tools::DescribeFruDevice(static_cast<UINT8>(*P.Fru)) << "\n";
    }
    std::cout << tools::DescribeMailbox(Decoded);
  }
  return 0;
}

struct DeviceToCheck {
  unsigned FruId;
  std::vector<uint8_t> Bytes;
};

// A mailbox description is built as build builds it, and a scenario of bladecfg-sim gives each of
// its FRU devices with its own id; anything that is not a JSON object is a FRU image.
std::vector<DeviceToCheck> DevicesToCheck(const std::string& Path, unsigned FruId) {
  const std::vector<uint8_t> Bytes = ReadImage(Path);
  const auto First = std::find_if(Bytes.begin(), Bytes.end(), [](uint8_t B) {
    return B != ' ' && B != '\t' && B != '\n' && B != '\r';
  });
  if (First == Bytes.end() || *First != '{') {
    if (Bytes.size() > mailbox_format::FruAddressSpace) {
      throw tools::InputError(Path + ": " + std::to_string(Bytes.size()) +
                              " bytes; a FRU device holds at most 65536");
    }
    return {{FruId, Bytes}};
  }
  const nlohmann::json J = tools::ReadJsonFile(Path);
  if (J.is_object() && J.contains("fru_devices")) {
    std::vector<DeviceToCheck> Devices;
    for (const tools::FruDeviceSetup& Fru : tools::LoadScenario(Path).Frus) {
      if (Fru.Source != "empty") {
        Devices.push_back({Fru.Id, Fru.Bytes});
      }
    }
    return Devices;
  }
  try {
    return {{FruId,
             mailbox_format::EncodeMailboxImage(tools::MailboxFromJson(tools::JsonView(J, Path)))}};
  } catch (const mailbox_format::MailboxFormatError& E) {
    throw tools::InputError(Path + ": " + E.what());
  }
}

int Check(const std::string& Path, unsigned FruId, bool Json) {
  std::vector<DeviceToCheck> Devices;
  try {
    Devices = DevicesToCheck(Path, FruId);
  } catch (const tools::InputError& E) {
    // What the description cannot hold never reaches a BMC in one piece.
    std::cout << "will fail: " << E.what() << "\nsomething will fail\n";
    return 1;
  }
  bool WillFail = false;
  nlohmann::ordered_json Checked = nlohmann::ordered_json::array();
  for (const DeviceToCheck& D : Devices) {
    const tools::MailboxCheckResult Result =
        tools::CheckMailbox(D.Bytes, static_cast<UINT8>(D.FruId));
    WillFail = WillFail || Result.WillFail();
    if (Json) {
      Checked.push_back(tools::CheckToJson(Result));
    } else {
      std::cout << Path << ": " << tools::DescribeCheck(Result);
    }
  }
  if (Json) {
    std::cout << nlohmann::ordered_json{{"file", Path},
                                        {"devices", Checked},
                                        {"will_fail", WillFail}}
                     .dump(2)
              << "\n";
  }
  return WillFail ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
  CLI::App App{"Builds and decodes FRU images holding a BladeCfgDxe command mailbox."};
  App.require_subcommand(1);

  std::string Description, Output, BuildFru, BuildArea;
  CLI::App* BuildCmd = App.add_subcommand("build", "build a FRU image from a JSON description");
  BuildCmd->add_option("description", Description, "the mailbox description (JSON)")->required();
  BuildCmd->add_option("-o,--output", Output, "the FRU image to write")->required();
  BuildCmd->add_option("--fru", BuildFru,
                       "the FRU device the mailbox is for (shows what it serves)");
  BuildCmd->add_option("--area-size", BuildArea,
                       "write the image as that device's area of a file of areas of this size");

  std::string Image, DecodeFru, DecodeArea;
  bool Json = false;
  CLI::App* DecodeCmd =
      App.add_subcommand("decode", "show the mailbox in a FRU image or dump, or describe it");
  DecodeCmd->add_option("image", Image, "the FRU image")->required()->check(CLI::ExistingFile);
  DecodeCmd->add_flag("--json", Json, "print a JSON description that builds the same bytes");
  DecodeCmd->add_option("--fru", DecodeFru, "the FRU device the image is from");
  DecodeCmd->add_option("--area-size", DecodeArea,
                        "take that device's area out of a file of areas of this size");

  std::string Checked;
  unsigned FruId = 1;
  bool CheckJson = false;
  CLI::App* CheckCmd = App.add_subcommand(
      "check", "show how the driver will take each command of a description or FRU image, and "
               "what will fail (exit status 1)");
  CheckCmd
      ->add_option("mailbox", Checked,
                   "a mailbox description, a FRU image, or a bladecfg-sim scenario")
      ->required()
      ->check(CLI::ExistingFile);
  CheckCmd
      ->add_option("--fru", FruId,
                   "the FRU device that holds a description or image (default 1, the platform's)")
      ->check(CLI::Range(0, 255));
  CheckCmd->add_flag("--json", CheckJson, "print the findings as JSON");

  CLI11_PARSE(App, argc, argv);
  try {
    if (CheckCmd->parsed()) {
      return Check(Checked, FruId, CheckJson);
    }
    return BuildCmd->parsed() ? Build(Description, Output, PlacementOf(BuildFru, BuildArea))
                              : Decode(Image, Json, PlacementOf(DecodeFru, DecodeArea));
  } catch (const tools::InputError& E) {
    std::cerr << "bladecfg-mailbox: " << E.what() << "\n";
    return 1;
  }
}
