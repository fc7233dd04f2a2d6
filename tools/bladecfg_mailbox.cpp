// bladecfg-mailbox: builds FRU images holding a command mailbox from a readable description,
// decodes FRU images or dumps back into header, command lists and result records, and checks a
// mailbox before it goes to a BMC.
//
//   bladecfg-mailbox build commands.json -o fru1.bin
//   bladecfg-mailbox decode fru1.bin            # readable listing
//   bladecfg-mailbox decode fru1.bin --json     # a description that builds the same bytes
//   bladecfg-mailbox check commands.json        # how the driver takes each command; exit status 1
//   bladecfg-mailbox check fru5.bin --fru 5     # when something will fail
#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>

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

int Build(const std::string& Description, const std::string& Output) {
  const nlohmann::json J = tools::ReadJsonFile(Description);
  const mailbox_format::MailboxImage Image =
      tools::MailboxFromJson(tools::JsonView(J, Description));
  const std::vector<uint8_t> Bytes = mailbox_format::EncodeMailboxImage(Image);
  WriteImage(Output, Bytes);
  const mailbox_format::MailboxLayout Layout = mailbox_format::PlaceMailbox(Image);
  std::cout << Output << ": " << Bytes.size() << " bytes, header at "
            << tools::HexNumber(Layout.HeaderOffset, 4) << ", result area at "
            << tools::HexNumber(Layout.ResultAreaOffset, 4) << "\n";
  return 0;
}

int Decode(const std::string& Path, bool Json) {
  mailbox_format::DecodedMailbox Decoded;
  try {
    Decoded = mailbox_format::DecodeMailboxImage(ReadImage(Path));
  } catch (const mailbox_format::MailboxFormatError& E) {
    throw tools::InputError(Path + ": " + E.what());
  }
  if (Json) {
    std::cout << tools::MailboxToJson(Decoded).dump(2) << "\n";
  } else {
    std::cout << Path << ": " << tools::DescribeMailbox(Decoded);
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

  std::string Description, Output;
  CLI::App* BuildCmd = App.add_subcommand("build", "build a FRU image from a JSON description");
  BuildCmd->add_option("description", Description, "the mailbox description (JSON)")->required();
  BuildCmd->add_option("-o,--output", Output, "the FRU image to write")->required();

  std::string Image;
  bool Json = false;
  CLI::App* DecodeCmd =
      App.add_subcommand("decode", "show the mailbox in a FRU image or dump, or describe it");
  DecodeCmd->add_option("image", Image, "the FRU image")->required()->check(CLI::ExistingFile);
  DecodeCmd->add_flag("--json", Json, "print a JSON description that builds the same bytes");

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
    return BuildCmd->parsed() ? Build(Description, Output) : Decode(Image, Json);
  } catch (const tools::InputError& E) {
    std::cerr << "bladecfg-mailbox: " << E.what() << "\n";
    return 1;
  }
}
