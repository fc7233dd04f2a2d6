// Decoding FRU images and dumps back into a mailbox description that builds the same bytes.
#include <algorithm>
#include <map>

#include "mailbox_format/hex_text.h"
#include "mailbox_format/mailbox_image.h"

namespace mailbox_format {

namespace {

constexpr size_t HeaderWithLock = HeaderSize + MailboxLockBytes;

std::string Hex4(size_t Value) {
  return HexNumber(Value, 4);
}

// The first candidate holding the signature, as the host searches; the whole header and its lock
// bytes must lie inside the image.
size_t FindHeader(const std::vector<uint8_t>& B) {
  for (size_t K = 0; K < MailboxCandidates; ++K) {
    const size_t H = MailboxFirstOffset + MailboxStride * K;
    if (H + HeaderWithLock > B.size()) {
      break;
    }
    if (std::equal(Signature, Signature + sizeof(Signature), B.begin() + H)) {
      return H;
    }
  }
  throw MailboxFormatError("no mailbox: none of the candidate offsets 512, 768, ... 2304 holds a "
                           "\"$FIP\" header");
}

bool ChecksumHolds(const std::vector<uint8_t>& B, size_t H) {
  UINT16 Sum = 0;
  for (size_t I = 0; I < HeaderSize; I += 2) {
    Sum = static_cast<UINT16>(Sum + GetBe16(B, H + I));
  }
  return Sum == 0;
}

// A list is walked up to the next piece that starts behind it (another list, the header, the
// result area) or the end of the image, whichever comes first.
size_t WalkBound(size_t From, const std::vector<size_t>& Starts, size_t ImageEnd) {
  size_t Bound = ImageEnd;
  for (size_t S : Starts) {
    if (S > From && S < Bound) {
      Bound = S;
    }
  }
  return Bound;
}

// Walks the records of one list from its offset until the end id, a damaged record or the bound.
void WalkList(const std::vector<uint8_t>& B, size_t Bound, MailboxList& List, DecodedList& Out) {
  size_t Q = Out.Offset;
  while (true) {
    if (Q + CommandIdSize > Bound) {
      if (!List.Commands.empty() || Q != Out.Offset) {
        Out.Problem = "no end id before " + Hex4(Bound);
      } else {
        Out.Problem = "no room for a record before " + Hex4(Bound);
      }
      return;
    }
    const UINT16 Id = GetBe16(B, Q);
    if (Id == CommandEndId) {
      List.Terminated = true;
      return;
    }
    const size_t TextEnd = std::min(Bound, Q + CommandIdSize + MailboxTextMax + 1);
    const size_t Text = Q + CommandIdSize;
    auto Nul = std::find(B.begin() + Text, B.begin() + TextEnd, 0);
    if (Nul == B.begin() + TextEnd) {
      Out.Problem = "command " + std::to_string(List.Commands.size()) + " at " + Hex4(Q) +
                    ": no NUL within " + std::to_string(TextEnd - Text) + " bytes";
      return;
    }
    Out.CommandOffsets.push_back(static_cast<UINT16>(Q));
    List.Commands.push_back({Id, std::string(B.begin() + Text, Nul)});
    Q = static_cast<size_t>(Nul - B.begin()) + 1;
  }
}

void DecodeLists(const std::vector<uint8_t>& B, DecodedMailbox& D) {
  const size_t H = D.Image.HeaderOffset;
  const UINT16 R = D.Image.ResultAreaOffset.value_or(0);
  std::vector<size_t> Starts{H};
  if (R != 0) {
    Starts.push_back(R);
  }
  std::map<UINT16, size_t> Seen; // list offset -> first list there
  for (size_t J = 0; J < MailboxCommandLists; ++J) {
    const UINT16 P = GetBe16(B, H + ListOffsetField + 2 * J);
    if (P != 0) {
      Starts.push_back(P);
    }
  }
  for (size_t J = 0; J < MailboxCommandLists; ++J) {
    const UINT16 P = GetBe16(B, H + ListOffsetField + 2 * J);
    if (P == 0) {
      continue;
    }
    DecodedList L{static_cast<UINT8>(J), P, {}, false, "", false};
    // An offset-only list keeps its header entry; its bytes, if any, stay raw.
    MailboxList List{{}, false, P};
    const bool InHeader = P >= H && P < H + HeaderWithLock;
    const bool InResults = R != 0 && P >= R && P < R + ResultAreaSize;
    if (Seen.count(P) != 0) {
      L.Problem = "shares its offset with list " + std::to_string(Seen[P]);
    } else if (P >= B.size()) {
      L.Problem = "lies past the end of the image";
    } else if (InHeader || InResults) {
      L.Problem = std::string("lies inside the ") + (InHeader ? "header" : "result area");
    } else {
      Seen[P] = J;
      WalkList(B, WalkBound(P, Starts, B.size()), List, L);
    }
    L.Terminated = List.Terminated;
    if (R != 0 && R + ResultAreaSize <= B.size()) {
      const size_t Area = R + ResultListStride * J;
      L.Overflow = std::equal(OverflowMarker, OverflowMarker + sizeof(OverflowMarker),
                              B.begin() + static_cast<long>(Area));
    }
    if (!L.Problem.empty()) {
      D.Notes.push_back("list " + std::to_string(J) + " at " + Hex4(P) + ": " + L.Problem);
    }
    D.Image.Lists[J] = std::move(List);
    D.Lists.push_back(std::move(L));
  }
}

void DecodeResults(const std::vector<uint8_t>& B, DecodedMailbox& D) {
  const size_t R = D.Image.ResultAreaOffset.value_or(0);
  if (R == 0) {
    return;
  }
  if (R + ResultAreaSize > B.size()) {
    D.Notes.push_back("the result area at " + Hex4(R) + " runs past the end of the image");
    D.Image.ResultAreaOffset = 0; // the header word comes back through the raw bytes
    return;
  }
  for (UINT8 J = 0; J < MailboxCommandLists; ++J) {
    for (UINT8 I = 0; I < ResultRecordsPerList; ++I) {
      const size_t At = ResultRecordOffset(R, J, I);
      if (!RecordUnwritten(B.data() + At)) {
        D.Image.Results.push_back({J, I, DecodeResultRecord(B.data() + At)});
      }
    }
  }
}

// The fill is the byte most common outside the mailbox's pieces, so that few bytes stay raw.
UINT8 MostCommonOutside(const std::vector<uint8_t>& B, const MailboxLayout& Layout) {
  std::vector<bool> Covered(B.size(), false);
  auto Cover = [&](size_t From, size_t Count) {
    for (size_t I = From; I < From + Count && I < B.size(); ++I) {
      Covered[I] = true;
    }
  };
  Cover(Layout.HeaderOffset, HeaderWithLock);
  for (size_t J = 0; J < MailboxCommandLists; ++J) {
    Cover(Layout.ListOffsets[J], Layout.ListSizes[J]);
  }
  if (Layout.ResultAreaOffset != 0) {
    Cover(Layout.ResultAreaOffset, ResultAreaSize);
  }
  size_t Counts[256] = {};
  for (size_t I = 0; I < B.size(); ++I) {
    if (!Covered[I]) {
      ++Counts[B[I]];
    }
  }
  return static_cast<UINT8>(std::max_element(Counts, Counts + 256) - Counts);
}

// Bytes the description does not reproduce become raw runs; runs a few bytes apart are joined.
std::vector<RawBytes> Differences(const std::vector<uint8_t>& Want,
                                  const std::vector<uint8_t>& Got) {
  constexpr size_t JoinGap = 8;
  std::vector<RawBytes> Runs;
  for (size_t I = 0; I < Want.size(); ++I) {
    if (Want[I] == Got[I]) {
      continue;
    }
    if (!Runs.empty() && I - (Runs.back().Offset + Runs.back().Bytes.size()) <= JoinGap) {
      RawBytes& Last = Runs.back();
      Last.Bytes.insert(Last.Bytes.end(), Want.begin() + Last.Offset + Last.Bytes.size(),
                        Want.begin() + I + 1);
    } else {
      Runs.push_back({I, {Want[I]}});
    }
  }
  return Runs;
}

} // namespace

DecodedMailbox DecodeMailboxImage(const std::vector<uint8_t>& Bytes) {
  if (Bytes.size() > FruAddressSpace) {
    throw MailboxFormatError("an image of " + std::to_string(Bytes.size()) +
                             " bytes; a FRU device holds at most 65536");
  }
  const size_t H = FindHeader(Bytes);
  DecodedMailbox D;
  D.Image.Size = Bytes.size();
  D.Image.HeaderOffset = static_cast<UINT16>(H);
  std::copy(Bytes.begin() + H + ReservedField, Bytes.begin() + H + ListOffsetField,
            D.Image.HeaderReserved.begin());
  std::copy(Bytes.begin() + H + HeaderSize, Bytes.begin() + H + HeaderWithLock,
            D.Image.Lock.begin());
  D.ChecksumValid = ChecksumHolds(Bytes, H);
  D.ChecksumWord = GetBe16(Bytes, H + ChecksumWordField);
  if (!D.ChecksumValid) {
    D.Image.ChecksumWord = D.ChecksumWord;
  }
  D.Image.ResultAreaOffset = GetBe16(Bytes, H + ResultAreaField);
  DecodeLists(Bytes, D);
  DecodeResults(Bytes, D);

  MailboxLayout Layout;
  try {
    Layout = PlaceMailbox(D.Image);
  } catch (const MailboxFormatError& E) {
    // Pieces that do not fit together as they stand: keep the header and the rest as raw bytes.
    D.Notes.push_back(std::string("kept as raw bytes: ") + E.what());
    for (auto& List : D.Image.Lists) {
      if (List) {
        *List = MailboxList{{}, false, List->Offset};
      }
    }
    D.Image.Results.clear();
    D.Image.ResultAreaOffset = 0;
    Layout = PlaceMailbox(D.Image);
  }
  D.Image.Fill = MostCommonOutside(Bytes, Layout);
  D.Image.Raw = Differences(Bytes, EncodeMailboxImage(D.Image));
  return D;
}

} // namespace mailbox_format
