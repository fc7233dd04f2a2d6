// bladecfg-mailbox: builds FRU images holding a command mailbox from a readable description, and
// decodes FRU images or dumps back into header, command lists and result records.
//
//   bladecfg-mailbox build commands.json -o fru1.bin
//   bladecfg-mailbox decode fru1.bin            # readable listing
//   bladecfg-mailbox decode fru1.bin --json     # a description that builds the same bytes
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/json_view.h"
#include "tools/mailbox_json.h"

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

  CLI11_PARSE(App, argc, argv);
  try {
    return BuildCmd->parsed() ? Build(Description, Output) : Decode(Image, Json);
  } catch (const tools::InputError& E) {
    std::cerr << "bladecfg-mailbox: " << E.what() << "\n";
    return 1;
  }
}
