// Text primitives of the command lines: prefix matching with letter folding, bounded copies, the
// in-place shift, and hexadecimal and underscore scanning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/exact_text.h"

namespace {

using testing_support::ExactText;

struct StartsCase {
  const char* Text;
  const char* Pattern;
  bool Match;
  UINT16 Length;
};

class TextStartsWithTest : public ::testing::TestWithParam<StartsCase> {};

TEST_P(TextStartsWithTest, MatchesPrefixesFoldingLettersOnly) {
  const StartsCase& C = GetParam();
  auto Text = ExactText(C.Text);
  auto Pattern = ExactText(C.Pattern);
  UINT16 Length = 0xBEEF; // always written, also on a mismatch
  EXPECT_EQ(TextStartsWith(Text.get(), Pattern.get(), &Length), C.Match ? TRUE : FALSE)
      << "'" << C.Text << "' / '" << C.Pattern << "'";
  EXPECT_EQ(Length, C.Length) << "'" << C.Text << "' / '" << C.Pattern << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, TextStartsWithTest,
    ::testing::Values(StartsCase{"SET NETPORT1 X", "SET N", true, 5},
                      StartsCase{"SET", "SET N", false, 0}, // fails at the text's own NUL
                      StartsCase{"set netport1", "SET N", true, 5},
                      StartsCase{"SET N", "set n", true, 5},
                      StartsCase{"OEMTAL_LOM1=ENABLED", "OEMTAL_LOM1=ENABLE", true, 18},
                      StartsCase{"OEMTAL_LOM1=ENABLE", "OEMTAL_LOM1=ENABLED", false, 0},
                      StartsCase{"AZaz", "azAZ", true, 4}, StartsCase{"ABC", "ABD", false, 0},
                      StartsCase{"ABC", "", true, 0}, StartsCase{"", "", true, 0},
                      StartsCase{"", "A", false, 0},
                      // Bytes 0x20 apart that are not letters never match.
                      StartsCase{"\x5B", "\x7B", false, 0}, StartsCase{"\x7B", "\x5B", false, 0},
                      StartsCase{"\x40", "\x60", false, 0}, StartsCase{"\x60", "\x40", false, 0},
                      StartsCase{"\x5E", "\x7E", false, 0}, StartsCase{"\x7E", "\x5E", false, 0},
                      // Bytes above 0x7F compare exactly.
                      StartsCase{"\xC1", "\xE1", false, 0}, StartsCase{"\xE1", "\xC1", false, 0},
                      StartsCase{"\xE9X", "\xE9x", true, 2}));

TEST(TextStartsWith, PatternIsCountedToAtMost256Characters) {
  const std::string Long(300, 'A');
  auto Text = ExactText(Long);
  auto Pattern = ExactText(Long, /*WithNul=*/false); // no NUL anywhere
  UINT16 Length = 0;
  EXPECT_TRUE(TextStartsWith(Text.get(), Pattern.get(), &Length));
  EXPECT_EQ(Length, 256);
}

struct CopyCase {
  const char* Name;
  std::string Source; // the source buffer, NULs and all
  UINT8 Count;
  bool WithNul;
  size_t DestinationSize;
  std::string Written; // the bytes expected at the front of the destination
};

class CopyTextTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyTextTest, CopiesAtMostTheDestinationSize) {
  const CopyCase& C = GetParam();
  auto Source = ExactText(C.Source, /*WithNul=*/false);
  constexpr CHAR8 Untouched = static_cast<CHAR8>(0xEE);
  std::vector<CHAR8> Destination(C.DestinationSize + 8, Untouched);
  UINT16 Result = CopyText(Source.get(), Destination.data(), C.Count, C.WithNul ? TRUE : FALSE,
                           C.DestinationSize);
  EXPECT_EQ(Result, C.Written.size());
  EXPECT_EQ(std::string(Destination.begin(), Destination.begin() + C.Written.size()), C.Written);
  for (size_t I = C.Written.size(); I < Destination.size(); ++I) {
    ASSERT_EQ(Destination[I], Untouched) << "byte " << I << " written";
  }
}

const std::string LongText = std::string(300, 'x') + '\0';

INSTANTIATE_TEST_SUITE_P(
    Copies, CopyTextTest,
    ::testing::Values(
        CopyCase{"WholeWithNul", std::string("SET \0", 5), 255, true, 256,
                 std::string("SET \0", 5)},
        CopyCase{"WholeWithoutNul", std::string("SET \0", 5), 255, false, 256, "SET "},
        CopyCase{"ExactCountIgnoresWithNul", std::string("SET \0", 5), 4, true, 256, "SET "},
        CopyCase{"ExactCountPassesTheNul", std::string("AB\0CD", 5), 4, false, 256,
                 std::string("AB\0C", 4)},
        CopyCase{"EmptyWithNul", std::string("\0", 1), 255, true, 256, std::string("\0", 1)},
        CopyCase{"ZeroCount", "ABC", 0, true, 256, ""},
        CopyCase{"FitsExactly", std::string("SET \0", 5), 255, true, 5, std::string("SET \0", 5)},
        CopyCase{"CutEndsInNul", std::string("SET BOOT\0", 9), 255, true, 4,
                 std::string("SET\0", 4)},
        CopyCase{"CutWithoutNul", std::string("SET BOOT\0", 9), 255, false, 4, "SET "},
        CopyCase{"ExactCountCut", "SET BOOT", 6, false, 4, "SET "},
        CopyCase{"NothingIntoNothing", std::string("A\0", 2), 255, true, 0, ""},
        // A text longer than 256 is counted to 256; with its NUL it is one byte too many.
        CopyCase{"OverlongTextKeepsItsNul", LongText, 255, true, 256, std::string(255, 'x') + '\0'},
        CopyCase{"OverlongTextWithoutNul", LongText, 255, false, 256, std::string(256, 'x')}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct ShiftCase {
  const char* Name;
  std::string Buffer; // the front of a 256-byte buffer; the rest is filled with '#'
  UINT16 To;
  UINT16 From;
  std::string Text; // the text at To afterwards, up to its NUL
};

class ShiftTextLeftTest : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(ShiftTextLeftTest, ClosesTheGapAndEndsInNul) {
  const ShiftCase& C = GetParam();
  std::string Initial = C.Buffer;
  Initial.resize(256, '#');
  auto Buffer = ExactText(Initial, /*WithNul=*/false); // exactly 256 bytes
  ShiftTextLeft(Buffer.get(), C.To, C.From);
  const CHAR8* Moved = Buffer.get() + C.To;
  size_t Length = 0;
  while (C.To + Length < 256 && Moved[Length] != 0) {
    ++Length;
  }
  ASSERT_LT(C.To + Length, 256u) << "no NUL after the moved text";
  EXPECT_EQ(std::string(Moved, Length), C.Text);
  EXPECT_EQ(std::string(Buffer.get(), C.To), Initial.substr(0, C.To)); // the front is kept
}

std::string Alphabet256() {
  std::string S;
  for (int I = 0; I < 256; ++I) {
    S += static_cast<char>('a' + I % 26);
  }
  return S;
}

INSTANTIATE_TEST_SUITE_P(
    Shifts, ShiftTextLeftTest,
    ::testing::Values(
        ShiftCase{"PortNumberRemoved", std::string("SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE\0", 38),
                  4, 13, "OEMTAL_BOOTENABLE=ENABLE"},
        ShiftCase{"OneCharacter", std::string("ABC\0", 4), 0, 1, "BC"},
        ShiftCase{"NulAtTheLastByte", std::string(250, 'a') + "VWXYZ" + '\0', 10, 250, "VWXYZ"},
        // No NUL in the whole buffer: the move stops at its end and the text is ended there.
        ShiftCase{"NoNul", Alphabet256(), 0, 200, Alphabet256().substr(200)},
        ShiftCase{"NoNulFromTheLastByte", Alphabet256(), 3, 255, Alphabet256().substr(255)}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(HexDigitValue, DigitsOfEitherCaseAndZeroForAnythingElse) {
  const std::vector<std::pair<CHAR8, UINT8>> Cases = {
      {'0', 0},  {'9', 9},  {'A', 10}, {'F', 15},
      {'a', 10}, {'f', 15}, {'G', 0},  {'g', 0},
      {' ', 0},  {'\0', 0}, {'/', 0},  {':', 0},
      {'@', 0},  {'`', 0},  {'-', 0},  {static_cast<CHAR8>(0xC1), 0}};
  for (const auto& [Character, Value] : Cases) {
    EXPECT_EQ(HexDigitValue(Character), Value)
        << "character 0x" << std::hex << int(static_cast<UINT8>(Character));
  }
}

TEST(HexToUint32, ReadsAtMostEightDigits) {
  const std::vector<std::pair<const char*, UINT32>> Cases = {{"1A2b", 0x1A2B},
                                                             {"1A2B", 0x1A2B},
                                                             {"123456789", 0x12345678},
                                                             {"FFFFFFFF", 0xFFFFFFFF},
                                                             {"12G4", 0x12},
                                                             {"", 0},
                                                             {"x12", 0},
                                                             {"0000000A", 0xA},
                                                             {"ab cd", 0xAB}};
  for (const auto& [Text, Value] : Cases) {
    auto Exact = ExactText(Text);
    EXPECT_EQ(HexToUint32(Exact.get()), Value) << "'" << Text << "'";
  }
  // The ninth digit is not even looked at.
  auto NineDigits = ExactText("123456789", /*WithNul=*/false);
  EXPECT_EQ(HexToUint32(NineDigits.get()), 0x12345678u);
}

TEST(PositionAfterUnderscore, FirstUnderscoreWithinTheFirst256Characters) {
  const std::vector<std::pair<std::string, UINT16>> Cases = {{"OEMTAL_BOOTENABLE=ENABLE", 7},
                                                             {"_X", 1},
                                                             {"MULTIFUNCTIONMODE=SF", 0},
                                                             {"", 0},
                                                             {"A_B_C", 2},
                                                             {std::string(255, 'A') + "_", 256},
                                                             {std::string(256, 'A') + "_", 0}};
  for (const auto& [Text, Position] : Cases) {
    auto Exact = ExactText(Text);
    EXPECT_EQ(PositionAfterUnderscore(Exact.get()), Position) << "'" << Text << "'";
  }
}

} // namespace
