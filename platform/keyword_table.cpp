// The PlatformKeywordTable and its lookup.
#include "platform/keyword_table.h"

#include "platform/text.h"

constexpr PlatformKeyword PlatformKeywordTable[PlatformKeywordCount + 1] = {
    {KeywordLom1Enable, "OEMTAL_LOM1=ENABLE"},
    {KeywordLom1Disable, "OEMTAL_LOM1=DISABLE"},
    {KeywordLom2Enable, "OEMTAL_LOM2=ENABLE"},
    {KeywordLom2Disable, "OEMTAL_LOM2=DISABLE"},
    {KeywordLom3Enable, "OEMTAL_LOM3=ENABLE"},
    {KeywordLom3Disable, "OEMTAL_LOM3=DISABLE"},
    {KeywordLom4Enable, "OEMTAL_LOM4=ENABLE"},
    {KeywordLom4Disable, "OEMTAL_LOM4=DISABLE"},
    {KeywordIscsiEnable, "OEMTAL_ISCSI=ENABLE"},
    {KeywordIscsiDisable, "OEMTAL_ISCSI=DISABLE"},
    {KeywordMez1Enable, "OEMTAL_MEZ1=ENABLE"},
    {KeywordMez1Disable, "OEMTAL_MEZ1=DISABLE"},
    {KeywordMez2Enable, "OEMTAL_MEZ2=ENABLE"},
    {KeywordMez2Disable, "OEMTAL_MEZ2=DISABLE"},
    {KeywordMez2BEnable, "OEMTAL_MEZ2B=ENABLE"},
    {KeywordMez2BDisable, "OEMTAL_MEZ2B=DISABLE"},
    {KeywordIpl1Cd, "OEMTAL_IPL1=CD"},
    {KeywordIpl1Floppy, "OEMTAL_IPL1=FLOPPY"},
    {KeywordIpl1Key, "OEMTAL_IPL1=KEY"},
    {KeywordIpl1Network, "OEMTAL_IPL1=NETWORK"},
    {KeywordIpl1Pci, "OEMTAL_IPL1=PCI"},
    {KeywordIpl1Usb, "OEMTAL_IPL1=USB"},
    {KeywordIpl1Ide, "OEMTAL_IPL1=IDE"},
    {KeywordSasEnable, "OEMTAL_SAS=ENABLE"},
    {KeywordSasDisable, "OEMTAL_SAS=DISABLE"},
    {KeywordSwRaidEnable, "OEMTAL_SWRAID=ENABLE"},
    {KeywordSwRaidDisable, "OEMTAL_SWRAID=DISABLE"},
    {KeywordHwRaidEnable, "OEMTAL_HWRAID=ENABLE"},
    {KeywordHwRaidDisable, "OEMTAL_HWRAID=DISABLE"},
    {KeywordIdeEnable, "OEMTAL_IDE=ENABLE"},
    {KeywordIdeDisable, "OEMTAL_IDE=DISABLE"},
    {KeywordMez3Enable, "OEMTAL_MEZ3=ENABLE"},
    {KeywordMez3Disable, "OEMTAL_MEZ3=DISABLE"},
    {KeywordMez4Enable, "OEMTAL_MEZ4=ENABLE"},
    {KeywordMez4Disable, "OEMTAL_MEZ4=DISABLE"},
    {KeywordMez4BEnable, "OEMTAL_MEZ4B=ENABLE"},
    {KeywordMez4BDisable, "OEMTAL_MEZ4B=DISABLE"},
    {KeywordSio1Enable, "OEMTAL_SIO1=ENABLE"},
    {KeywordSio1Disable, "OEMTAL_SIO1=DISABLE"},
    {KeywordSio2Enable, "OEMTAL_SIO2=ENABLE"},
    {KeywordSio2Disable, "OEMTAL_SIO2=DISABLE"},
    {KeywordIpl1Default, "OEMTAL_IPL1_DEFAULT"},
    {KeywordPxePermAddrEnable, "OEMTAL_PXEPERMANENTADDRESS=ENABLE"},
    {KeywordPxePermAddrDisable, "OEMTAL_PXEPERMANENTADDRESS=DISABLE"},
    {KeywordFcPermAddr11Enable, "OEMTAL_FCPERMANENTADDRESS11=ENABLE"},
    {KeywordFcPermAddr11Disable, "OEMTAL_FCPERMANENTADDRESS11=DISABLE"},
    {KeywordFcPermAddr12Enable, "OEMTAL_FCPERMANENTADDRESS12=ENABLE"},
    {KeywordFcPermAddr12Disable, "OEMTAL_FCPERMANENTADDRESS12=DISABLE"},
    {KeywordFcPermAddr21Enable, "OEMTAL_FCPERMANENTADDRESS21=ENABLE"},
    {KeywordFcPermAddr21Disable, "OEMTAL_FCPERMANENTADDRESS21=DISABLE"},
    {KeywordFcPermAddr22Enable, "OEMTAL_FCPERMANENTADDRESS22=ENABLE"},
    {KeywordFcPermAddr22Disable, "OEMTAL_FCPERMANENTADDRESS22=DISABLE"},
    {KeywordSio1DacEnable, "OEMTAL_SIO1DAC=ENABLE"},
    {KeywordSio1DacDisable, "OEMTAL_SIO1DAC=DISABLE"},
    {KeywordSio2DacEnable, "OEMTAL_SIO2DAC=ENABLE"},
    {KeywordSio2DacDisable, "OEMTAL_SIO2DAC=DISABLE"},
    {KeywordAcLinkStayOff, "OEMTAL_ACLINK=STAYOFF"},
    {KeywordAcLinkStayOn, "OEMTAL_ACLINK=STAYON"},
    {KeywordAcLinkLastState, "OEMTAL_ACLINK=LASTSTATE"},
    {KeywordActiveCoreAll, "OEMTAL_ACTIVECORE=ALL"},
    {KeywordActiveCoreValue, "OEMTAL_ACTIVECORE="},
    {KeywordNumaEnable, "OEMTAL_NUMA=ENABLE"},
    {KeywordNumaDisable, "OEMTAL_NUMA=DISABLE"},
    {KeywordUuidValue, "OEMTAL_UUID="},
    {KeywordSerialValue, "OEMTAL_SERIAL="},
    {KeywordOemDefault, "OEMTAL_DEFAULT"},
    {KeywordDefault, "DEFAULT"},
    {KeywordIov1Bus1Enable, "OEMTAL_IOV1_BUS1=ENABLE"},
    {KeywordIov1Bus1Disable, "OEMTAL_IOV1_BUS1=DISABLE"},
    {KeywordIov1Bus2Enable, "OEMTAL_IOV1_BUS2=ENABLE"},
    {KeywordIov1Bus2Disable, "OEMTAL_IOV1_BUS2=DISABLE"},
    {KeywordIov1Bus3Enable, "OEMTAL_IOV1_BUS3=ENABLE"},
    {KeywordIov1Bus3Disable, "OEMTAL_IOV1_BUS3=DISABLE"},
    {KeywordIov1Bus4Enable, "OEMTAL_IOV1_BUS4=ENABLE"},
    {KeywordIov1Bus4Disable, "OEMTAL_IOV1_BUS4=DISABLE"},
    {KeywordIov2Bus1Enable, "OEMTAL_IOV2_BUS1=ENABLE"},
    {KeywordIov2Bus1Disable, "OEMTAL_IOV2_BUS1=DISABLE"},
    {KeywordIov2Bus2Enable, "OEMTAL_IOV2_BUS2=ENABLE"},
    {KeywordIov2Bus2Disable, "OEMTAL_IOV2_BUS2=DISABLE"},
    {KeywordIov2Bus3Enable, "OEMTAL_IOV2_BUS3=ENABLE"},
    {KeywordIov2Bus3Disable, "OEMTAL_IOV2_BUS3=DISABLE"},
    {KeywordIov2Bus4Enable, "OEMTAL_IOV2_BUS4=ENABLE"},
    {KeywordIov2Bus4Disable, "OEMTAL_IOV2_BUS4=DISABLE"},
    {KeywordConRedirectEnable, "OEMTAL_CONREDIRECT=ENABLE"},
    {KeywordConRedirectDisable, "OEMTAL_CONREDIRECT=DISABLE"},
    {KeywordFcoeValue, "OEMTAL_FCOE="},
    {KeywordClpFailurePauseEnable, "OEMTAL_CLPFailurePause=ENABLE"},
    {KeywordClpFailurePauseDisable, "OEMTAL_CLPFailurePause=DISABLE"},
    {KeywordEmFailurePauseEnable, "OEMTAL_EMFailurePause=ENABLE"},
    {KeywordEmFailurePauseDisable, "OEMTAL_EMFailurePause=DISABLE"},
    {KeywordEnd, "DUMMY"},
};

namespace {

constexpr bool CodesFollowRows() {
  for (UINTN I = 0; I < PlatformKeywordCount; ++I) {
    if (PlatformKeywordTable[I].Code != I) {
      return false;
    }
  }
  return PlatformKeywordTable[PlatformKeywordCount].Code == KeywordEnd;
}
static_assert(CodesFollowRows(), "every code equals its row, and the table ends in DUMMY");

// Characters compared without case, as the lookup compares them.
constexpr CHAR8 Folded(CHAR8 C) {
  return C >= 'a' && C <= 'z' ? static_cast<CHAR8>(C - ('a' - 'A')) : C;
}

// For every row, how many leading characters it shares with the row before it (0 for the first).
struct SharedPrefixes {
  UINT16 Length[PlatformKeywordCount + 1] = {};
  constexpr SharedPrefixes() {
    for (UINTN Row = 1; Row <= PlatformKeywordCount; ++Row) {
      const CHAR8* A = PlatformKeywordTable[Row - 1].Keyword;
      const CHAR8* B = PlatformKeywordTable[Row].Keyword;
      UINT16 I = 0;
      while (A[I] != 0 && Folded(A[I]) == Folded(B[I])) {
        ++I;
      }
      Length[Row] = I;
    }
  }
};
constexpr SharedPrefixes KeywordPrefixes;

} // namespace

// Neighbouring rows share their start ("OEMTAL_LOM1=ENABLE", "OEMTAL_LOM1=DISABLE"), so the walk
// carries over what it learnt from the row before: the text agreed with it on Agreed characters
// and differed at the next. A row that parts from the row before earlier than that differs from
// the text where it parts (or, ending there, matches); a row that parts later differs from the
// text where the row before did. Only a row that parts exactly where the text did is compared, and
// only from there on. The row found is the first whose keyword starts the text, as a walk that
// compares every row in full finds it.
const PlatformKeyword* LookupPlatformKeyword(const CHAR8* Text, UINT16* MatchedLength) {
  UINT16 Agreed = 0;
  UINTN Row = 0;
  for (; PlatformKeywordTable[Row].Code != KeywordEnd; ++Row) {
    const CHAR8* Keyword = PlatformKeywordTable[Row].Keyword;
    const UINT16 Shared = KeywordPrefixes.Length[Row];
    if (Shared > Agreed) {
      continue;
    }
    Agreed = Shared < Agreed ? Shared : AgreedLength(Text, Keyword, Agreed);
    if (Keyword[Agreed] == 0) {
      *MatchedLength = Agreed;
      return &PlatformKeywordTable[Row];
    }
  }
  *MatchedLength = 0;
  return &PlatformKeywordTable[Row];
}
