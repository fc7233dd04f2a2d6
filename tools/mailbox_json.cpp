#include "tools/mailbox_json.h"

#include <sstream>

namespace tools {

namespace {

namespace mf = mailbox_format;

bool Printable(const std::string& Text) {
  for (unsigned char C : Text) {
    if (C < 0x20 || C > 0x7E) {
      return false;
    }
  }
  return true;
}

mf::MailboxCommand CommandFromJson(const JsonView& V) {
  V.AllowOnly({"id", "text", "hex"});
  mf::MailboxCommand Command;
  Command.Id = static_cast<UINT16>(V["id"].Unsigned(0xFFFE));
  if (V.Has("text") == V.Has("hex")) {
    V.Fail("give the command as \"text\" or as \"hex\" bytes, one of the two");
  }
  if (V.Has("text")) {
    Command.Text = V["text"].String();
  } else {
    const std::vector<uint8_t> Bytes = V["hex"].HexBytes();
    Command.Text.assign(Bytes.begin(), Bytes.end());
  }
  const JsonView Text = V.Has("text") ? V["text"] : V["hex"];
  if (Command.Text.size() > mf::MailboxTextMax) {
    Text.Fail("a text of " + std::to_string(Command.Text.size()) +
              " characters; a command holds at most 255");
  }
  if (Command.Text.find('\0') != std::string::npos) {
    Text.Fail("a NUL byte would end the text early");
  }
  return Command;
}

// A list is an array of commands, or an object that also places it.
mf::MailboxList ListFromJson(const JsonView& V) {
  mf::MailboxList List;
  JsonView Commands = V;
  if (V.IsObject()) {
    V.AllowOnly({"offset", "terminated", "commands"});
    if (V.Has("offset")) {
      List.Offset = static_cast<UINT16>(V["offset"].Unsigned(1, 0xFFFF));
    }
    if (V.Has("terminated")) {
      List.Terminated = V["terminated"].Bool();
    }
    Commands = V["commands"];
  }
  for (size_t I = 0; I < Commands.Size(); ++I) {
    List.Commands.push_back(CommandFromJson(Commands[I]));
  }
  return List;
}

mf::PlacedResultRecord ResultFromJson(const JsonView& V) {
  V.AllowOnly({"list", "index", "id", "status", "meaning"});
  mf::PlacedResultRecord R;
  R.List = static_cast<UINT8>(V["list"].Unsigned(mf::MailboxCommandLists - 1));
  R.Index = static_cast<UINT8>(V["index"].Unsigned(mf::ResultRecordsPerList - 1));
  R.Record.Id = static_cast<UINT16>(V["id"].Unsigned(0xFFFF));
  R.Record.Status = static_cast<UINT32>(V["status"].Unsigned(0xFFFFFFFF));
  return R;
}

nlohmann::ordered_json CommandToJson(const mf::MailboxCommand& C) {
  nlohmann::ordered_json J = {{"id", HexNumber(C.Id, 4)}};
  PutCommandText(J, C.Text);
  return J;
}

} // namespace

void PutCommandText(nlohmann::ordered_json& Json, const std::string& Text) {
  if (Printable(Text)) {
    Json["text"] = Text;
  } else {
    Json["hex"] = HexBytesText(std::vector<uint8_t>(Text.begin(), Text.end()));
  }
}

std::string ReadableText(const std::string& Text) {
  return Printable(Text) ? Text : "[" + HexBytesText({Text.begin(), Text.end()}) + "]";
}

std::string RecordMeaning(const mf::DecodedMailbox& D, const mf::PlacedResultRecord& R) {
  for (const mf::DecodedList& L : D.Lists) {
    if (L.Overflow && L.Number == R.List && R.Index == 0) {
      return "OverflowMarker (the list holds more than 32 commands; record 0 overwritten)";
    }
  }
  return mf::StatusWordName(R.Record.Status);
}

mf::MailboxImage MailboxFromJson(const JsonView& V) {
  V.AllowOnly({"size", "fill", "header_offset", "header_reserved", "checksum_word", "lock", "lists",
               "result_area", "results", "raw", "decoded"});
  mf::MailboxImage Image;
  if (V.Has("size")) {
    Image.Size = V["size"].Unsigned(1, mf::FruAddressSpace);
  }
  if (V.Has("fill")) {
    Image.Fill = static_cast<UINT8>(V["fill"].Unsigned(0xFF));
  }
  if (V.Has("header_offset")) {
    const JsonView H = V["header_offset"];
    const uint64_t Offset = H.Unsigned(0xFFFF);
    if (Offset < mf::MailboxFirstOffset ||
        (Offset - mf::MailboxFirstOffset) % mf::MailboxStride != 0 ||
        Offset >= mf::MailboxFirstOffset + mf::MailboxStride * mf::MailboxCandidates) {
      H.Fail(std::to_string(Offset) + " is no candidate; the host looks at 512, 768, 1024, 1280, "
                                      "1536, 1792, 2048 and 2304");
    }
    Image.HeaderOffset = static_cast<UINT16>(Offset);
  }
  if (V.Has("header_reserved")) {
    const std::vector<uint8_t> Bytes = V["header_reserved"].HexBytes();
    if (Bytes.size() != Image.HeaderReserved.size()) {
      V["header_reserved"].Fail("expected 4 bytes");
    }
    std::copy(Bytes.begin(), Bytes.end(), Image.HeaderReserved.begin());
  }
  if (V.Has("checksum_word")) {
    Image.ChecksumWord = static_cast<UINT16>(V["checksum_word"].Unsigned(0xFFFF));
  }
  if (V.Has("lock")) {
    const JsonView Lock = V["lock"];
    Lock.AllowOnly({"turn", "bmc", "host"});
    const char* Names[] = {"turn", "bmc", "host"};
    for (size_t I = 0; I < 3; ++I) {
      if (Lock.Has(Names[I])) {
        Image.Lock[I] = static_cast<uint8_t>(Lock[Names[I]].Unsigned(0xFF));
      }
    }
  }
  if (V.Has("lists")) {
    const JsonView Lists = V["lists"];
    if (Lists.Size() > mf::MailboxCommandLists) {
      Lists.Fail(std::to_string(Lists.Size()) + " command lists; a mailbox holds at most 8");
    }
    for (size_t J = 0; J < Lists.Size(); ++J) {
      if (!Lists[J].IsNull()) {
        Image.Lists[J] = ListFromJson(Lists[J]);
      }
    }
  }
  if (V.Has("result_area")) {
    const JsonView R = V["result_area"];
    if (R.Value().is_string() && R.String() == "none") {
      Image.ResultAreaOffset = 0;
    } else {
      Image.ResultAreaOffset = static_cast<UINT16>(R.Unsigned(0xFFFF));
    }
  }
  if (V.Has("results")) {
    for (size_t I = 0; I < V["results"].Size(); ++I) {
      Image.Results.push_back(ResultFromJson(V["results"][I]));
    }
  }
  if (V.Has("raw")) {
    for (size_t I = 0; I < V["raw"].Size(); ++I) {
      const JsonView Raw = V["raw"][I];
      Raw.AllowOnly({"offset", "hex"});
      Image.Raw.push_back({Raw["offset"].Unsigned(0xFFFF), Raw["hex"].HexBytes()});
    }
  }
  try {
    mf::EncodeMailboxImage(Image);
  } catch (const mf::MailboxFormatError& E) {
    V.Fail(E.what());
  }
  return Image;
}

nlohmann::ordered_json MailboxToJson(const mf::DecodedMailbox& D) {
  using json = nlohmann::ordered_json;
  const mf::MailboxImage& Image = D.Image;
  json J = {{"size", Image.Size},
            {"fill", HexNumber(Image.Fill, 2)},
            {"header_offset", Image.HeaderOffset},
            {"header_reserved",
             HexBytesText({Image.HeaderReserved.begin(), Image.HeaderReserved.end()})}};
  if (Image.ChecksumWord) {
    J["checksum_word"] = HexNumber(*Image.ChecksumWord, 4);
  }
  J["lock"] = {{"turn", Image.Lock[0]}, {"bmc", Image.Lock[1]}, {"host", Image.Lock[2]}};
  json Lists = json::array();
  size_t Used = 0;
  for (size_t J2 = 0; J2 < mf::MailboxCommandLists; ++J2) {
    if (Image.Lists[J2]) {
      Used = J2 + 1;
    }
  }
  for (size_t L = 0; L < Used; ++L) {
    if (!Image.Lists[L]) {
      Lists.push_back(nullptr);
      continue;
    }
    json Commands = json::array();
    for (const mf::MailboxCommand& C : Image.Lists[L]->Commands) {
      Commands.push_back(CommandToJson(C));
    }
    Lists.push_back({{"offset", HexNumber(Image.Lists[L]->Offset.value_or(0), 4)},
                     {"terminated", Image.Lists[L]->Terminated},
                     {"commands", Commands}});
  }
  J["lists"] = Lists;
  J["result_area"] = HexNumber(Image.ResultAreaOffset.value_or(0), 4);
  json Results = json::array();
  for (const mf::PlacedResultRecord& R : Image.Results) {
    Results.push_back({{"list", R.List},
                       {"index", R.Index},
                       {"id", HexNumber(R.Record.Id, 4)},
                       {"status", HexNumber(R.Record.Status, 8)},
                       {"meaning", RecordMeaning(D, R)}});
  }
  J["results"] = Results;
  json Raw = json::array();
  for (const mf::RawBytes& R : Image.Raw) {
    Raw.push_back({{"offset", HexNumber(R.Offset, 4)}, {"hex", HexBytesText(R.Bytes)}});
  }
  J["raw"] = Raw;
  json Decoded = {{"checksum_valid", D.ChecksumValid}, {"notes", D.Notes}};
  json Overflows = json::array();
  for (const mf::DecodedList& L : D.Lists) {
    if (L.Overflow) {
      Overflows.push_back(L.Number);
    }
  }
  Decoded["overflow_marker_in_lists"] = Overflows;
  J["decoded"] = Decoded;
  return J;
}

std::string DescribeMailbox(const mf::DecodedMailbox& D) {
  const mf::MailboxImage& Image = D.Image;
  std::ostringstream Out;
  Out << "FRU image of " << Image.Size << " bytes\n";
  Out << "Header at " << HexNumber(Image.HeaderOffset, 4) << ": checksum word "
      << HexNumber(D.ChecksumWord, 4)
      << (D.ChecksumValid ? " (valid)" : " (BAD: the host stops here)") << ", result area "
      << HexNumber(Image.ResultAreaOffset.value_or(0), 4)
      << (Image.ResultAreaOffset.value_or(0) == 0 ? " (none: the host runs nothing)" : "") << "\n";
  Out << "Lock: LockTurn " << int(Image.Lock[0]) << ", BmcLockFlag " << int(Image.Lock[1])
      << ", HostLockFlag " << int(Image.Lock[2])
      << (Image.Lock[2] != 0 ? " (held or wanted by the host)" : "") << "\n";
  for (const mf::DecodedList& L : D.Lists) {
    const mf::MailboxList& List = *Image.Lists[L.Number];
    Out << "List " << int(L.Number) << " at " << HexNumber(L.Offset, 4) << ": "
        << List.Commands.size() << (List.Commands.size() == 1 ? " command" : " commands")
        << (L.Problem.empty() ? "" : " (" + L.Problem + ")")
        << (L.Overflow ? ", OverflowMarker at the start of its result area" : "") << "\n";
    for (size_t I = 0; I < List.Commands.size(); ++I) {
      const mf::MailboxCommand& C = List.Commands[I];
      Out << "  " << I << "  " << HexNumber(C.Id, 4) << "  " << ReadableText(C.Text);
      if (I >= mf::MailboxCommandsPerList) {
        Out << "   (beyond the 32 the host carries out)";
      }
      Out << "\n";
    }
  }
  Out << "Result records (" << Image.Results.size() << " written):\n";
  for (const mf::PlacedResultRecord& R : Image.Results) {
    Out << "  list " << int(R.List) << " record " << int(R.Index) << ": id "
        << HexNumber(R.Record.Id, 4) << " status " << HexNumber(R.Record.Status, 8) << " "
        << RecordMeaning(D, R) << "\n";
  }
  if (!Image.Raw.empty()) {
    size_t Count = 0;
    for (const mf::RawBytes& R : Image.Raw) {
      Count += R.Bytes.size();
    }
    Out << "Other bytes: " << Count << " in " << Image.Raw.size()
        << " runs outside the mailbox (kept as raw bytes)\n";
  }
  for (const std::string& Note : D.Notes) {
    if (Note.rfind("list ", 0) == 0) {
      continue; // shown with its list
    }
    Out << "Note: " << Note << "\n";
  }
  return Out.str();
}

} // namespace tools
