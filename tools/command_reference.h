// The command reference, generated from the driver's own tables: the command prefixes and the
// matching rule, every platform keyword with its code and the setting it changes, the adapter
// keyword and value maps, the status words, the mailbox layout and the platform variables. The
// JSON form is for programs, the Markdown form for people; docs/reference/ holds both, and a test
// fails when they differ from what the tables give.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tools {

nlohmann::ordered_json BuildCommandReference();

std::string CommandReferenceMarkdown(const nlohmann::ordered_json& Reference);

// The two files as docs/reference/ holds them: name and contents.
struct ReferenceFile {
  std::string Name;
  std::string Contents;
};
std::vector<ReferenceFile> CommandReferenceFiles();

} // namespace tools
