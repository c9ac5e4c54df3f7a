// The loader against Intel HEX written by real tools, and against files no tool would write.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/hex_loader.h"
#include "support/test_support.h"

namespace trident {
namespace {

using testing::RecordingDiagnostics;
using testing::TempDir;

struct Loaded {
  HexLoadStatus status;
  std::vector<uint8_t> bytes;
  HexImage image;
  int32_t lineNO = 0;
  RecordingDiagnostics diag;
};

std::unique_ptr<Loaded> load(const std::filesystem::path& file) {
  auto out = std::make_unique<Loaded>();
  out->status = readHexImage(file, out->image, out->lineNO, out->diag);
  out->bytes.assign(out->image.bytes.get(), out->image.bytes.get() + out->image.length);
  return out;
}

std::string toLf(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// --- files written by the tools -----------------------------------------------------------------

class ObjcopyImages : public ::testing::TestWithParam<size_t> {};

TEST_P(ObjcopyImages, LoadToExactlyTheDataBytes) {
  TempDir dir;
  const auto data = testing::randomBytes(GetParam(), static_cast<uint32_t>(GetParam()));
  const auto hex = testing::objcopyHex(dir, data);
  auto loaded = load(hex);
  ASSERT_EQ(loaded->status, HexLoadStatus::Loaded);
  EXPECT_EQ(loaded->bytes, data);
  EXPECT_LE(loaded->image.length, loaded->image.capacity);

  // The same file with LF line ends loads the same image.
  testing::writeFile(dir / "lf.hex", toLf(testing::readFile(hex)));
  EXPECT_EQ(load(dir / "lf.hex")->bytes, data);
}

// 16-byte records, a partial last record, and more than 64 KiB (extended linear address records).
INSTANTIATE_TEST_SUITE_P(Sizes, ObjcopyImages,
                         ::testing::Values(1, 15, 16, 17, 1000, 32768, 70000, 200003));

struct SrecCase {
  uint32_t address;
  int recordLength;
  size_t size;
};

class SrecCatImages : public ::testing::TestWithParam<SrecCase> {};

TEST_P(SrecCatImages, LoadToExactlyTheDataBytes) {
  TempDir dir;
  const auto& c = GetParam();
  const auto data = testing::randomBytes(c.size, c.address + static_cast<uint32_t>(c.recordLength));
  auto loaded = load(testing::srecCatHex(dir, data, c.address, c.recordLength));
  ASSERT_EQ(loaded->status, HexLoadStatus::Loaded);
  EXPECT_EQ(loaded->bytes, data);
}

INSTANTIATE_TEST_SUITE_P(RecordLengths, SrecCatImages,
                         ::testing::Values(SrecCase{0, 1, 300}, SrecCase{0, 7, 1001},
                                           SrecCase{0, 32, 4096}, SrecCase{0, 255, 100000},
                                           SrecCase{0x08000000, 16, 70000},
                                           SrecCase{0x08000000, 64, 12345}));

TEST(HexLoader, ExtendedAddressRecordsAreSkippedAndTraced) {
  TempDir dir;
  const auto data = testing::randomBytes(40, 7);
  const auto hex = testing::objcopyHex(dir, data, 0x08000000);
  const std::string text = testing::readFile(hex);
  auto loaded = load(hex);
  EXPECT_EQ(loaded->bytes, data);
  // The first line is the extended linear address record: traced with line number 0 and its
  // line break; the data records that follow leave no trace.
  const std::string firstLine = text.substr(0, text.find('\n') + 1);
  ASSERT_EQ(firstLine.substr(7, 2), "04");
  const std::string expected = "fopen(Acode) success\nfsize=" + std::to_string(text.size()) +
                               "\nlineNO: 0, line[7] or [8] =! 0, line = " + firstLine;
  EXPECT_EQ(loaded->diag.out.substr(0, expected.size()), expected);
  EXPECT_EQ(loaded->diag.out.find("lineNO: 1,"), std::string::npos);
  EXPECT_TRUE(loaded->diag.logged("path of Acode : " + hex.string()));
  EXPECT_TRUE(loaded->diag.out.ends_with(
      "===================== eof reading file, then send cmd-sync, then update A\n\n"));
}

// --- what the loader does with the file's order and its records ----------------------------------

TEST(HexLoader, RecordsLoadInFileOrderWhateverTheirAddressesAndTypes) {
  TempDir dir;
  testing::writeFile(dir / "t.hex",
                     ":0410000011223344FF\n"  // address 0x1000
                     ":00000001FF\n"          // end of file: reading goes on
                     ":020000000A0BFF\n"      // address 0: lower, still appended
                     ":00123400FF\n"          // zero-length data record: nothing, no trace
                     ":03FFF000CCDDEE00\n");  // wrong checksum: loaded unchanged
  auto loaded = load(dir / "t.hex");
  EXPECT_EQ(loaded->bytes,
            (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x0A, 0x0B, 0xCC, 0xDD, 0xEE}));
  EXPECT_NE(loaded->diag.out.find("lineNO: 1, line[7] or [8] =! 0, line = :00000001FF\n"),
            std::string::npos);
  EXPECT_EQ(loaded->diag.out.find("lineNO: 3"), std::string::npos);
  EXPECT_EQ(loaded->lineNO, 4);
}

TEST(HexLoader, TwoRecordsLoadBackToBack) {
  TempDir dir;
  testing::writeFile(dir / "t.hex",
                     ":10000000000102030405060708090A0B0C0D0E0F00\r\n"
                     ":08001000101112131415161700\r\n");
  auto loaded = load(dir / "t.hex");
  ASSERT_EQ(loaded->image.length, 24u);
  for (uint8_t i = 0; i < 24; ++i)
    EXPECT_EQ(loaded->bytes[i], i);
}

// --- files no tool would write
// --------------------------------------------------------------------

TEST(HexLoader, MissingFileCannotBeOpened) {
  TempDir dir;
  auto loaded = load(dir / "absent.hex");
  EXPECT_EQ(loaded->status, HexLoadStatus::CannotOpen);
  EXPECT_EQ(loaded->diag.out, "");
}

TEST(HexLoader, EmptyFileAndFileWithoutDataGiveAnEmptyImage) {
  TempDir dir;
  testing::writeFile(dir / "empty.hex", "");
  auto empty = load(dir / "empty.hex");
  EXPECT_EQ(empty->status, HexLoadStatus::Loaded);
  EXPECT_EQ(empty->image.length, 0u);
  EXPECT_NE(empty->diag.out.find("fsize=0\n"), std::string::npos);

  testing::writeFile(dir / "eof.hex", ":00000001FF\n");
  EXPECT_EQ(load(dir / "eof.hex")->image.length, 0u);
}

TEST(HexLoader, ShortAndTruncatedLinesNeverReadPastTheLine) {
  TempDir dir;
  testing::writeFile(dir / "t.hex",
                     ":\n"               // shorter than its header
                     ":1000000\n"        // stops before the record type
                     ":10000000AABB\n"   // declares 16 bytes, holds 2
                     ":05000000CCD\r\n"  // holds 1 byte and half a digit pair
                     ":FF00000001\n"     // declares 255, holds 1 (the checksum pair)
                     ":02000000EEFF");   // no line break at the end of the file
  auto loaded = load(dir / "t.hex");
  EXPECT_EQ(loaded->bytes, (std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0x01, 0xEE, 0xFF}));
  EXPECT_NE(loaded->diag.out.find("lineNO: 0, line[7] or [8] =! 0, line = :\n"), std::string::npos);
  EXPECT_NE(loaded->diag.out.find("lineNO: 1, line[7] or [8] =! 0, line = :1000000\n"),
            std::string::npos);
}

TEST(HexLoader, LinesLongerThanTheBufferAreTakenInPieces) {
  TempDir dir;
  // A 255-byte record is 521 characters; this one runs on to 1500, so the loader sees a first
  // piece of 1023 characters (the record, loaded) and the rest as a line of its own.
  std::string record = ":FF000000";
  for (int i = 0; i < 255; ++i)
    record += "5A";
  record += "00";
  const std::string tail(1500 - record.size(), '7');
  testing::writeFile(dir / "t.hex", record + tail + "\n:0100000042BD\n");
  auto loaded = load(dir / "t.hex");
  std::vector<uint8_t> expected(255, 0x5A);
  expected.push_back(0x42);
  EXPECT_EQ(loaded->bytes, expected);
  EXPECT_EQ(loaded->lineNO, 2);
  const std::string secondPiece = (record + tail).substr(1023) + "\n";
  EXPECT_NE(loaded->diag.out.find("lineNO: 1, line[7] or [8] =! 0, line = " + secondPiece),
            std::string::npos);
}

TEST(HexLoader, BinaryJunkStaysWithinTheImage) {
  TempDir dir;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    auto junk = testing::randomBytes(4096 + seed * 97, seed);
    // Sprinkle record-like columns so that some junk lines count as data records.
    for (size_t i = 0; i + 12 < junk.size(); i += 41) {
      junk[i] = '\n';
      junk[i + 8] = '0';
      junk[i + 9] = '0';
    }
    testing::writeFile(dir / "junk.hex", junk);
    auto loaded = load(dir / "junk.hex");
    ASSERT_EQ(loaded->status, HexLoadStatus::Loaded);
    EXPECT_LE(loaded->image.length, loaded->image.capacity);
    EXPECT_LE(loaded->image.capacity, junk.size() / 2);
  }
}

TEST(HexLoader, TextInMemoryDecodesAsTheFileDoes) {
  TempDir dir;
  // Real records, and junk with lines from 1 to 1500 characters: the file is read through a
  // 64 KiB buffer, so lines and pieces fall across its refills.
  auto junk = testing::randomBytes(200000, 99);
  for (size_t i = 0, step = 1; i + 12 < junk.size(); i += step, step = step * 7 % 1501 + 1) {
    junk[i] = '\n';
    junk[i + 8] = '0';
    junk[i + 9] = '0';
  }
  testing::writeFile(dir / "junk.hex", junk);
  const std::filesystem::path files[] = {
      testing::objcopyHex(dir, testing::randomBytes(200003, 5)),
      testing::srecCatHex(dir, testing::randomBytes(70000, 6), 0x08000000, 255, "srec"),
      dir / "junk.hex"};
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    auto fromFile = load(file);
    HexImage image;
    int32_t lineNO = 0;
    RecordingDiagnostics diag;
    decodeHexText(testing::readFile(file), image, lineNO, diag);
    EXPECT_EQ(std::vector<uint8_t>(image.bytes.get(), image.bytes.get() + image.length),
              fromFile->bytes);
    EXPECT_EQ(image.capacity, fromFile->image.capacity);
    EXPECT_EQ(lineNO, fromFile->lineNO);
    EXPECT_EQ("fopen(Acode) success\nfsize=" + std::to_string(std::filesystem::file_size(file)) +
                  "\n" + diag.out +
                  "===================== eof reading file, then send cmd-sync, then update A\n\n",
              fromFile->diag.out);
  }
}

TEST(HexLoader, EmbeddedNulEndsTheTracedLine) {
  TempDir dir;
  testing::writeFile(dir / "t.hex", std::string(":02\0zz04FFFF\n", 13));
  auto loaded = load(dir / "t.hex");
  EXPECT_NE(loaded->diag.out.find("lineNO: 0, line[7] or [8] =! 0, line = :02====="),
            std::string::npos);
}

TEST(HexLoader, HexFieldsConvertAsTheCLibraryDoes) {
  struct Case {
    char a, b;
    uint32_t value;
  };
  const Case cases[] = {
      {'0', '0', 0}, {'f', 'F', 255}, {'A', '5', 0xA5}, {' ', 'f', 15},          {'\t', '3', 3},
      {'1', 'z', 1}, {'z', 'z', 0},   {'+', '7', 7},    {'-', '1', 0xFFFFFFFFu}, {'-', 'z', 0},
      {' ', ' ', 0}, {'0', 'x', 0},   {'\0', '5', 0},   {'5', '\0', 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hexField2(c.a, c.b), c.value) << "field '" << c.a << c.b << "'";
  }
}

TEST(HexLoader, SignedRecordLengthIsBoundedByTheLine) {
  TempDir dir;
  // "-1" as a record length is 0xFFFFFFFF to the C library; the line holds three pairs.
  testing::writeFile(dir / "t.hex", ":-1000000112233\n");
  auto loaded = load(dir / "t.hex");
  EXPECT_EQ(loaded->bytes, (std::vector<uint8_t>{0x11, 0x22, 0x33}));
}

TEST(HexLoader, ImagesPastTheBootloaderLimitAreFlagged) {
  TempDir dir;
  auto fits =
      load(testing::srecCatHex(dir, std::vector<uint8_t>(kMaxImageBytes, 0x11), 0, 255, "fits"));
  EXPECT_FALSE(fits->image.tooLarge);
  EXPECT_EQ(fits->image.length, kMaxImageBytes);

  auto over = load(
      testing::srecCatHex(dir, std::vector<uint8_t>(kMaxImageBytes + 1, 0x22), 0, 255, "over"));
  EXPECT_TRUE(over->image.tooLarge);
  EXPECT_EQ(over->image.length, over->image.capacity);
}

}  // namespace
}  // namespace trident
