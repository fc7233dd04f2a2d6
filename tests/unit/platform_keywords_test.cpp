// The platform keyword table and its first-match lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/keyword_table.h"
#include "platform/text.h"
#include "tests/support/exact_text.h"

namespace {

using testing_support::ExactText;

TEST(PlatformKeywordTable, NinetyRowsInCodeOrderThenDummy) {
  for (UINTN Row = 0; Row <= 90; ++Row) {
    const PlatformKeyword& K = PlatformKeywordTable[Row];
    EXPECT_EQ(K.Code, Row < 90 ? Row : 0xFF) << "row " << Row;
    const size_t Length = strnlen(K.Keyword, sizeof(K.Keyword));
    ASSERT_LT(Length, 50u) << "row " << Row << " is not NUL-terminated";
    for (size_t I = Length; I < sizeof(K.Keyword); ++I) {
      EXPECT_EQ(K.Keyword[I], 0) << "row " << Row << " is not zero-filled at " << I;
    }
  }
  EXPECT_STREQ(PlatformKeywordTable[90].Keyword, "DUMMY");
}

struct LookupCase {
  const char* Text;
  UINT8 Code;
  UINT16 Length;
};

class LookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, FirstMatchingRowAndItsLength) {
  const LookupCase& C = GetParam();
  auto Text = ExactText(C.Text);
  UINT16 Length = 0xBEEF;
  const PlatformKeyword* Row = LookupPlatformKeyword(Text.get(), &Length);
  ASSERT_NE(Row, nullptr);
  EXPECT_EQ(Row->Code, C.Code) << "'" << C.Text << "'";
  EXPECT_EQ(Length, C.Length) << "'" << C.Text << "'"; // 0 when no row matches
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LookupTest,
    ::testing::Values(
        LookupCase{"OEMTAL_LOM1=ENABLE", 0, 18}, LookupCase{"oemtal_lom1=enable", 0, 18},
        LookupCase{"OemTal_Lom1=Enable", 0, 18}, LookupCase{"OEMTAL_LOM1=ENABLED", 0, 18},
        LookupCase{"OEMTAL_LOM1=DISABLE", 1, 19}, LookupCase{"OEMTAL_ACTIVECORE=ALL", 59, 21},
        LookupCase{"OEMTAL_ACTIVECORE=4", 60, 18}, LookupCase{"OEMTAL_ACTIVECORE=all", 59, 21},
        LookupCase{"OEMTAL_UUID=0011", 63, 12}, LookupCase{"OEMTAL_SERIAL=X", 64, 14},
        LookupCase{"OEMTAL_FCOE=1234", 85, 12}, LookupCase{"OEMTAL_IPL1_DEFAULT", 41, 19},
        LookupCase{"OEMTAL_IPL1=CD", 16, 14}, LookupCase{"OEMTAL_MEZ2B=ENABLE", 14, 19},
        LookupCase{"OEMTAL_MEZ4B=DISABLE", 36, 20}, LookupCase{"OEMTAL_SIO1DAC=ENABLE", 52, 21},
        LookupCase{"OEMTAL_IOV2_BUS4=DISABLE", 82, 24},
        LookupCase{"OEMTAL_CLPFAILUREPAUSE=ENABLE", 86, 29},
        LookupCase{"OEMTAL_EMFailurePause=DISABLE", 89, 29}, LookupCase{"OEMTAL_DEFAULT", 65, 14},
        LookupCase{"DEFAULT", 66, 7}, LookupCase{"default", 66, 7}, LookupCase{"DUMMY", 0xFF, 0},
        LookupCase{"OEMTAL_LOM5=ENABLE", 0xFF, 0}, LookupCase{"OEMTAL_LOM1", 0xFF, 0},
        LookupCase{"", 0xFF, 0}, LookupCase{" OEMTAL_LOM1=ENABLE", 0xFF, 0}));

// The lookup skips rows by what it learnt from the row before; it must find what a walk that
// compares every row in full finds, for every keyword, every start of one, a keyword with any one
// character changed or its case flipped, and keywords followed by more text.
TEST(LookupTest, AgreesWithAFullWalkOverEveryRow) {
  auto FullWalk = [](const CHAR8* Text, UINT16* Length) {
    const PlatformKeyword* Row = PlatformKeywordTable;
    for (; Row->Code != KeywordEnd; ++Row) {
      if (TextStartsWith(Text, Row->Keyword, Length)) {
        return Row;
      }
    }
    *Length = 0;
    return Row;
  };
  std::vector<std::string> Texts;
  for (UINTN Row = 0; Row <= 90; ++Row) {
    const std::string K = PlatformKeywordTable[Row].Keyword;
    Texts.push_back(K + "X");
    for (size_t I = 0; I <= K.size(); ++I) {
      Texts.push_back(K.substr(0, I));
      if (I < K.size()) {
        for (char Other : {'A', 'z', '=', '_', '1', '\xC9'}) {
          std::string Changed = K;
          Changed[I] = Other;
          Texts.push_back(Changed);
        }
        std::string Flipped = K;
        Flipped[I] = static_cast<char>(Flipped[I] ^ 0x20);
        Texts.push_back(Flipped);
      }
    }
  }
  for (const std::string& T : Texts) {
    auto Text = ExactText(T.c_str());
    UINT16 Length = 0xBEEF, Expected = 0xBEEF;
    const PlatformKeyword* Row = LookupPlatformKeyword(Text.get(), &Length);
    EXPECT_EQ(Row, FullWalk(Text.get(), &Expected)) << "'" << T << "'";
    EXPECT_EQ(Length, Expected) << "'" << T << "'";
  }
}

} // namespace
