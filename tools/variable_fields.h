// The platform variables by field: names, places and kinds of the fields the driver touches, so
// that scenarios can set fields by name and reports can show what changed field by field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/variables.h"
#include "sim/firmware.h"

namespace tools {

enum class FieldKind {
  Number,   // little-endian unsigned integer of 1, 2 or 4 bytes
  Bytes,    // shown and given as hexadecimal bytes in stored order
  Text16,   // text widened to 16-bit units, zero-terminated when shorter than the field
  ByteList, // a list of one-byte numbers
};

// A named bit group of a number field, for reading masks (DeviceEnableMask and its like).
struct FieldBits {
  const char* Name;
  uint32_t Mask;
};

struct VariableField {
  const char* Name;
  size_t Offset;
  size_t Size;
  FieldKind Kind;
  std::vector<FieldBits> Bits;
};

struct KnownVariable {
  const char* Label; // "TalBladeData", "SystemSetup" (named Setup), ...
  const PlatformVariable* Var;
  std::vector<VariableField> Fields;
};

const std::vector<KnownVariable>& KnownVariables();
const KnownVariable* FindVariable(const std::string& Label);
const VariableField* FindField(const KnownVariable& Var, const std::string& Name);

// A field's value in Data as text: numbers in hexadecimal with the names of their set bit groups,
// bytes in hexadecimal, texts quoted, lists bracketed.
std::string FormatField(const VariableField& Field, const std::vector<uint8_t>& Data);

uint32_t ReadNumber(const std::vector<uint8_t>& Data, size_t Offset, size_t Size);
void WriteNumber(std::vector<uint8_t>& Data, size_t Offset, size_t Size, uint32_t Value);

// A copy of the platform variables, to compare the store after a boot with the store before it.
struct VariableSnapshot {
  struct Entry {
    const KnownVariable* Var;
    std::optional<std::vector<uint8_t>> Data;
  };
  std::vector<Entry> Entries;
};

VariableSnapshot TakeSnapshot(const sim::VariableStore& Store);

// One difference: a field, a run of bytes outside the named fields, or a variable that appeared or
// went away (Field empty, Before or After "absent").
struct FieldChange {
  std::string Variable;
  std::string Field;
  std::string Before;
  std::string After;
};

std::vector<FieldChange> CompareSnapshots(const VariableSnapshot& Before,
                                          const VariableSnapshot& After);

} // namespace tools
