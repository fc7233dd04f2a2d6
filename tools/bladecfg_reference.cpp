// bladecfg-reference: writes the command reference (tools/command_reference.h) from the driver's
// own tables, or checks that a folder holds it as the tables give it now.
//
//   bladecfg-reference write docs/reference   # command-reference.json and command-reference.md
//   bladecfg-reference check docs/reference   # exit status 1 when either file is stale
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/command_reference.h"

namespace {

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return In ? Text.str() : std::string();
}

int Write(const std::string& Folder) {
  for (const tools::ReferenceFile& F : tools::CommandReferenceFiles()) {
    const std::string Path = Folder + "/" + F.Name;
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out << F.Contents;
    if (!Out.flush()) {
      std::cerr << "bladecfg-reference: " << Path << ": cannot be written\n";
      return 1;
    }
    std::cout << Path << "\n";
  }
  return 0;
}

int Check(const std::string& Folder) {
  int Stale = 0;
  for (const tools::ReferenceFile& F : tools::CommandReferenceFiles()) {
    const std::string Path = Folder + "/" + F.Name;
    if (ReadFile(Path) != F.Contents) {
      std::cerr << "bladecfg-reference: " << Path << " is not what the driver's tables give\n";
      Stale = 1;
    }
  }
  if (Stale != 0) {
    std::cerr << "bladecfg-reference: write it again with: cmake --build --preset host --target "
                 "command-reference\n";
  }
  return Stale;
}

} // namespace

int main(int argc, char** argv) {
  CLI::App App{"Writes or checks the BladeCfgDxe command reference (JSON and Markdown)."};
  App.require_subcommand(1);
  std::string Folder;
  CLI::App* WriteCmd = App.add_subcommand("write", "write both files into a folder");
  WriteCmd->add_option("folder", Folder, "where to write them")->required();
  CLI::App* CheckCmd = App.add_subcommand("check", "fail when the folder's files are stale");
  CheckCmd->add_option("folder", Folder, "the folder to check")->required();
  CLI11_PARSE(App, argc, argv);
  try {
    return WriteCmd->parsed() ? Write(Folder) : Check(Folder);
  } catch (const std::exception& E) {
    std::cerr << "bladecfg-reference: " << E.what() << "\n";
    return 1;
  }
}
