#include "firmware/harness/report_writer.h"

namespace {
constexpr char HexDigits[] = "0123456789abcdef";
}

void ReportWriter::Separate() {
  if (LineStarted_) {
    Put(' ');
  }
  LineStarted_ = true;
}

void ReportWriter::Digits(UINT64 Value, UINTN Count) {
  for (UINTN I = Count; I > 0; --I) {
    Put(HexDigits[(Value >> (4 * (I - 1))) & 0xF]);
  }
}

ReportWriter& ReportWriter::Word(const char* Text) {
  Separate();
  // Words never hold blanks or line ends: they would split the line for the parser.
  for (; *Text != '\0'; ++Text) {
    Put(*Text == ' ' || *Text == '\n' || *Text == '\r' ? '_' : *Text);
  }
  return *this;
}

ReportWriter& ReportWriter::Name(const CHAR16* Text) {
  Separate();
  for (; *Text != 0; ++Text) {
    const bool Printable = *Text > 0x20 && *Text < 0x7F;
    Put(Printable ? static_cast<char>(*Text) : '?');
  }
  return *this;
}

ReportWriter& ReportWriter::Decimal(UINT64 Value) {
  Separate();
  char Buffer[20];
  UINTN Count = 0;
  do {
    Buffer[Count++] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  while (Count > 0) {
    Put(Buffer[--Count]);
  }
  return *this;
}

ReportWriter& ReportWriter::Hex(UINT64 Value, UINTN Count) {
  Separate();
  Digits(Value, Count);
  return *this;
}

ReportWriter& ReportWriter::Bytes(const UINT8* Data, UINTN Size) {
  Separate();
  if (Size == 0) {
    Put('-');
  }
  for (UINTN I = 0; I < Size; ++I) {
    Digits(Data[I], 2);
  }
  return *this;
}

ReportWriter& ReportWriter::Guid(const EFI_GUID& Value) {
  Separate();
  Digits(Value.Data1, 8);
  Put('-');
  Digits(Value.Data2, 4);
  Put('-');
  Digits(Value.Data3, 4);
  Put('-');
  for (UINTN I = 0; I < 8; ++I) {
    if (I == 2) {
      Put('-');
    }
    Digits(Value.Data4[I], 2);
  }
  return *this;
}

void ReportWriter::End() {
  Put('\n');
  LineStarted_ = false;
  ++Lines_;
}
