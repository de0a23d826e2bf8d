// Firmware files and names of every odd shape, given to each reader through
// the real loader: a directory, a missing file, an empty name, a name longer
// than the system allows, binary junk given as S-records, lines around the
// readers' line lengths, a megabyte on one line, records beyond the image
// area, binary images shorter than their header. Each run either ends with a
// clear message and status 1 before any block is sent, or, where the file is
// odd but valid (an empty S-record file, lines of NUL bytes), loads it.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

using e2e::PrintTo;

struct Drive {
  const char* sim;
  std::vector<std::string> options;  // the loader's family option
  std::vector<std::string> arguments;
  std::string identityLines;
  std::size_t flashSize;
};

Drive Nym() {
  return {"nym", {}, {"--identity-hex", NYM_IDENTITY_HEX}, NYM_IDENTITY_LINES, NYM_FLASH_SIZE};
}
Drive Tl3xx() {
  return {"tl3xx",
          {"/a"},
          {"--identity-hex", NYM_BASIC_IDENTITY_HEX},
          NYM_BASIC_IDENTITY_LINES,
          TL3XX_FLASH_SIZE};
}
Drive Series27() {
  return {"27",
          {"/9"},
          {"--identity-hex", SERIES27_IDENTITY_HEX},
          SERIES27_IDENTITY_LINES,
          SERIES27_FLASH_SIZE};
}
Drive Tk720() {
  return {"tk720",
          {"/m"},
          {"--identity-hex", NYM_NO_PERSONALITY_HEX},
          NYM_NO_PERSONALITY_LINES,
          TK720_FLASH_SIZE};
}
Drive Tk720Digest() {
  // A bare personality record: the drive holds no firmware.
  return {"tk720-digest",
          {"/s"},
          {"--identity-hex", TK720_PERSONALITY_HEX},
          std::string(TK720_PERSONALITY_LINES) + "Device doesn't have any valid firmware\n",
          TK720_FLASH_SIZE};
}

const char* const NOT_AN_S_RECORD_1 = "Error (file:1) : not an S-record found\r\n";

// An S-record line of exactly `characters` characters before its line feed.
std::string LineOf(char type, int addressBytes, std::size_t characters) {
  const std::size_t data = (characters - 4) / 2 - static_cast<std::size_t>(addressBytes) - 1;
  return SRecordLine(type, addressBytes, 0, Pattern(data, 5));
}

// Binary junk that no reader can take for a record line.
Bytes Junk() {
  Bytes junk = Pattern(4096, 77);
  junk[0] = 0x7F;
  return junk;
}

std::string OneMegabyteLine(char type) {
  std::string line = std::string("S") + type + "FF";
  line.append(1 << 20, 'A');
  return line + "\n";
}

// The whole run of an S-record file that loads: `image` is what is sent.
std::string Loaded(const std::string& pre, const Bytes& image, std::size_t blockSize) {
  const BlockPass pass = SectorPass(static_cast<int>(image.size() / blockSize) + 1);
  return pre + WritePass(pass) + VerifyPass(pass) + VERIFIED;
}

std::string SizeLine(const WordImage& word) {
  return Format("\r\nFirmware size: %zu checksum %08x\r\n", word.bytes.size(), word.checksum);
}

struct Case {
  const char* name;
  Drive drive;
  // Prepares the directory and returns the file name argument.
  std::function<std::string(const TempDir&)> file;
  std::string tail;  // everything after the identity
  int status;
  // The drive's flash afterwards, from erased; unchanged when empty.
  std::function<Bytes()> flash;
};

std::function<std::string(const TempDir&)> Text(std::string text) {
  return [text](const TempDir& dir) {
    dir.Write("fw.s", text);
    return std::string("fw.s");
  };
}
std::function<std::string(const TempDir&)> Binary(Bytes bytes, std::string name = "fw.bin") {
  return [bytes, name](const TempDir& dir) {
    dir.Write(name, bytes);
    return name;
  };
}
std::function<std::string(const TempDir&)> Name(std::string name) {
  return [name](const TempDir&) { return name; };
}
std::function<std::string(const TempDir&)> Directory() {
  return [](const TempDir& dir) {
    std::filesystem::create_directory(dir.File("firmware"));
    return std::string("firmware");
  };
}

std::vector<Case> Cases() {
  const std::string nymLine98 = LineOf('2', 3, 98);
  const std::string wordLine198 = LineOf('1', 2, 198);
  const std::string longName(5000, 'x');
  std::vector<Case> cases = {
      {"NymDirectoryGivenAsTheFile", Nym(), Directory(), "Can't open file firmware\r\n", 1, {}},
      {"NymMissingFile", Nym(), Name("nothere.s"), "Can't open file nothere.s\r\n", 1, {}},
      {"NymEmptyName", Nym(), Name(""), "Can't open file \r\n", 1, {}},
      {"NymNameLongerThanTheSystemAllows",
       Nym(),
       Name(longName),
       "Can't open file " + longName + "\r\n",
       1,
       {}},
      {"NymBinaryJunk", Nym(), Binary(Junk()), NOT_AN_S_RECORD_1, 1, {}},
      {"NymLetterSThenBinary",
       Nym(),
       Binary({'S', 0x01, 0xFE, 0x00, '\n'}),
       NOT_AN_S_RECORD_1,
       1,
       {}},
      {"NymOneMegabyteLine", Nym(), Text(OneMegabyteLine('2')), NOT_AN_S_RECORD_1, 1, {}},
      {"NymLineOf100Characters", Nym(), Text(LineOf('2', 3, 100)), NOT_AN_S_RECORD_1, 1, {}},
      {"NymLineOf98CharactersLoads", Nym(), Text(nymLine98),
       Loaded("", NymRecordStream(nymLine98), 256), 0,
       [nymLine98] {
         Bytes flash = Erased(NYM_FLASH_SIZE);
         Place(flash, 0x2000, NymRecordStream(nymLine98));
         return flash;
       }},
      // Lines that begin with NUL are skipped: the stream is just its end mark.
      {"NymNulBytesOnlyLoadAnEmptyStream", Nym(), Binary(Bytes(1000, 0x00)),
       Loaded("", {0xFF, 0xFF}, 256), 0, [] { return Erased(NYM_FLASH_SIZE); }},
      {"NymEmptyFileLoadsAnEmptyStream", Nym(), Binary({}, "empty.s"),
       Loaded("", {0xFF, 0xFF}, 256), 0, [] { return Erased(NYM_FLASH_SIZE); }},
      // "-v" does not begin with "/": it is the file's name, not an option.
      {"NymFileNamedLikeAnOption", Nym(), Binary({}, "-v"), Loaded("", {0xFF, 0xFF}, 256), 0,
       [] { return Erased(NYM_FLASH_SIZE); }},

      {"Tl3xxDirectoryGivenAsTheFile", Tl3xx(), Directory(), "Can't open file firmware\r\n", 1, {}},
      {"Tl3xxBinaryJunk", Tl3xx(), Binary(Junk()), NOT_AN_S_RECORD_1, 1, {}},
      {"Tl3xxOneMegabyteLine", Tl3xx(), Text(OneMegabyteLine('1')), NOT_AN_S_RECORD_1, 1, {}},
      // The first 199 characters are read as one line, the rest as line 2.
      {"Tl3xxLineOf200Characters",
       Tl3xx(),
       Text(LineOf('1', 2, 200)),
       "Error (file:2) : not an S-record found\r\n",
       1,
       {}},
      {"Tl3xxLineOf198CharactersLoads", Tl3xx(), Text(wordLine198),
       Loaded(SizeLine(WordImageOf(wordLine198)), WordImageOf(wordLine198).bytes, 128), 0,
       [wordLine198] {
         Bytes flash = Erased(TL3XX_FLASH_SIZE);
         Place(flash, 0, WordImageOf(wordLine198).bytes);
         return flash;
       }},
      {"Tl3xxEmptyFileLoadsItsChecksum", Tl3xx(), Binary({}, "empty.s"),
       Loaded(SizeLine(WordImageOf("")), WordImageOf("").bytes, 128), 0,
       [] {
         Bytes flash = Erased(TL3XX_FLASH_SIZE);
         Place(flash, 0, {0, 0, 0, 0});
         return flash;
       }},

      {"Series27BinaryJunk", Series27(), Binary(Junk()), NOT_AN_S_RECORD_1, 1, {}},
      {"Series27RecordBeyondTheImageArea",
       Series27(),
       Text(SRecordLine('1', 2, 0, {1, 2}) + SRecordLine('2', 3, 0x022000, {1, 2, 3})),
       "Error (file:2) : record does not fit in the flash image area\r\n",
       1,
       {}},
      {"Series27RecordEndingPastTheImageArea",
       Series27(),
       Text(SRecordLine('2', 3, 139998, Pattern(40, 3))),
       "Error (file:1) : record does not fit in the flash image area\r\n",
       1,
       {}},

      {"Tk720DirectoryGivenAsTheFile", Tk720(), Directory(), "Can't open file firmware\r\n", 1, {}},
      {"Tk720EmptyFile", Tk720(), Binary({}), "File is empty. Nothing to load.\r\n", 1, {}},
      {"Tk720ShorterThanItsHeader",
       Tk720(),
       Binary({1, 2, 3}),
       "File is too short for the image header. Nothing to load.\r\n",
       1,
       {}},
      {"Tk720MissingFile", Tk720(), Name("nothere.bin"), "Can't open file nothere.bin\r\n", 1, {}},

      {"Tk720DigestDirectoryGivenAsTheFile",
       Tk720Digest(),
       Directory(),
       "Can't open file firmware\r\n",
       1,
       {}},
      {"Tk720DigestEmptyFile",
       Tk720Digest(),
       Binary({}),
       "File is empty. Nothing to load.\r\n",
       1,
       {}},
      {"Tk720DigestShorterThanItsHeader",
       Tk720Digest(),
       Binary(Pattern(20, 1)),
       "File is too short for the image header. Nothing to load.\r\n",
       1,
       {}},
  };
  return cases;
}

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, IsRefusedBeforeAnyBlockOrLoadsAsItSays) {
  const Case& c = GetParam();
  TempDir dir;
  const std::string name = c.file(dir);
  DriveSim sim(dir, c.drive.sim, c.drive.arguments);
  ASSERT_TRUE(sim.Started());
  std::vector<std::string> arguments = c.drive.options;
  arguments.push_back(name);

  LoaderResult run = RunLoader(dir, &sim, arguments, 60s);

  EXPECT_TRUE(RanAs(run, c.status, Prologue(sim, c.drive.identityLines) + c.tail));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(c.flash ? c.flash() : Erased(c.drive.flashSize), flash));
  if (!c.flash) {
    // Only the identify went out: no block was written or read.
    EXPECT_EQ(Lines(sim.Log()), std::vector<std::string>{"IDENTIFY status 0"});
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BadInput, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvane::e2e
