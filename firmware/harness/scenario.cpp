#include "firmware/harness/scenario.h"

namespace {

struct Cursor {
  const char* At;
  const char* End;
};

bool IsBlank(char C) {
  return C == ' ' || C == '\t';
}

// The next blank-separated word; false when the line has no more.
bool NextWord(Cursor& C, const char** Word, UINTN* Length) {
  while (C.At < C.End && IsBlank(*C.At)) {
    ++C.At;
  }
  if (C.At == C.End) {
    return false;
  }
  *Word = C.At;
  while (C.At < C.End && !IsBlank(*C.At)) {
    ++C.At;
  }
  *Length = static_cast<UINTN>(C.At - *Word);
  return true;
}

bool Equals(const char* Word, UINTN Length, const char* Literal) {
  UINTN I = 0;
  for (; I < Length; ++I) {
    if (Literal[I] == '\0' || Literal[I] != Word[I]) {
      return false;
    }
  }
  return Literal[I] == '\0';
}

int HexValue(char C) {
  if (C >= '0' && C <= '9') {
    return C - '0';
  }
  if (C >= 'a' && C <= 'f') {
    return C - 'a' + 10;
  }
  if (C >= 'A' && C <= 'F') {
    return C - 'A' + 10;
  }
  return -1;
}

// Hexadecimal digits only, at most 16 of them.
bool ParseHex(const char* Word, UINTN Length, UINT64* Value) {
  if (Length == 0 || Length > 16) {
    return false;
  }
  UINT64 V = 0;
  for (UINTN I = 0; I < Length; ++I) {
    const int D = HexValue(Word[I]);
    if (D < 0) {
      return false;
    }
    V = (V << 4) | static_cast<UINT64>(D);
  }
  *Value = V;
  return true;
}

// Decimal, or hexadecimal after 0x; refuses anything that would not fit 32 bits.
bool ParseNumber(const char* Word, UINTN Length, UINT64* Value) {
  if (Length > 2 && Word[0] == '0' && (Word[1] == 'x' || Word[1] == 'X')) {
    return ParseHex(Word + 2, Length - 2, Value) && *Value <= 0xFFFFFFFFull;
  }
  if (Length == 0 || Length > 10) {
    return false;
  }
  UINT64 V = 0;
  for (UINTN I = 0; I < Length; ++I) {
    if (Word[I] < '0' || Word[I] > '9') {
      return false;
    }
    V = V * 10 + static_cast<UINT64>(Word[I] - '0');
  }
  *Value = V;
  return V <= 0xFFFFFFFFull;
}

// Printable ASCII widened to UTF-16, NUL-terminated within the name field.
bool ParseName(const char* Word, UINTN Length, CHAR16 (&Name)[ScenarioNameMax]) {
  if (Length == 0 || Length >= ScenarioNameMax) {
    return false;
  }
  for (UINTN I = 0; I < Length; ++I) {
    if (Word[I] < 0x21 || Word[I] > 0x7E) {
      return false;
    }
    Name[I] = static_cast<CHAR16>(Word[I]);
  }
  Name[Length] = 0;
  return true;
}

bool ParseBytes(const char* Word, UINTN Length, UINT8 (&Data)[ScenarioDataMax], UINTN* Size) {
  if (Length == 1 && Word[0] == '-') {
    *Size = 0;
    return true;
  }
  if (Length == 0 || Length % 2 != 0 || Length / 2 > ScenarioDataMax) {
    return false;
  }
  for (UINTN I = 0; I < Length / 2; ++I) {
    const int High = HexValue(Word[2 * I]);
    const int Low = HexValue(Word[2 * I + 1]);
    if (High < 0 || Low < 0) {
      return false;
    }
    Data[I] = static_cast<UINT8>(High * 16 + Low);
  }
  *Size = Length / 2;
  return true;
}

bool ParseTag(const char* Word, UINTN Length, char (&Tag)[ScenarioTagMax]) {
  if (Length == 0 || Length >= ScenarioTagMax) {
    return false;
  }
  for (UINTN I = 0; I < Length; ++I) {
    const char C = Word[I];
    const bool Allowed = (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-';
    if (!Allowed) {
      return false;
    }
    Tag[I] = C;
  }
  Tag[Length] = '\0';
  return true;
}

struct Words {
  const char* Text[5];
  UINTN Length[5];
  UINTN Count;
};

// All words of the line; more than five is an error of its own.
bool SplitWords(const char* Line, UINTN Length, Words* W) {
  Cursor C{Line, Line + Length};
  W->Count = 0;
  const char* Word = nullptr;
  UINTN WordLength = 0;
  while (NextWord(C, &Word, &WordLength)) {
    if (W->Count == 5) {
      return false;
    }
    W->Text[W->Count] = Word;
    W->Length[W->Count] = WordLength;
    ++W->Count;
  }
  return true;
}

ParseOutcome Fail(const char** Message, const char* Why) {
  *Message = Why;
  return ParseOutcome::Error;
}

ParseOutcome ParseNumbers(const Words& W, UINTN Count, Directive* Out, const char** Message) {
  if (W.Count != Count + 1) {
    return Fail(Message, "wrong number of arguments");
  }
  for (UINTN I = 0; I < Count; ++I) {
    if (!ParseNumber(W.Text[I + 1], W.Length[I + 1], &Out->Numbers[I])) {
      return Fail(Message, "bad number");
    }
  }
  return ParseOutcome::Directive;
}

ParseOutcome ParseVariable(const Words& W, Directive* Out, const char** Message) {
  UINT64 Attributes = 0;
  if (W.Count != 5) {
    return Fail(Message, "variable needs a name, a GUID, attributes and bytes");
  }
  if (!ParseName(W.Text[1], W.Length[1], Out->Name)) {
    return Fail(Message, "bad variable name");
  }
  if (!ParseGuid(W.Text[2], W.Length[2], &Out->Guid)) {
    return Fail(Message, "bad GUID");
  }
  if (!ParseHex(W.Text[3], W.Length[3], &Attributes) || Attributes > 0xFFFFFFFFull) {
    return Fail(Message, "bad attributes");
  }
  Out->Attributes = static_cast<UINT32>(Attributes);
  if (!ParseBytes(W.Text[4], W.Length[4], Out->Data, &Out->DataSize)) {
    return Fail(Message, "bad variable bytes");
  }
  return ParseOutcome::Directive;
}

ParseOutcome ParseWatch(const Words& W, Directive* Out, const char** Message) {
  if (W.Count != 4) {
    return Fail(Message, "watch needs a name, a GUID and a size");
  }
  if (!ParseName(W.Text[1], W.Length[1], Out->Name) ||
      !ParseGuid(W.Text[2], W.Length[2], &Out->Guid)) {
    return Fail(Message, "bad variable name or GUID");
  }
  if (!ParseNumber(W.Text[3], W.Length[3], &Out->Numbers[0]) || Out->Numbers[0] > ScenarioDataMax) {
    return Fail(Message, "bad variable size");
  }
  return ParseOutcome::Directive;
}

// "0x0500,0x0E00,error": status words, or "error" for an Execute that fails.
bool ParseAnswers(const char* Word, UINTN Length, Directive* Out) {
  Out->AnswerCount = 0;
  for (UINTN Start = 0; Start <= Length;) {
    UINTN End = Start;
    while (End < Length && Word[End] != ',') {
      ++End;
    }
    if (Out->AnswerCount == AdapterAnswerMax) {
      return false;
    }
    AdapterAnswer& A = Out->Answers[Out->AnswerCount++];
    UINT64 StatusWord = 0;
    if (Equals(Word + Start, End - Start, "error")) {
      A = AdapterAnswer{EFI_DEVICE_ERROR, 0};
    } else if (ParseNumber(Word + Start, End - Start, &StatusWord)) {
      A = AdapterAnswer{EFI_SUCCESS, static_cast<UINT32>(StatusWord)};
    } else {
      return false;
    }
    Start = End + 1;
  }
  return true;
}

ParseOutcome ParseLocation(const Words& W, Directive* Out, const char** Message) {
  if (W.Count < 4) {
    return Fail(Message, "wrong number of arguments");
  }
  for (UINTN I = 0; I < 3; ++I) {
    if (!ParseNumber(W.Text[I + 1], W.Length[I + 1], &Out->Numbers[I])) {
      return Fail(Message, "bad number");
    }
  }
  if (Out->Numbers[0] > 0xFF || Out->Numbers[1] > 0x1F || Out->Numbers[2] > 0x7) {
    return Fail(Message, "pci address out of range");
  }
  return ParseOutcome::Directive;
}

ParseOutcome NoArguments(const Words& W, const char** Message) {
  return W.Count == 1 ? ParseOutcome::Directive : Fail(Message, "takes no argument");
}

} // namespace

bool ParseGuid(const char* Text, UINTN Length, EFI_GUID* Guid) {
  // 8-4-4-4-12 hexadecimal digits.
  if (Length != 36 || Text[8] != '-' || Text[13] != '-' || Text[18] != '-' || Text[23] != '-') {
    return false;
  }
  UINT64 D1 = 0, D2 = 0, D3 = 0, D4 = 0, D5 = 0;
  if (!ParseHex(Text, 8, &D1) || !ParseHex(Text + 9, 4, &D2) || !ParseHex(Text + 14, 4, &D3) ||
      !ParseHex(Text + 19, 4, &D4) || !ParseHex(Text + 24, 12, &D5)) {
    return false;
  }
  Guid->Data1 = static_cast<UINT32>(D1);
  Guid->Data2 = static_cast<UINT16>(D2);
  Guid->Data3 = static_cast<UINT16>(D3);
  Guid->Data4[0] = static_cast<UINT8>(D4 >> 8);
  Guid->Data4[1] = static_cast<UINT8>(D4);
  for (UINTN I = 0; I < 6; ++I) {
    Guid->Data4[2 + I] = static_cast<UINT8>(D5 >> (8 * (5 - I)));
  }
  return true;
}

bool NextLine(const char* Text, UINTN Size, UINTN* Position, const char** Line, UINTN* Length) {
  if (*Position >= Size) {
    return false;
  }
  const UINTN Start = *Position;
  UINTN End = Start;
  while (End < Size && Text[End] != '\n') {
    ++End;
  }
  *Position = End < Size ? End + 1 : End;
  if (End > Start && Text[End - 1] == '\r') {
    --End;
  }
  *Line = Text + Start;
  *Length = End - Start;
  return true;
}

ParseOutcome ParseDirective(const char* Line, UINTN Length, Directive* Out, const char** Message) {
  Words W;
  if (!SplitWords(Line, Length, &W)) {
    return Fail(Message, "too many words");
  }
  if (W.Count == 0 || W.Text[0][0] == '#') {
    return ParseOutcome::Blank;
  }
  const char* Verb = W.Text[0];
  const UINTN VerbLength = W.Length[0];
  Out->DataSize = 0;
  Out->AnswerCount = 0;
  if (Equals(Verb, VerbLength, "variable")) {
    Out->Kind = DirectiveKind::Variable;
    return ParseVariable(W, Out, Message);
  }
  if (Equals(Verb, VerbLength, "platform")) {
    Out->Kind = DirectiveKind::Platform;
    return ParseNumbers(W, 2, Out, Message);
  }
  if (Equals(Verb, VerbLength, "watch")) {
    Out->Kind = DirectiveKind::Watch;
    return ParseWatch(W, Out, Message);
  }
  if (Equals(Verb, VerbLength, "readback")) {
    Out->Kind = DirectiveKind::Readback;
    const ParseOutcome R = ParseNumbers(W, 3, Out, Message);
    if (R == ParseOutcome::Directive &&
        (Out->Numbers[0] > 0xFF || Out->Numbers[1] > 0xFFFF || Out->Numbers[2] == 0 ||
         Out->Numbers[1] + Out->Numbers[2] > 0x10000 || Out->Numbers[2] > ScenarioDataMax)) {
      return Fail(Message, "readback out of range");
    }
    return R;
  }
  if (Equals(Verb, VerbLength, "load")) {
    Out->Kind = DirectiveKind::Load;
    if (W.Count != 2 || !ParseName(W.Text[1], W.Length[1], Out->Name)) {
      return Fail(Message, "load needs one path");
    }
    return ParseOutcome::Directive;
  }
  if (Equals(Verb, VerbLength, "completion")) {
    Out->Kind = DirectiveKind::Completion;
    return NoArguments(W, Message);
  }
  if (Equals(Verb, VerbLength, "snapshot")) {
    Out->Kind = DirectiveKind::Snapshot;
    if (W.Count != 2 || !ParseTag(W.Text[1], W.Length[1], Out->Tag)) {
      return Fail(Message, "snapshot needs a tag of a-z, 0-9 and -");
    }
    return ParseOutcome::Directive;
  }
  if (Equals(Verb, VerbLength, "pci") || Equals(Verb, VerbLength, "connect")) {
    Out->Kind = Verb[0] == 'p' ? DirectiveKind::Pci : DirectiveKind::Connect;
    return W.Count == 4 ? ParseLocation(W, Out, Message)
                        : Fail(Message, "wrong number of arguments");
  }
  if (Equals(Verb, VerbLength, "adapter")) {
    Out->Kind = DirectiveKind::Adapter;
    if (W.Count != 5) {
      return Fail(Message, "adapter needs a bus, a device, a function and answers");
    }
    const ParseOutcome R = ParseLocation(W, Out, Message);
    if (R == ParseOutcome::Directive && !ParseAnswers(W.Text[4], W.Length[4], Out)) {
      return Fail(Message, "answers are at most 16 status words or error, separated by commas");
    }
    return R;
  }
  if (Equals(Verb, VerbLength, "execute")) {
    Out->Kind = DirectiveKind::Execute;
    if (W.Count != 5) {
      return Fail(Message, "execute needs a bus, a device, a function and the text in hex");
    }
    const ParseOutcome R = ParseLocation(W, Out, Message);
    if (R == ParseOutcome::Directive &&
        (!ParseBytes(W.Text[4], W.Length[4], Out->Data, &Out->DataSize) ||
         Out->DataSize >= AdapterCommandBufferSize)) {
      return Fail(Message, "a command text is at most 255 bytes");
    }
    return R;
  }
  if (Equals(Verb, VerbLength, "ready-input")) {
    Out->Kind = DirectiveKind::ReadyInput;
    const ParseOutcome R = ParseNumbers(W, 1, Out, Message);
    return R == ParseOutcome::Directive && Out->Numbers[0] > 1
               ? Fail(Message, "the input level is 0 or 1")
               : R;
  }
  if (Equals(Verb, VerbLength, "ready-input-rises") || Equals(Verb, VerbLength, "wait-ready")) {
    Out->Kind = Verb[0] == 'r' ? DirectiveKind::ReadyInputRises : DirectiveKind::WaitReady;
    const ParseOutcome R = ParseNumbers(W, 1, Out, Message);
    return R == ParseOutcome::Directive &&
                   (Out->Numbers[0] == 0 || Out->Numbers[0] > ScenarioRiseMaxMilliseconds)
               ? Fail(Message, "a time of 1 to 600000 milliseconds")
               : R;
  }
  if (Equals(Verb, VerbLength, "smbios-table")) {
    Out->Kind = DirectiveKind::SmbiosTable;
    return NoArguments(W, Message);
  }
  if (Equals(Verb, VerbLength, "pci-handles")) {
    Out->Kind = DirectiveKind::PciHandles;
    return NoArguments(W, Message);
  }
  if (Equals(Verb, VerbLength, "mp-run")) {
    Out->Kind = DirectiveKind::MpRun;
    return NoArguments(W, Message);
  }
  if (Equals(Verb, VerbLength, "ipmi")) {
    Out->Kind = DirectiveKind::Ipmi;
    if (W.Count != 4 || !ParseNumber(W.Text[1], W.Length[1], &Out->Numbers[0]) ||
        !ParseNumber(W.Text[2], W.Length[2], &Out->Numbers[1]) || Out->Numbers[0] > 0x3F ||
        Out->Numbers[1] > 0xFF || !ParseBytes(W.Text[3], W.Length[3], Out->Data, &Out->DataSize) ||
        Out->DataSize > ScenarioIpmiDataMax) {
      return Fail(Message, "ipmi needs a NetFn, a command and at most 64 request bytes");
    }
    return ParseOutcome::Directive;
  }
  if (Equals(Verb, VerbLength, "clock")) {
    Out->Kind = DirectiveKind::Clock;
    if (W.Count != 2 || !ParseTag(W.Text[1], W.Length[1], Out->Tag)) {
      return Fail(Message, "clock needs a tag of a-z, 0-9 and -");
    }
    return ParseOutcome::Directive;
  }
  if (Equals(Verb, VerbLength, "stall")) {
    Out->Kind = DirectiveKind::Stall;
    const ParseOutcome R = ParseNumbers(W, 1, Out, Message);
    if (R == ParseOutcome::Directive && Out->Numbers[0] > StallMaxMicroseconds) {
      return Fail(Message, "stall of more than ten seconds");
    }
    return R;
  }
  if (Equals(Verb, VerbLength, "smbios-uuid")) {
    Out->Kind = DirectiveKind::SmbiosUuid;
    if (W.Count != 2 || W.Length[1] != 32 ||
        !ParseBytes(W.Text[1], W.Length[1], Out->Data, &Out->DataSize)) {
      return Fail(Message, "smbios-uuid needs 32 hexadecimal digits");
    }
    return ParseOutcome::Directive;
  }
  return Fail(Message, "unknown directive");
}
