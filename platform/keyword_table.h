// The platform command vocabulary: the command prefixes and the PlatformKeywordTable, a constant
// table of 51-byte rows (a code and a 50-character keyword) ended by the "DUMMY" row. Lookups take
// the first row whose keyword is a case-insensitive prefix of the text, so row order matters:
// "OEMTAL_ACTIVECORE=ALL" must stay ahead of "OEMTAL_ACTIVECORE=".
#pragma once

#include "uefi/types.h"

constexpr UINTN KeywordFieldSize = 50;

// A command prefix, stored as keywords are: NUL-terminated in a zero-filled 50-character field.
struct CommandPrefix {
  CHAR8 Text[KeywordFieldSize];
};

constexpr CommandPrefix PrefixBootCfgSetting = {
    "SET BOOTCFGSETTING1 "};                             // a platform keyword follows
constexpr CommandPrefix PrefixNetPort = {"SET NETPORT"}; // an adapter port digit follows
constexpr CommandPrefix PrefixB1 = {"SET B1 "};          // short form of PrefixBootCfgSetting
constexpr CommandPrefix PrefixN = {"SET N"};             // short form of PrefixNetPort
constexpr CommandPrefix PrefixMultiFunctionSf = {"MULTIFUNCTIONMODE=SF"};
constexpr CommandPrefix PrefixMultiFunctionNpar = {"MULTIFUNCTIONMODE=NPAR"};

#pragma pack(push, 1)
struct PlatformKeyword {
  UINT8 Code;
  CHAR8 Keyword[KeywordFieldSize];
};
#pragma pack(pop)
static_assert(sizeof(PlatformKeyword) == 51, "PlatformKeywordTable row");

// Keyword codes; each equals its row's position in the table.
enum PlatformKeywordCode : UINT8 {
  KeywordLom1Enable = 0,
  KeywordLom1Disable = 1,
  KeywordLom2Enable = 2,
  KeywordLom2Disable = 3,
  KeywordLom3Enable = 4,
  KeywordLom3Disable = 5,
  KeywordLom4Enable = 6,
  KeywordLom4Disable = 7,
  KeywordIscsiEnable = 8,
  KeywordIscsiDisable = 9,
  KeywordMez1Enable = 10,
  KeywordMez1Disable = 11,
  KeywordMez2Enable = 12,
  KeywordMez2Disable = 13,
  KeywordMez2BEnable = 14,
  KeywordMez2BDisable = 15,
  KeywordIpl1Cd = 16,
  KeywordIpl1Floppy = 17,
  KeywordIpl1Key = 18,
  KeywordIpl1Network = 19,
  KeywordIpl1Pci = 20,
  KeywordIpl1Usb = 21,
  KeywordIpl1Ide = 22,
  KeywordSasEnable = 23,
  KeywordSasDisable = 24,
  KeywordSwRaidEnable = 25,
  KeywordSwRaidDisable = 26,
  KeywordHwRaidEnable = 27,
  KeywordHwRaidDisable = 28,
  KeywordIdeEnable = 29,
  KeywordIdeDisable = 30,
  KeywordMez3Enable = 31,
  KeywordMez3Disable = 32,
  KeywordMez4Enable = 33,
  KeywordMez4Disable = 34,
  KeywordMez4BEnable = 35,
  KeywordMez4BDisable = 36,
  KeywordSio1Enable = 37,
  KeywordSio1Disable = 38,
  KeywordSio2Enable = 39,
  KeywordSio2Disable = 40,
  KeywordIpl1Default = 41,
  KeywordPxePermAddrEnable = 42,
  KeywordPxePermAddrDisable = 43,
  KeywordFcPermAddr11Enable = 44,
  KeywordFcPermAddr11Disable = 45,
  KeywordFcPermAddr12Enable = 46,
  KeywordFcPermAddr12Disable = 47,
  KeywordFcPermAddr21Enable = 48,
  KeywordFcPermAddr21Disable = 49,
  KeywordFcPermAddr22Enable = 50,
  KeywordFcPermAddr22Disable = 51,
  KeywordSio1DacEnable = 52,
  KeywordSio1DacDisable = 53,
  KeywordSio2DacEnable = 54,
  KeywordSio2DacDisable = 55,
  KeywordAcLinkStayOff = 56,
  KeywordAcLinkStayOn = 57,
  KeywordAcLinkLastState = 58,
  KeywordActiveCoreAll = 59,
  KeywordActiveCoreValue = 60,
  KeywordNumaEnable = 61,
  KeywordNumaDisable = 62,
  KeywordUuidValue = 63,
  KeywordSerialValue = 64,
  KeywordOemDefault = 65,
  KeywordDefault = 66,
  KeywordIov1Bus1Enable = 67,
  KeywordIov1Bus1Disable = 68,
  KeywordIov1Bus2Enable = 69,
  KeywordIov1Bus2Disable = 70,
  KeywordIov1Bus3Enable = 71,
  KeywordIov1Bus3Disable = 72,
  KeywordIov1Bus4Enable = 73,
  KeywordIov1Bus4Disable = 74,
  KeywordIov2Bus1Enable = 75,
  KeywordIov2Bus1Disable = 76,
  KeywordIov2Bus2Enable = 77,
  KeywordIov2Bus2Disable = 78,
  KeywordIov2Bus3Enable = 79,
  KeywordIov2Bus3Disable = 80,
  KeywordIov2Bus4Enable = 81,
  KeywordIov2Bus4Disable = 82,
  KeywordConRedirectEnable = 83,
  KeywordConRedirectDisable = 84,
  KeywordFcoeValue = 85,
  KeywordClpFailurePauseEnable = 86,
  KeywordClpFailurePauseDisable = 87,
  KeywordEmFailurePauseEnable = 88,
  KeywordEmFailurePauseDisable = 89,
  KeywordEnd = 0xFF, // the "DUMMY" terminator row
};

constexpr UINTN PlatformKeywordCount = 90;
extern const PlatformKeyword PlatformKeywordTable[PlatformKeywordCount + 1];

// The first row whose keyword starts Text (the command past its prefix), or the terminator row.
// MatchedLength receives the keyword's length: where a value after a keyword ending in "=" starts.
const PlatformKeyword* LookupPlatformKeyword(const CHAR8* Text, UINT16* MatchedLength);
