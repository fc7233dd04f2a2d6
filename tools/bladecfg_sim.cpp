// bladecfg-sim: runs the driver in a simulated blade described by a scenario file and reports what
// it did: every mailbox command with its status word, each adapter driver's arrival with the
// commands sent to it, the variables changed field by field, status codes, resets, IPMI requests
// and time.
//
//   bladecfg-sim                       # the built-in default blade
//   bladecfg-sim scenario.json --json  # a scenario of your own, machine-readable report
//   bladecfg-sim --print-default       # the default blade as a scenario file to start from
//   bladecfg-sim scenario.json --dump-fru out   # and the FRU devices after the boot in out/
#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tools/report.h"
#include "tools/report_adapters.h"
#include "tools/scenario.h"
#include "tools/sim_run.h"

namespace {

// Writes DIR/fru<ID>.bin for every FRU device, for bladecfg-mailbox decode and other FRU tools.
bool DumpFrus(const tools::RunOutcome& Run, const std::string& Directory) {
  std::error_code Error;
  std::filesystem::create_directories(Directory, Error);
  for (const auto& [Id, Bytes] : Run.FrusAtEnd) {
    const std::string Path = Directory + "/fru" + std::to_string(Id) + ".bin";
    std::ofstream Out(Path, std::ios::binary);
    Out.write(reinterpret_cast<const char*>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    if (!Out) {
      std::cerr << "bladecfg-sim: cannot write " << Path << "\n";
      return false;
    }
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  CLI::App App{"Runs BladeCfgDxe in a simulated blade and reports what it did."};
  std::string ScenarioPath;
  bool Json = false, Trace = false, PrintDefault = false;
  App.add_option("scenario", ScenarioPath,
                 "scenario file (JSON); without one the built-in default blade runs");
  App.add_flag("--json", Json, "print the report as JSON");
  App.add_flag("--trace", Trace, "add every IPMI request to the report");
  std::string DumpDirectory;
  App.add_option("--dump-fru", DumpDirectory,
                 "write every FRU device as the boot left it to DIR/fru<ID>.bin")
      ->type_name("DIR");
  App.add_flag("--print-default", PrintDefault,
               "print the built-in default blade as a scenario file and stop");
  CLI11_PARSE(App, argc, argv);

  if (PrintDefault) {
    std::cout << tools::DefaultScenarioText();
    return 0;
  }
  tools::Scenario Scenario;
  try {
    Scenario = ScenarioPath.empty() ? tools::DefaultScenario() : tools::LoadScenario(ScenarioPath);
  } catch (const tools::InputError& E) {
    std::cerr << "bladecfg-sim: " << E.what() << "\n";
    return 2;
  }
  const tools::RunOutcome Run = tools::RunScenario(Scenario);
  if (Json) {
    // Mailbox texts go in as hex when they are not plain ASCII; anything else that is not UTF-8
    // (a file name) ends the run with a message rather than an abort.
    try {
      std::cout << tools::JsonReport(Run, Trace).dump(2) << "\n";
    } catch (const nlohmann::json::exception& E) {
      std::cerr << "bladecfg-sim: the JSON report cannot be written: " << E.what() << "\n";
      return 1;
    }
  } else {
    std::cout << tools::TextReport(Run, Trace);
  }
  if (!DumpDirectory.empty() && !DumpFrus(Run, DumpDirectory)) {
    return 1;
  }
  for (const std::string& Problem : Run.Problems) {
    std::cerr << "simulated blade: " << Problem << "\n";
  }
  // A boot that neither came back nor reset (a hang, in the entry, an adapter's arrival or the
  // completion signal), or misuse the blade saw, fails the run.
  const bool Ended = (Run.Entry.Returned || Run.Entry.Reset) &&
                     !tools::AnyArrivalHung(Run.Arrivals) &&
                     !(Run.Completion && Run.Completion->Hang);
  return Ended && Run.Problems.empty() ? 0 : 1;
}
