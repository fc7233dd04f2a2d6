// Text primitives for CLP command lines: NUL-terminated 8-bit texts held in 256-byte buffers. None
// of them looks at more than 256 characters of a text, and case folding knows only the ASCII
// letters; every other byte, those above 0x7F included, compares exactly.
#pragma once

#include "uefi/types.h"

// Size of every command text buffer, and the furthest any primitive reads into a text.
constexpr UINT16 TextBufferSize = 256;

// CopyText's Count for "the whole text up to its NUL".
constexpr UINT8 CopyWholeText = 255;

// Length of Text before its NUL, stopping at TextBufferSize.
UINT16 TextLength(const CHAR8* Text);

// TRUE when Pattern matches the start of Text, letters compared without case; MatchedLength always
// receives the pattern's length on a match and 0 otherwise. An empty pattern matches with length 0.
BOOLEAN TextStartsWith(const CHAR8* Text, const CHAR8* Pattern, UINT16* MatchedLength);

// How many leading characters Text and Pattern agree on, letters compared without case, counting
// from From (the characters before it are taken to agree): up to the first difference or
// Pattern's NUL, at most TextBufferSize. Pattern matches the start of Text when it ends there.
UINT16 AgreedLength(const CHAR8* Text, const CHAR8* Pattern, UINT16 From);

// Copies Count bytes (or, for CopyWholeText, the text up to its NUL, plus the NUL when WithNul) and
// returns how many bytes were written. Never writes more than DestinationSize bytes: a whole text
// that does not fit is cut and, when WithNul, still ends in a NUL at the last byte.
UINT16 CopyText(const CHAR8* Source, CHAR8* Destination, UINT8 Count, BOOLEAN WithNul,
                UINTN DestinationSize);

// Moves the text from position From (NUL included) down to position To, inside one
// TextBufferSize-byte buffer: the characters from To up to From - 1 disappear. To is below From.
// Nothing at or past the end of the buffer is read; the moved text always ends in a NUL.
void ShiftTextLeft(CHAR8* Buffer, UINT16 To, UINT16 From);

// 0-15 for a hexadecimal digit of either case, 0 for any other character.
UINT8 HexDigitValue(CHAR8 Character);

// The hexadecimal number at the start of Text: at most eight digits, ended by the first other
// character; 0 when there is no digit.
UINT32 HexToUint32(const CHAR8* Text);

// Position just past the first "_" of Text, 0 when it has none.
UINT16 PositionAfterUnderscore(const CHAR8* Text);
