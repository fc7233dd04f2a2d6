// The vendor vocabulary of adapters of PCI vendor 0x8086: the platform's OEM keywords and values
// and what that vendor calls them. Constant tables of 101-byte rows (a code and two 50-character
// texts) ended by a "DUMMY" row; lookups take the first row whose text is a case-insensitive
// prefix of the command, so row order matters.
#pragma once

#include "platform/keyword_table.h"

#pragma pack(push, 1)
struct AdapterKeyword {
  UINT8 Code;
  CHAR8 Key[KeywordFieldSize];
  CHAR8 Replacement[KeywordFieldSize];
};

struct AdapterValue {
  UINT8 Code; // the AdapterKeywordMap code whose values the row translates
  CHAR8 Value[KeywordFieldSize];
  CHAR8 Replacement[KeywordFieldSize];
};
#pragma pack(pop)
static_assert(sizeof(AdapterKeyword) == 101, "AdapterKeywordMap row");
static_assert(sizeof(AdapterValue) == 101, "AdapterValueMap row");

// Keyword codes; each equals its row's position in the AdapterKeywordMap.
enum AdapterKeywordCode : UINT8 {
  AdapterKeyPermanentAddress = 0,
  AdapterKeyTalBootEnable = 1,
  AdapterKeyQxBootEnable = 2,
  AdapterKeyBootPriority = 3,
  AdapterKeyInitiatorAddressOrigin = 4,
  AdapterKeyInitiatorName = 5,
  AdapterKeyInitiatorIp = 6,
  AdapterKeyInitiatorNetmask = 7,
  AdapterKeyInitiatorRoute = 8,
  AdapterKeyTargetAddressOrigin = 9,
  AdapterKeyTargetName = 10,
  AdapterKeyTargetIp = 11,
  AdapterKeyTargetPort = 12,
  AdapterKeyLun = 13,
  AdapterKeyUserName = 14,
  AdapterKeySecret = 15,
  AdapterKeyMutualSecret = 16,
  AdapterKeyAuthenticationMethod = 17,
  AdapterKeyDefault = 18, // its replacement is a whole setting, value included
  AdapterKeyExpansionRomMenu = 19,
  AdapterKeyEnd = 0xFF,
};

// The command word ("SET ") that every translated text starts with.
constexpr UINT16 CommandWordLength = 4;

constexpr UINTN AdapterKeywordCount = 20;
constexpr UINTN AdapterValueCount = 9;
extern const AdapterKeyword AdapterKeywordMap[AdapterKeywordCount + 1];
extern const AdapterValue AdapterValueMap[AdapterValueCount + 1];

// Rewrites in place a text of a four-character command word ("SET "), an OEM key, "=" and a value
// into the vendor's key and value. A text without a known key, a key not followed by "=", a result
// that would not fit the 256-byte buffer with its NUL, or a pool failure leave the text unchanged.
void TranslateAdapterKeywords(CHAR8* Text);
