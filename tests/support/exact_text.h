// A text in a heap block of exactly its own size, so that the sanitizer build catches any read past
// its end (a std::string would hide such a read in its spare capacity).
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "uefi/types.h"

namespace testing_support {

// The text followed by its NUL, or without one when WithNul is false.
inline std::unique_ptr<CHAR8[]> ExactText(std::string_view Text, bool WithNul = true) {
  std::unique_ptr<CHAR8[]> Block(new CHAR8[Text.size() + (WithNul ? 1 : 0)]);
  std::memcpy(Block.get(), Text.data(), Text.size());
  if (WithNul) {
    Block[Text.size()] = 0;
  }
  return Block;
}

} // namespace testing_support
