// Text primitives for CLP command lines.
#include "platform/text.h"

namespace {

UINT8 Byte(CHAR8 C) {
  return static_cast<UINT8>(C);
}

BOOLEAN IsUpper(UINT8 C) {
  return C >= 'A' && C <= 'Z';
}

// Equal bytes, or a letter against its other case. Only letters fold: 0x5B/0x7B and the like
// differ by 0x20 too but never match.
BOOLEAN SameLetter(UINT8 A, UINT8 B) {
  if (A == B) {
    return TRUE;
  }
  return (IsUpper(A) && B == A + 0x20) || (IsUpper(B) && A == B + 0x20);
}

BOOLEAN IsHexDigit(CHAR8 C) {
  return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F') || (C >= 'a' && C <= 'f');
}

} // namespace

UINT16 TextLength(const CHAR8* Text) {
  UINT16 Length = 0;
  while (Length < TextBufferSize && Text[Length] != 0) {
    ++Length;
  }
  return Length;
}

UINT16 AgreedLength(const CHAR8* Text, const CHAR8* Pattern, UINT16 From) {
  // A shorter text differs at its own NUL, so nothing past it is read.
  UINTN Length = From;
  while (Length < TextBufferSize && Pattern[Length] != 0 &&
         SameLetter(Byte(Text[Length]), Byte(Pattern[Length]))) {
    ++Length;
  }
  return static_cast<UINT16>(Length);
}

BOOLEAN TextStartsWith(const CHAR8* Text, const CHAR8* Pattern, UINT16* MatchedLength) {
  const UINT16 Length = AgreedLength(Text, Pattern, 0);
  const BOOLEAN Matches = Length == TextBufferSize || Pattern[Length] == 0;
  *MatchedLength = Matches ? Length : 0;
  return Matches;
}

UINT16 CopyText(const CHAR8* Source, CHAR8* Destination, UINT8 Count, BOOLEAN WithNul,
                UINTN DestinationSize) {
  const BOOLEAN Whole = Count == CopyWholeText;
  UINTN Bytes = Whole ? TextLength(Source) + (WithNul ? 1u : 0u) : Count;
  const BOOLEAN Cut = Bytes > DestinationSize;
  if (Cut) {
    Bytes = DestinationSize;
  }
  for (UINTN I = 0; I < Bytes; ++I) {
    Destination[I] = Source[I];
  }
  if (Cut && Whole && WithNul && Bytes > 0) {
    Destination[Bytes - 1] = 0;
  }
  return static_cast<UINT16>(Bytes);
}

void ShiftTextLeft(CHAR8* Buffer, UINT16 To, UINT16 From) {
  if (To >= From || From >= TextBufferSize) {
    return;
  }
  // Front to back, so the overlapping move is safe with To below From.
  UINT16 I = 0;
  for (; From + I < TextBufferSize; ++I) {
    Buffer[To + I] = Buffer[From + I];
    if (Buffer[From + I] == 0) {
      return;
    }
  }
  Buffer[To + I] = 0; // the buffer ended without a NUL: end the moved text here
}

UINT8 HexDigitValue(CHAR8 Character) {
  if (Character >= '0' && Character <= '9') {
    return static_cast<UINT8>(Character - '0');
  }
  if (Character >= 'A' && Character <= 'F') {
    return static_cast<UINT8>(Character - 'A' + 10);
  }
  if (Character >= 'a' && Character <= 'f') {
    return static_cast<UINT8>(Character - 'a' + 10);
  }
  return 0;
}

UINT32 HexToUint32(const CHAR8* Text) {
  UINT32 Value = 0;
  for (UINT8 I = 0; I < 8 && IsHexDigit(Text[I]); ++I) {
    Value = (Value << 4) | HexDigitValue(Text[I]);
  }
  return Value;
}

UINT16 PositionAfterUnderscore(const CHAR8* Text) {
  for (UINT16 I = 0; I < TextBufferSize && Text[I] != 0; ++I) {
    if (Text[I] == '_') {
      return static_cast<UINT16>(I + 1);
    }
  }
  return 0;
}
