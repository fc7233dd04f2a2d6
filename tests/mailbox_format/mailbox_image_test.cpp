// Mailbox images: exact round trips through the decoder, decoding as the host reads, and the
// refusals of what the mailbox format cannot hold.
#include <gtest/gtest.h>

#include <random>

#include "mailbox_format/mailbox_image.h"

namespace {

using mailbox_format::DecodeMailboxImage;
using mailbox_format::EncodeMailboxImage;
using mailbox_format::MailboxCommand;
using mailbox_format::MailboxFormatError;
using mailbox_format::MailboxImage;
using mailbox_format::MailboxList;

std::vector<MailboxCommand> Numbered(size_t Count, UINT16 FirstId = 1) {
  std::vector<MailboxCommand> Out;
  for (size_t I = 0; I < Count; ++I) {
    Out.push_back({static_cast<UINT16>(FirstId + I),
                   "SET B1 OEMTAL_IOV1_BUS" + std::to_string(1 + I % 4) + "=ENABLE"});
  }
  return Out;
}

MailboxImage PlatformImage() {
  MailboxImage Image;
  Image.Lists[0] = MailboxList{{{0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
                                {0x0002, "SET NETPORT1 OEMTAL_BOOTPROTOCOL=PXE"}}};
  return Image;
}

struct ImageCase {
  const char* Name;
  MailboxImage (*Make)();
};

// Images a BMC or a test may hold; each must decode into a description that builds it again.
const ImageCase Images[] = {
    {"platform list", PlatformImage},
    {"header at the eighth candidate",
     [] {
       MailboxImage I = PlatformImage();
       I.HeaderOffset = 512 + 7 * 256;
       return I;
     }},
    {"adapter lists with gaps, placed by hand",
     [] {
       MailboxImage I;
       I.Size = 8192;
       I.Lists[1] = MailboxList{Numbered(3), true, 0x0400};
       I.Lists[5] = MailboxList{Numbered(2, 0x50), true, 0x0800};
       I.ResultAreaOffset = 0x1000;
       return I;
     }},
    {"results written, the lock held, the overflow marker",
     [] {
       MailboxImage I;
       I.Lists[0] = MailboxList{Numbered(33)};
       I.Lock = {1, 0, 1};
       I.Results = {{0, 0, {0xFD00, 0x00000000}}, {0, 1, {0x0002, 0x0E00}}, {0, 31, {32, 0xFD02}}};
       return I;
     }},
    {"unterminated list and empty list",
     [] {
       MailboxImage I;
       I.Lists[0] = MailboxList{Numbered(2), false};
       I.Lists[1] = MailboxList{{}, true};
       return I;
     }},
    {"bad checksum, reserved bytes, no result area",
     [] {
       MailboxImage I = PlatformImage();
       I.HeaderReserved = {0xDE, 0xAD, 0xBE, 0xEF};
       I.ChecksumWord = 0x1234;
       I.ResultAreaOffset = 0;
       return I;
     }},
    {"texts of every length and byte",
     [] {
       MailboxImage I;
       std::string AllBytes;
       for (int B = 1; B < 256; ++B) {
         AllBytes.push_back(static_cast<char>(B));
       }
       I.Lists[0] = MailboxList{{{0, ""}, {0xFFFE, std::string(255, 'A')}, {7, AllBytes}}};
       return I;
     }},
    {"other FRU areas around the mailbox",
     [] {
       MailboxImage I = PlatformImage();
       I.Fill = 0xFF;
       I.Raw = {{0, {0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFE}}, {4000, {0x12, 0x34}}};
       return I;
     }},
};

class RoundTrip : public ::testing::TestWithParam<ImageCase> {};

TEST_P(RoundTrip, DecodedDescriptionBuildsTheSameBytes) {
  const MailboxImage Original = GetParam().Make();
  const std::vector<uint8_t> Bytes = EncodeMailboxImage(Original);
  const mailbox_format::DecodedMailbox Decoded = DecodeMailboxImage(Bytes);
  EXPECT_EQ(EncodeMailboxImage(Decoded.Image), Bytes);
  // The lists come back as commands, not as raw bytes.
  for (size_t J = 0; J < 8; ++J) {
    ASSERT_EQ(Decoded.Image.Lists[J].has_value(), Original.Lists[J].has_value()) << J;
    if (Original.Lists[J]) {
      const auto& Want = Original.Lists[J]->Commands;
      const auto& Got = Decoded.Image.Lists[J]->Commands;
      ASSERT_EQ(Got.size(), Want.size()) << J;
      for (size_t I = 0; I < Want.size(); ++I) {
        EXPECT_EQ(Got[I].Id, Want[I].Id);
        EXPECT_EQ(Got[I].Text, Want[I].Text);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Images, RoundTrip, ::testing::ValuesIn(Images));

// Whatever a dump holds (damaged lists, texts without an end, pointers into the header), its
// description builds it back byte for byte.
TEST(DecodeDamagedDumps, StillBuildBackExactly) {
  MailboxImage Image;
  Image.Lists[0] = MailboxList{Numbered(12)};
  Image.Lists[2] = MailboxList{Numbered(4, 0x40)};
  const std::vector<uint8_t> Clean = EncodeMailboxImage(Image);
  const size_t H = Image.HeaderOffset;
  std::mt19937 Random(4711);
  for (int Round = 0; Round < 300; ++Round) {
    std::vector<uint8_t> Dump = Clean;
    const int Changes = 1 + Round % 6;
    for (int C = 0; C < Changes; ++C) {
      // Mostly the header's offsets and the first lists, where damage changes the structure.
      const size_t Span = Round % 3 == 0 ? Dump.size() : 400;
      Dump[H + 8 + Random() % Span % (Dump.size() - H - 8)] = static_cast<uint8_t>(Random());
    }
    const mailbox_format::DecodedMailbox Decoded = DecodeMailboxImage(Dump);
    ASSERT_EQ(EncodeMailboxImage(Decoded.Image), Dump) << "round " << Round;
  }
}

TEST(DecodeMailbox, FindsTheFirstSignatureAsTheHostDoes) {
  MailboxImage Image = PlatformImage();
  Image.HeaderOffset = 1280;
  std::vector<uint8_t> Bytes = EncodeMailboxImage(Image);
  EXPECT_EQ(DecodeMailboxImage(Bytes).Image.HeaderOffset, 1280);
  // A damaged signature at an earlier candidate is skipped; a later one is never looked at.
  Bytes[768] = '$';
  Bytes[769] = 'F';
  Bytes[770] = 'I';
  Bytes[771] = 'X';
  EXPECT_EQ(DecodeMailboxImage(Bytes).Image.HeaderOffset, 1280);
  Bytes[771] = 'P';
  const mailbox_format::DecodedMailbox Early = DecodeMailboxImage(Bytes);
  EXPECT_EQ(Early.Image.HeaderOffset, 768);
  EXPECT_FALSE(Early.ChecksumValid);
}

TEST(DecodeMailbox, RefusesImagesWithoutAMailbox) {
  EXPECT_THROW(DecodeMailboxImage(std::vector<uint8_t>(4096, 0)), MailboxFormatError);
  EXPECT_THROW(DecodeMailboxImage(std::vector<uint8_t>(100, 0)), MailboxFormatError);
  EXPECT_THROW(DecodeMailboxImage(std::vector<uint8_t>(0x10001, 0)), MailboxFormatError);
}

TEST(DecodeMailbox, ShowsTheOverflowMarkerAndAListThatRunsIntoTheResultArea) {
  MailboxImage Image;
  Image.Lists[0] = MailboxList{Numbered(33)};
  Image.Lists[1] = MailboxList{Numbered(2), false};
  Image.Results = {{0, 0, {0xFD00, 0x0000}}};
  const mailbox_format::DecodedMailbox D = DecodeMailboxImage(EncodeMailboxImage(Image));
  ASSERT_EQ(D.Lists.size(), 2u);
  EXPECT_TRUE(D.Lists[0].Overflow);
  EXPECT_EQ(D.Lists[0].CommandOffsets.size(), 33u);
  EXPECT_FALSE(D.Lists[1].Overflow);
  // Without its end id the list goes on into the padding before the result area, read as the host
  // would read it (zero bytes are id 0 with an empty text), and stops at the result area.
  EXPECT_FALSE(D.Lists[1].Terminated);
  EXPECT_FALSE(D.Lists[1].Problem.empty());
  const auto& Commands = D.Image.Lists[1]->Commands;
  ASSERT_GE(Commands.size(), 2u);
  EXPECT_EQ(Commands[1].Id, 2);
  for (size_t I = 2; I < Commands.size(); ++I) {
    EXPECT_EQ(Commands[I].Id, 0);
    EXPECT_EQ(Commands[I].Text, "");
  }
}

TEST(StatusWordName, NamesThePlatformWords) {
  EXPECT_EQ(mailbox_format::StatusWordName(0x0E00), "Done");
  EXPECT_EQ(mailbox_format::StatusWordName(0xFD02), "BadKeyword");
  EXPECT_EQ(mailbox_format::StatusWordName(0xF502), "Refused");
  EXPECT_EQ(mailbox_format::StatusWordName(0xFFFFFFFF), "not written");
  EXPECT_EQ(mailbox_format::StatusWordName(0x0001), "failed");
  EXPECT_EQ(mailbox_format::StatusWordName(0x0100), "done");
}

struct Refusal {
  const char* Name;
  void (*Change)(MailboxImage&);
  const char* Message;
};

const Refusal Refusals[] = {
    {"text over 255 characters",
     [](MailboxImage& I) { I.Lists[0]->Commands[1].Text = std::string(256, 'X'); },
     "list 0, command 1: text of 256 characters; a command holds at most 255"},
    {"text with a NUL",
     [](MailboxImage& I) { I.Lists[0]->Commands[0].Text = std::string("SET\0B1", 6); },
     "list 0, command 0: text holds a NUL"},
    {"the end id as a command id", [](MailboxImage& I) { I.Lists[0]->Commands[0].Id = 0xFFFF; },
     "id 0xFFFF ends a list"},
    {"header offset between candidates", [](MailboxImage& I) { I.HeaderOffset = 600; },
     "header offset 600 is none of the candidates"},
    {"header offset past the last candidate", [](MailboxImage& I) { I.HeaderOffset = 2560; },
     "header offset 2560 is none of the candidates"},
    {"result area reaching past offset 65535",
     [](MailboxImage& I) {
       I.Size = 0x10000;
       I.ResultAreaOffset = 0xFC00;
     },
     "the result area at 0xFC00 ends at 0x10200, past the FRU offset 65535"},
    {"list reaching past offset 65535",
     [](MailboxImage& I) {
       I.Size = 0x10000;
       I.Lists[1] = MailboxList{Numbered(2), true, 0xFFF0};
       I.ResultAreaOffset = 0x1000;
     },
     "list 1 at 0xFFF0 ends at 0x10034, past the FRU offset 65535"},
    {"image larger than a FRU device", [](MailboxImage& I) { I.Size = 0x10001; },
     "an image of 65537 bytes; a FRU device holds at most 65536"},
    {"pieces past the end of the image", [](MailboxImage& I) { I.Size = 1024; },
     "past the end of the 1024-byte image"},
    {"list over the result area",
     [](MailboxImage& I) {
       I.ResultAreaOffset = 0x300;
       I.Lists[1] = MailboxList{Numbered(2), true, 0x0310};
     },
     "list 1 at 0x0310 overlaps the result area (0x0300..0x08FF)"},
    {"list over the header", [](MailboxImage& I) { I.Lists[0]->Offset = 0x0210; },
     "list 0 at 0x0210 overlaps the header (0x0200..0x021E)"},
    {"record past the 32 of a list",
     [](MailboxImage& I) {
       I.Results = {{0, 32, {1, 0x0E00}}};
     },
     "result record 32 of list 0"},
    {"record without a result area",
     [](MailboxImage& I) {
       I.ResultAreaOffset = 0;
       I.Results = {{0, 0, {1, 0x0E00}}};
     },
     "without a result area"},
};

class Refuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refuses, WhatTheFormatCannotHold) {
  MailboxImage Image = PlatformImage();
  GetParam().Change(Image);
  try {
    EncodeMailboxImage(Image);
    FAIL() << "built an image with " << GetParam().Name;
  } catch (const MailboxFormatError& E) {
    EXPECT_NE(std::string(E.what()).find(GetParam().Message), std::string::npos) << E.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Images, Refuses, ::testing::ValuesIn(Refusals));

TEST(MailboxLayout, PutsListsBehindTheLockBytesAndResultsOnAParagraph) {
  MailboxImage Image;
  Image.Lists[0] = MailboxList{{{1, "AB"}}};  // id, text, NUL, end id: 7 bytes
  Image.Lists[3] = MailboxList{{{2, "CDE"}}}; // 8 bytes, up to 0x022E
  const mailbox_format::MailboxLayout L = mailbox_format::PlaceMailbox(Image);
  EXPECT_EQ(L.ListOffsets[0], 512 + 32);
  EXPECT_EQ(L.ListOffsets[3], 512 + 32 + 7);
  EXPECT_EQ(L.ListOffsets[1], 0);
  EXPECT_EQ(L.ResultAreaOffset, 0x0230); // 0x022F rounded up
  EXPECT_EQ(L.End, 0x0230u + 1536);
}

} // namespace
