// The AdapterKeywordMap and AdapterValueMap, and the translation of one command through them.
#include "adapter/keyword_map.h"

#include "core/pool.h"
#include "platform/text.h"

constexpr AdapterKeyword AdapterKeywordMap[AdapterKeywordCount + 1] = {
    {AdapterKeyPermanentAddress, "PERMANENTADDRESS", "Permanentaddress"},
    {AdapterKeyTalBootEnable, "OEMTAL_BOOTENABLE", "BootEnable"},
    {AdapterKeyQxBootEnable, "OEMQX_BOOTENABLE", "BootEnable"},
    {AdapterKeyBootPriority, "OEMTAL_BOOTPRIORITY", "BootPriority"},
    {AdapterKeyInitiatorAddressOrigin, "OEMTAL_INITIATORADDRESSORIGIN", "AddressOrigin"},
    {AdapterKeyInitiatorName, "OEMQX_INITIATORNAME", "InitiatorName"},
    {AdapterKeyInitiatorIp, "OEMQX_INITIATORIP", "ipv4address"},
    {AdapterKeyInitiatorNetmask, "OEMQX_INITIATORNETMASK", "SubnetMask"},
    {AdapterKeyInitiatorRoute, "OEMQX_INITIATORROUTE", "Gatewayipv4address"},
    {AdapterKeyTargetAddressOrigin, "OEMTAL_TARGETADDRESSORIGIN", "TargetAddressOrigin"},
    {AdapterKeyTargetName, "OEMQX_TARGETNAME", "TargetName"},
    {AdapterKeyTargetIp, "OEMQX_TARGETIP", "TargetIPv4address"},
    {AdapterKeyTargetPort, "OEMQX_TARGETPORT", "PortNumber"},
    {AdapterKeyLun, "OEMQX_LUN", "BootLUN"},
    {AdapterKeyUserName, "OEMQX_USERNAME", "ChapUsername"},
    {AdapterKeySecret, "OEMQX_SECRET", "ChapSecret"},
    {AdapterKeyMutualSecret, "OEMQX_MUTUALSECRET", "MutualChapSecret"},
    {AdapterKeyAuthenticationMethod, "OEMQX_AUTHENTICATIONMETHOD", "AuthenticationMethod"},
    {AdapterKeyDefault, "DEFAULT", "Permanentaddress=FFFFFFFFFFFF"},
    {AdapterKeyExpansionRomMenu, "OEMTAL_EXPANSIONROMMENU", "EXPANSIONROMMENU"},
    {AdapterKeyEnd, "DUMMY", "DUMMY"},
};

constexpr AdapterValue AdapterValueMap[AdapterValueCount + 1] = {
    {AdapterKeyInitiatorAddressOrigin, "3", "Static"},
    {AdapterKeyInitiatorAddressOrigin, "4", "DHCP"},
    {AdapterKeyTargetAddressOrigin, "3", "Static"},
    {AdapterKeyTargetAddressOrigin, "4", "DHCP"},
    {AdapterKeyQxBootEnable, "ENABLE", "iSCSI"},
    {AdapterKeyQxBootEnable, "DISABLE", "PXE"},
    {AdapterKeyBootPriority, "DISABLE", "Disabled"},
    {AdapterKeyExpansionRomMenu, "ENABLE", "Enabled"},
    {AdapterKeyExpansionRomMenu, "DISABLE", "Disabled"},
    {AdapterKeyEnd, "DUMMY", "DUMMY"},
};

namespace {

constexpr bool KeywordCodesFollowRows() {
  for (UINTN I = 0; I < AdapterKeywordCount; ++I) {
    if (AdapterKeywordMap[I].Code != I) {
      return false;
    }
  }
  return AdapterKeywordMap[AdapterKeywordCount].Code == AdapterKeyEnd;
}
static_assert(KeywordCodesFollowRows(), "every code equals its row, and the map ends in DUMMY");

constexpr bool ValueCodesNameKeywords() {
  for (UINTN I = 0; I < AdapterValueCount; ++I) {
    if (AdapterValueMap[I].Code >= AdapterKeywordCount) {
      return false;
    }
  }
  return AdapterValueMap[AdapterValueCount].Code == AdapterKeyEnd;
}
static_assert(ValueCodesNameKeywords(),
              "every value row names a keyword, and the map ends in DUMMY");

const AdapterKeyword* LookupAdapterKeyword(const CHAR8* Text, UINT16* MatchedLength) {
  for (const AdapterKeyword* Row = AdapterKeywordMap; Row->Code != AdapterKeyEnd; ++Row) {
    if (TextStartsWith(Text, Row->Key, MatchedLength)) {
      return Row;
    }
  }
  return nullptr;
}

const AdapterValue* LookupAdapterValue(UINT8 Code, const CHAR8* Text) {
  for (const AdapterValue* Row = AdapterValueMap; Row->Code != AdapterKeyEnd; ++Row) {
    UINT16 Length = 0;
    if (Row->Code == Code && TextStartsWith(Text, Row->Value, &Length)) {
      return Row;
    }
  }
  return nullptr;
}

// Builds a text in the 256-byte scratch. An append that would leave no room for the final NUL is
// not made, and the result is then refused as a whole.
class TextBuilder {
public:
  explicit TextBuilder(CHAR8* Scratch) : Scratch_(Scratch) {}

  void Append(const CHAR8* Source, UINT16 Length) {
    if (Overflow_ || Length >= TextBufferSize - Position_) {
      Overflow_ = TRUE;
      return;
    }
    CopyBytes(Scratch_ + Position_, Source, Length);
    Position_ = static_cast<UINT16>(Position_ + Length);
  }
  void AppendText(const CHAR8* Source) { Append(Source, TextLength(Source)); }
  // The text with its NUL (the scratch is zero-filled), or nullptr when it did not fit.
  const CHAR8* Result() const { return Overflow_ ? nullptr : Scratch_; }

private:
  CHAR8* Scratch_;
  UINT16 Position_ = 0;
  BOOLEAN Overflow_ = FALSE;
};

} // namespace

void TranslateAdapterKeywords(CHAR8* Text) {
  // A text that does not end inside its buffer is sent as it is: nothing here reads past it.
  if (TextLength(Text) < CommandWordLength || TextLength(Text) >= TextBufferSize) {
    return;
  }
  UINT16 KeyLength = 0;
  const AdapterKeyword* Keyword = LookupAdapterKeyword(Text + CommandWordLength, &KeyLength);
  if (Keyword == nullptr) {
    return;
  }
  PoolBuffer Scratch(TextBufferSize);
  if (EFI_ERROR(Scratch.Status())) {
    return;
  }
  TextBuilder Out(reinterpret_cast<CHAR8*>(Scratch.Data()));
  Out.Append(Text, CommandWordLength);
  Out.AppendText(Keyword->Replacement);
  // DEFAULT's replacement is the whole setting: whatever followed the key is dropped.
  if (Keyword->Code != AdapterKeyDefault) {
    UINT16 Read = CommandWordLength + KeyLength;
    if (Text[Read] != '=') {
      return;
    }
    Out.Append(Text + Read, 1);
    ++Read;
    // A known value is replaced and whatever followed it dropped; any other value is kept.
    const AdapterValue* Value = LookupAdapterValue(Keyword->Code, Text + Read);
    Out.AppendText(Value != nullptr ? Value->Replacement : Text + Read);
  }
  if (const CHAR8* Result = Out.Result()) {
    CopyText(Result, Text, CopyWholeText, TRUE, TextBufferSize);
  }
}
