// The mailbox check of bladecfg-mailbox: a FRU device image read the way the driver reads it
// (header search, 16-byte requests, 16-bit offsets, at most 32 commands a list), every command
// classified by the driver's own matching functions and tables (the platform pass's keyword
// lookup, the adapter run's rewriting for each adapter position and vendor, and its stop after a
// list that holds a 33rd command), and what will fail: texts the host refuses, unknown keywords,
// over-long lists, result records that land on the lists, offsets that wrap.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "uefi/types.h"

namespace tools {

enum class CheckLevel {
  Warning, // works, but probably not as meant
  Failure, // the host will refuse it, fail on it, or lose results
};

struct CheckFinding {
  CheckLevel Level;
  std::string Text;
};

// What one executor does with one command: "platform pass" or "adapter run".
struct CommandRoute {
  std::string Executor;
  std::string Outcome;
};

// What one adapter position receives of a command, for one of the vendors the check tries.
struct AdapterDelivery {
  UINT16 Vendor; // 0x8086, 0x14E4, or 0 for every other vendor
  UINT8 Row;     // of the AdapterSlotTable
  std::string Text;
};

struct CheckedCommand {
  UINT8 List = 0;
  UINT8 Index = 0;
  UINT16 Offset = 0;
  UINT16 Id = 0;
  std::string Text;
  // False for what no executor runs: the 33rd and later commands of a list, and every command of a
  // list that no executor reaches.
  bool Runs = true;
  // "platform keyword", "unknown platform keyword", "platform setting in an adapter list",
  // "adapter port command", "not recognised".
  std::string Kind;
  std::string Detail; // the keyword and its code, or the port
  std::vector<CommandRoute> Routes;
  std::vector<AdapterDelivery> Deliveries; // in row order for each vendor
  std::vector<CheckFinding> Findings;
};

struct MailboxCheckResult {
  UINT8 FruId = 0;
  size_t DeviceSize = 0;
  std::optional<UINT16> HeaderOffset;
  UINT16 ResultAreaOffset = 0;
  std::vector<std::string> Readers; // who reads this FRU device's mailbox, and which lists
  std::vector<CheckedCommand> Commands;
  std::vector<CheckFinding> Findings; // about the mailbox as a whole
  bool WillFail() const;
};

// Checks the mailbox of FRU device FruId, whose whole contents are Device.
MailboxCheckResult CheckMailbox(const std::vector<uint8_t>& Device, UINT8 FruId);

std::string DescribeCheck(const MailboxCheckResult& Result);
nlohmann::ordered_json CheckToJson(const MailboxCheckResult& Result);

} // namespace tools
