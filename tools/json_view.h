// Checked reading of the tools' JSON files (scenarios, mailbox descriptions): every value is looked
// at through a view that knows the file and the place of the value in it, so that a bad value is
// reported as "FILE: PLACE: PROBLEM" and nothing is silently taken for something else.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "mailbox_format/hex_text.h"

namespace tools {

// A problem in an input file; the message names the file, the place and the problem.
class InputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads and parses a JSON file; syntax errors are reported with their line and column.
nlohmann::json ReadJsonFile(const std::string& Path);
nlohmann::json ParseJsonText(const std::string& Text, const std::string& Name);

class JsonView {
public:
  // Name is how the file is named in messages.
  JsonView(const nlohmann::json& Value, std::string Name);

  const nlohmann::json& Value() const { return *Value_; }
  const std::string& Place() const { return Place_; }
  [[noreturn]] void Fail(const std::string& Problem) const;

  bool IsNull() const { return Value_->is_null(); }
  bool IsObject() const { return Value_->is_object(); }
  bool IsArray() const { return Value_->is_array(); }

  // Objects: the member Key must exist (Has) and only the Allowed members may.
  void ExpectObject() const;
  void AllowOnly(std::initializer_list<const char*> Allowed) const;
  void AllowOnly(const std::vector<std::string>& Allowed) const;
  bool Has(const char* Key) const;
  JsonView operator[](const char* Key) const; // fails when the member is missing
  std::vector<std::string> Keys() const;
  JsonView Member(const std::string& Key) const;

  // Arrays.
  size_t Size() const; // fails when not an array
  JsonView operator[](size_t Index) const;

  // Scalars. Numbers may also be written as strings, "0x"-prefixed for hexadecimal.
  uint64_t Unsigned(uint64_t Max) const;
  uint64_t Unsigned(uint64_t Min, uint64_t Max) const;
  bool Bool() const;
  std::string String() const;
  // Bytes as hexadecimal pairs, blanks between them optional: "01 02 FF" or "0102FF".
  std::vector<uint8_t> HexBytes() const;

private:
  JsonView(const nlohmann::json* Value, std::shared_ptr<const std::string> Name, std::string Place);
  const nlohmann::json* Value_;
  std::shared_ptr<const std::string> Name_;
  std::string Place_;
};

// Hexadecimal text for numbers and bytes, as the tools write them.
using mailbox_format::HexBytesText;
using mailbox_format::HexNumber;

} // namespace tools
