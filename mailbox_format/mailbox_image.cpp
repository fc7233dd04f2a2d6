// Building mailboxes: header, command lists and result area.
#include "mailbox_format/mailbox_image.h"

#include <algorithm>

#include "mailbox_format/hex_text.h"

namespace mailbox_format {

namespace {

// The word that makes the 14 header words add up to 0, given the first 13.
UINT16 ChecksumSeal(const std::vector<uint8_t>& Header) {
  UINT16 Sum = 0;
  for (size_t I = 0; I < ChecksumWordField; I += 2) {
    Sum = static_cast<UINT16>(Sum + GetBe16(Header, I));
  }
  return static_cast<UINT16>(0x10000 - Sum);
}

std::vector<uint8_t> HeaderBytes(const MailboxImage& Image, const MailboxLayout& Layout) {
  std::vector<uint8_t> Header(HeaderSize, 0);
  std::copy(Signature, Signature + sizeof(Signature), Header.begin());
  std::copy(Image.HeaderReserved.begin(), Image.HeaderReserved.end(),
            Header.begin() + ReservedField);
  for (size_t J = 0; J < MailboxCommandLists; ++J) {
    PutBe16(Header, ListOffsetField + 2 * J, Layout.ListOffsets[J]);
  }
  PutBe16(Header, ResultAreaField, Layout.ResultAreaOffset);
  // The header's last word is free for the BMC to use; it makes the 14 words add up to 0.
  PutBe16(Header, ChecksumWordField, Image.ChecksumWord.value_or(ChecksumSeal(Header)));
  return Header;
}

std::string Hex4(size_t Value) {
  return HexNumber(Value, 4);
}

void CheckCommands(size_t ListNumber, const MailboxList& List) {
  for (size_t I = 0; I < List.Commands.size(); ++I) {
    const MailboxCommand& C = List.Commands[I];
    const std::string Where =
        "list " + std::to_string(ListNumber) + ", command " + std::to_string(I) + ": ";
    if (C.Id == CommandEndId) {
      throw MailboxFormatError(Where + "id 0xFFFF ends a list and cannot name a command");
    }
    if (C.Text.size() > MailboxTextMax) {
      throw MailboxFormatError(Where + "text of " + std::to_string(C.Text.size()) +
                               " characters; a command holds at most 255");
    }
    if (C.Text.find('\0') != std::string::npos) {
      throw MailboxFormatError(Where + "text holds a NUL, which would end it early");
    }
  }
}

struct Piece {
  std::string Name;
  size_t Begin;
  size_t End;
};

// Every piece must lie inside the image and the 16-bit FRU address space, apart from the others.
void CheckPieces(std::vector<Piece> Pieces, size_t ImageSize) {
  for (const Piece& P : Pieces) {
    if (P.End > FruAddressSpace) {
      throw MailboxFormatError(P.Name + " at " + Hex4(P.Begin) + " ends at " + Hex4(P.End) +
                               ", past the FRU offset 65535");
    }
    if (P.End > ImageSize) {
      throw MailboxFormatError(P.Name + " at " + Hex4(P.Begin) + " ends at " + Hex4(P.End) +
                               ", past the end of the " + std::to_string(ImageSize) +
                               "-byte image");
    }
  }
  std::sort(Pieces.begin(), Pieces.end(),
            [](const Piece& A, const Piece& B) { return A.Begin < B.Begin; });
  for (size_t I = 1; I < Pieces.size(); ++I) {
    if (Pieces[I].Begin < Pieces[I - 1].End) {
      throw MailboxFormatError(Pieces[I].Name + " at " + Hex4(Pieces[I].Begin) + " overlaps " +
                               Pieces[I - 1].Name + " (" + Hex4(Pieces[I - 1].Begin) + ".." +
                               Hex4(Pieces[I - 1].End - 1) + ")");
    }
  }
}

} // namespace

std::vector<uint8_t> EncodeMailboxHeader(const std::array<UINT16, MailboxCommandLists>& ListOffsets,
                                         UINT16 ResultAreaOffset, bool BadChecksum) {
  MailboxImage Image;
  MailboxLayout Layout{};
  Layout.ListOffsets = ListOffsets;
  Layout.ResultAreaOffset = ResultAreaOffset;
  std::vector<uint8_t> Header = HeaderBytes(Image, Layout);
  if (BadChecksum) {
    PutBe16(Header, ChecksumWordField, static_cast<UINT16>(ChecksumSeal(Header) + 1));
  }
  return Header;
}

std::vector<uint8_t> EncodeCommandList(const std::vector<MailboxCommand>& Commands,
                                       bool Terminate) {
  std::vector<uint8_t> Bytes;
  for (const MailboxCommand& Command : Commands) {
    Bytes.push_back(static_cast<uint8_t>(Command.Id >> 8));
    Bytes.push_back(static_cast<uint8_t>(Command.Id));
    Bytes.insert(Bytes.end(), Command.Text.begin(), Command.Text.end());
    Bytes.push_back(0);
  }
  if (Terminate) {
    Bytes.push_back(0xFF);
    Bytes.push_back(0xFF);
  }
  return Bytes;
}

MailboxLayout PlaceMailbox(const MailboxImage& Image) {
  if (Image.Size > FruAddressSpace) {
    throw MailboxFormatError("an image of " + std::to_string(Image.Size) +
                             " bytes; a FRU device holds at most 65536");
  }
  const size_t Candidate = (Image.HeaderOffset - MailboxFirstOffset) / MailboxStride;
  if (Image.HeaderOffset < MailboxFirstOffset ||
      (Image.HeaderOffset - MailboxFirstOffset) % MailboxStride != 0 ||
      Candidate >= MailboxCandidates) {
    throw MailboxFormatError("header offset " + std::to_string(Image.HeaderOffset) +
                             " is none of the candidates 512, 768, ... 2304 the host searches");
  }
  MailboxLayout Layout{};
  Layout.HeaderOffset = Image.HeaderOffset;
  std::vector<Piece> Pieces{
      {"the header", Image.HeaderOffset, Image.HeaderOffset + HeaderSize + MailboxLockBytes}};
  // Lists go behind the lock bytes and one spare byte, each behind the previous one.
  size_t Next = Image.HeaderOffset + HeaderSize + MailboxLockBytes + 1;
  for (size_t J = 0; J < MailboxCommandLists; ++J) {
    if (!Image.Lists[J]) {
      continue;
    }
    const MailboxList& List = *Image.Lists[J];
    CheckCommands(J, List);
    const size_t Size = EncodeCommandList(List.Commands, List.Terminated).size();
    const size_t Begin = List.Offset.value_or(Next);
    if (Begin >= FruAddressSpace || (Begin == 0 && List.Offset)) {
      throw MailboxFormatError("list " + std::to_string(J) + " at offset " + std::to_string(Begin) +
                               ": a list lies at 1..65535");
    }
    Layout.ListOffsets[J] = static_cast<UINT16>(Begin);
    Layout.ListSizes[J] = Size;
    if (Size != 0) {
      Pieces.push_back({"list " + std::to_string(J), Begin, Begin + Size});
    }
    Next = std::max(Next, Begin + Size);
  }
  // BMCs start the result area on a paragraph boundary.
  const size_t ResultArea = Image.ResultAreaOffset.value_or((Next + 15) & ~size_t{15});
  if (ResultArea >= FruAddressSpace) {
    throw MailboxFormatError("the result area at " + std::to_string(ResultArea) +
                             " lies past the FRU offset 65535");
  }
  Layout.ResultAreaOffset = static_cast<UINT16>(ResultArea);
  Layout.End = Next;
  if (ResultArea != 0) {
    Pieces.push_back({"the result area", ResultArea, ResultArea + ResultAreaSize});
    Layout.End = std::max(Next, ResultArea + ResultAreaSize);
  }
  CheckPieces(Pieces, Image.Size);
  return Layout;
}

MailboxLayout WriteMailboxInto(std::vector<uint8_t>& Bytes, const MailboxImage& Image) {
  const MailboxLayout Layout = PlaceMailbox(Image);
  if (Bytes.size() < Image.Size) {
    throw MailboxFormatError("the mailbox needs " + std::to_string(Image.Size) +
                             " bytes; the device has " + std::to_string(Bytes.size()));
  }
  auto Put = [&Bytes](size_t At, const std::vector<uint8_t>& Piece) {
    std::copy(Piece.begin(), Piece.end(), Bytes.begin() + At);
  };
  std::vector<uint8_t> Header = HeaderBytes(Image, Layout);
  Header.insert(Header.end(), Image.Lock.begin(), Image.Lock.end());
  Put(Image.HeaderOffset, Header);
  for (size_t J = 0; J < MailboxCommandLists; ++J) {
    if (Image.Lists[J]) {
      Put(Layout.ListOffsets[J],
          EncodeCommandList(Image.Lists[J]->Commands, Image.Lists[J]->Terminated));
    }
  }
  if (Layout.ResultAreaOffset != 0) {
    Put(Layout.ResultAreaOffset, std::vector<uint8_t>(ResultAreaSize, 0xFF));
  }
  for (const PlacedResultRecord& R : Image.Results) {
    if (Layout.ResultAreaOffset == 0) {
      throw MailboxFormatError("a result record given for a mailbox without a result area");
    }
    if (R.List >= MailboxCommandLists || R.Index >= ResultRecordsPerList) {
      throw MailboxFormatError("result record " + std::to_string(R.Index) + " of list " +
                               std::to_string(R.List) + ": a result area holds 32 records in " +
                               "each of lists 0 to 7");
    }
    Put(ResultRecordOffset(Layout.ResultAreaOffset, R.List, R.Index), EncodeResultRecord(R.Record));
  }
  return Layout;
}

std::vector<uint8_t> EncodeMailboxImage(const MailboxImage& Image) {
  std::vector<uint8_t> Bytes(Image.Size, Image.Fill);
  WriteMailboxInto(Bytes, Image);
  for (const RawBytes& Raw : Image.Raw) {
    if (Raw.Offset + Raw.Bytes.size() > Bytes.size()) {
      throw MailboxFormatError("raw bytes at " + Hex4(Raw.Offset) + " run past the end of the " +
                               std::to_string(Bytes.size()) + "-byte image");
    }
    std::copy(Raw.Bytes.begin(), Raw.Bytes.end(), Bytes.begin() + Raw.Offset);
  }
  return Bytes;
}

} // namespace mailbox_format
