// The image's own memset, memcpy, memmove and memcmp (image/memory.cpp). The host build compiles
// that file under other names (tests/image/suite.cmake) so that it does not replace the C library
// these tests run on.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

extern "C" {
void* ImageMemset(void* Destination, int Value, size_t Size);
void* ImageMemcpy(void* Destination, const void* Source, size_t Size);
void* ImageMemmove(void* Destination, const void* Source, size_t Size);
int ImageMemcmp(const void* Left, const void* Right, size_t Size);
}

namespace {

TEST(ImageMemoryRoutines, MemsetFillsExactlyTheRangeWithTheLowByte) {
  struct Case {
    size_t Offset;
    size_t Size;
    int Value;
    const char* Expected;
  };
  const Case Cases[] = {
      {2, 3, 'x', "..xxx..."},
      {0, 8, 'y', "yyyyyyyy"},
      {4, 0, 'z', "........"},
      {1, 1, 0x100 + 'w', ".w......"}, // only the low byte is stored
  };
  for (const Case& C : Cases) {
    std::string Buffer = "........";
    EXPECT_EQ(ImageMemset(&Buffer[C.Offset], C.Value, C.Size), &Buffer[C.Offset]);
    EXPECT_EQ(Buffer, C.Expected) << "offset " << C.Offset << " size " << C.Size;
  }
}

TEST(ImageMemoryRoutines, MemcpyCopiesExactlyTheRange) {
  std::string Buffer = "........";
  const std::string Source = "abcdefgh";
  EXPECT_EQ(ImageMemcpy(&Buffer[1], Source.data(), 5), &Buffer[1]);
  EXPECT_EQ(Buffer, ".abcde..");
  EXPECT_EQ(ImageMemcpy(&Buffer[0], Source.data(), 0), &Buffer[0]);
  EXPECT_EQ(Buffer, ".abcde..");
}

TEST(ImageMemoryRoutines, MemmoveCopiesOverlappingRangesAsIfThroughATemporary) {
  struct Case {
    size_t To;
    size_t From;
    size_t Size;
    const char* Expected;
  };
  const Case Cases[] = {
      {2, 0, 6, "ababcdefij"}, // destination above the source: must copy backwards
      {0, 2, 6, "cdefghghij"}, // destination below the source: must copy forwards
      {3, 3, 4, "abcdefghij"}, // onto itself
      {7, 0, 3, "abcdefgabc"}, // apart
      {1, 0, 0, "abcdefghij"},
  };
  for (const Case& C : Cases) {
    std::string Buffer = "abcdefghij";
    EXPECT_EQ(ImageMemmove(&Buffer[C.To], &Buffer[C.From], C.Size), &Buffer[C.To]);
    EXPECT_EQ(Buffer, C.Expected) << "to " << C.To << " from " << C.From << " size " << C.Size;
  }
}

TEST(ImageMemoryRoutines, MemcmpOrdersByTheFirstDifferingByteAsUnsigned) {
  struct Case {
    const char* Left;
    const char* Right;
    size_t Size;
    int Sign;
  };
  const Case Cases[] = {
      {"abc", "abc", 3, 0},    {"abc", "abd", 3, -1}, {"abd", "abc", 3, 1},
      {"azz", "baa", 3, -1},  // the first difference decides, not the later ones
      {"abX", "abY", 2, 0},   // bytes past Size do not count
      {"\x80", "\x7f", 1, 1}, // 0x80 is above 0x7F, not a negative char
      {"\x01", "\xff", 1, -1}, {"x", "y", 0, 0},
  };
  for (const Case& C : Cases) {
    const int Result = ImageMemcmp(C.Left, C.Right, C.Size);
    const int Sign = (Result > 0) - (Result < 0);
    EXPECT_EQ(Sign, C.Sign) << '"' << C.Left << "\" vs \"" << C.Right << "\" size " << C.Size;
  }
}

} // namespace
