// Each family's sample loaded into, and checked against, a drive of its
// family, and the distinct ways a load can fail. Expected flash contents are
// the committed golden images (raw flash bytes), checked by hand against
// srec_cat's rendering of the S-record samples, the stated check sums, and
// OpenSSL's MD5 of the digest drive's image.

#include <unistd.h>

#include <cstdio>
#include <tuple>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

#define MD5 "BBA1E727E1C84C3B549791148777263B"
#define CHECKSUM_IS "Firmware checksum is 0563ed3b, size in WORDs 2304\r\n"

struct Family {
  const char *name, *option, *sample, *golden;  // name: drive-sim's --family
  std::size_t at;                               // where the image lies in the flash as read back
  const char* unit;
  std::size_t size;  // of a block, `count` of them
  int count;
  const char* before;  // what the loader prints about the image first
  const char* after;   // what it prints between writing and verifying
  const char* sector;  // what a load or a verify says of a checksum sector found right
  const char* drive;   // the drive named in a mismatch verdict (the 27 series says TL3xx)
};

// clang-format off
const Family FAMILIES[] = {
  {"nym", "", "nym_sample.s", "nym_sample.stream", 0x2000, "sectors", 256, 13, "", "", "", "Nym7700"},
  {"tl3xx", "/a", "tl3xx_sample.s", "tl3xx_sample.image", 0, "sectors", 128, 23,
   "\r\nFirmware size: 2820 checksum 030d659e\r\n", "", "", "TL3xx"},
  {"27", "/9", "series27_sample.s", "series27_sample.image", 0, "sectors", 256, 19,
   "\r\nFirmware size: 4612 checksum 0563ed3b\r\n", "Writing firmware checksum ...\r\n",
   CHECKSUM_IS "Firmware checksum sector is verified\r\n", "TL3xx"},
  {"tk720", "/m", "tk720_sample.bin", "tk720_sample.image", 0x4000, "blocks", 256, 12, "", "", "", "TK720"},
  {"tk720-digest", "/s", "tk720_digest_sample.bin", "tk720_digest_sample.image", 0x8000, "blocks", 256, 12,
   "Image size : 2980\nFile MD5 : " MD5 "\n\n", "", "", "TK720"},
};
// clang-format on
enum { NYM, TL3XX, S27, TK720, DIGEST };

bool Digest(const Family& f) {
  return std::string(f.name) == "tk720-digest";
}

// The write pass up to block `to` (all, with its verdict, when -1).
std::string Written(const Family& f, int to = -1) {
  return "Updating firmware:\r\n" + Pass("updated", f.unit, f.count, 0, to) +
         (to < 0 ? UPDATED : "");
}

// The verify pass and its verdict: a digest drive compares digests instead of
// reading the blocks back.
std::string Verified(const Family& f, bool match, const std::map<int, int>& errors = {}) {
  const std::string mismatch = std::string("Firmware in the ") + f.drive +
                               " drive does not much the file " + f.sample + "\r\n";
  std::string text = "Verifying firmware:\r\n";
  if (Digest(f))
    return text + (match ? "Unit MD5 : " MD5 "\n\n" + std::string(VERIFIED + 2)
                         : "Unit doesn't have any valid firmware\n\n" + mismatch);
  return text + Pass("verifyed", f.unit, f.count, 0, -1, errors) +
         (match ? VERIFIED : "\r\n" + mismatch);
}

// The flash of a drive that holds the sample, and what the 27 series keeps
// beside it: the checksum sector that its boot code reads.
Bytes Loaded(const Family& f) {
  Bytes flash = Holding(f.name, f.at, Golden(f.golden));
  if (std::string(f.name) == "27")
    flash = Holding("27", 0x1DF00, Golden("series27_sample.checksum"), flash);
  return flash;
}

std::vector<std::string> Arguments(const Family& f, std::vector<std::string> more = {}) {
  if (*f.option != '\0') more.insert(more.begin(), f.option);
  more.push_back(f.sample);
  return more;
}

#define VM_ONLY() \
  if (!UnderVm()) GTEST_SKIP() << "tests/vm/run.sh runs it in a virtual machine"

// ---- the fault matrix: a failure of each kind through the real line and
// program (the link phase is shared by all, so on Nym); every family's
// failure paths are in flash_test.cpp, against the monitor in-process.

struct Fault {
  std::string name;
  int family;  // index into FAMILIES
  std::vector<std::string> sim;
  int failures, status;     // failures: identify attempts that fail before the link
  std::string rest;         // everything after the image lines
  int blocks = -1;          // image blocks the flash holds afterwards; -1: all, and the rest
  std::uint32_t stuck = 0;  // a cell that reads 0x00 whatever was written
  std::string tail = "";    // appended to the sample file
  int verify = 0;  // verify only (/v): 1, the image in place; 2, one byte off in the second block
                   // and every byte of the fourth
  Wire wire = Wire::Usb;  // in the virtual machine
  int baud = 0;           // not 0: a run in the virtual machine at this rate (/b)
  std::string err = "";   // standard error
};

std::vector<Fault> FaultRows() {
  const Family &nym = FAMILIES[NYM], &tl3xx = FAMILIES[TL3XX], &s27 = FAMILIES[S27],
               &digest = FAMILIES[DIGEST];
  std::vector<Fault> rows;
  // clang-format off
  for (int i = NYM; i <= DIGEST; ++i) {
    const Family& f = FAMILIES[i];
    const std::string name = f.name;
    rows.push_back({"NoFault_" + name, i, {}, 0, 0, Written(f) + f.after + f.sector + Verified(f, true)});
    rows.push_back({"Verify_" + name, i, {}, 0, 0, f.sector + Verified(f, true), -1, 0, "", 1});
    rows.push_back({"VerifyDifferences_" + name, i, {}, 0, 0, f.sector + Verified(f, false, {{1, 1}, {3, int(f.size)}}), -1, 0, "", 2});
  }
  // Two families through the UART, by the /c2 that /l gives it, the standard 921600 and 250000,
  // which only the free-rate request sets, through the adapter.
  const std::tuple<int, Wire, int> RATES[] = {{NYM, Wire::Uart, 38400}, {S27, Wire::Uart, 115200}, {TL3XX, Wire::Usb, 921600}, {TK720, Wire::Usb, 250000}};
  for (const auto& [i, wire, baud] : RATES) {
    const Family& f = FAMILIES[i];
    rows.push_back({"NoFault" + std::to_string(baud) + (wire == Wire::Uart ? "Uart_" : "_") + f.name, i, {}, 0, 0,
                    Written(f) + f.after + f.sector + Verified(f, true), -1, 0, "", 0, wire, baud});
  }
  rows.insert(rows.end(), {
    // DOS tools end a text file with Ctrl-Z; nothing after it counts.
    {"Tl3xxFileEndsAtCtrlZ", TL3XX, {}, 0, 0, Written(tl3xx) + Verified(tl3xx, true), -1, 0, "S9030000FC\x1AS1 no record\n"},
    // Odd files that load as they always did, told on standard error only: "-" drops the
    // sample's end record; the data after an end record rewrites what the sample holds, the third
    // row's first line a different value for address 0 and its second the sample's own again.
    {"Tl3xxWithoutAnEndRecord", TL3XX, {}, 0, 0, Written(tl3xx) + Verified(tl3xx, true), -1, 0, "-", 0, Wire::Usb, 0,
     "Warning: the file has no end record (S8 or S9) and no count record (S5) matching its 80 data records: it may have been cut short\n"},
    {"Series27DataAfterItsEnd", S27, {}, 0, 0, Written(s27) + s27.after + s27.sector + Verified(s27, true), -1, 0,
     "S123000075A3130536C4840CFE538B9A9D933789429CF2AFA81B92FF00CC1F5E9DB96246A2\n", 0, Wire::Usb, 0,
     "Warning: line 115 holds a data record after the end record on line 114: two files joined?\n"},
    {"Tl3xxAddressGivenTwoValues", TL3XX, {}, 0, 0, Written(tl3xx) + Verified(tl3xx, true), -1, 0, "S10500000000FA\nS1050000366D57\n", 0, Wire::Usb, 0,
     "Warning: line 83 holds a data record after the end record on line 82: two files joined?\n"
     "Warning: line 83 gives address 0x0 the byte 00 where line 2 gave it 36; line 83's byte is loaded\n"
     "Warning: line 84 gives address 0x0 the byte 36 where line 83 gave it 00; line 84's byte is loaded\n"},
    {"NymWriteRefused", NYM, {"--write-status", "3:0x22"}, 0, 1, Written(nym, 2) + "FLASH update failed on sector 2 : error code 34\r\n", 2},
    {"DigestCellWillNotProgram", DIGEST, {"--stuck", "0x8100:0"}, 0, 0, Written(digest) + Verified(digest, false), -1, 0x8100},
  });
  // clang-format on
  return rows;
}

class Loads : public ::testing::TestWithParam<Fault> {};
TEST_P(Loads, EndAsTheDriveDecidesAndNeverClaimSuccessFalsely) {
  const Fault& fault = GetParam();
  const Family& f = FAMILIES[fault.family];
  if (fault.baud != 0) VM_ONLY();
  TempDir dir;
  const Bytes sample = Example(f.sample);
  std::string text(sample.begin(), sample.end());
  if (fault.tail == "-") text.erase(text.rfind("\nS") + 1);
  dir.Write(f.sample, fault.tail == "-" ? text : text + fault.tail);
  Bytes expected = Loaded(f);
  std::vector<std::string> sim = fault.sim;
  if (fault.verify == 2) expected[f.at + f.size + 7] ^= 0x01;
  for (std::size_t i = 0; fault.verify == 2 && i < f.size; ++i)
    expected[f.at + 3 * f.size + i] ^= 0x5A;
  if (fault.verify != 0) sim = {"--flash-in", dir.Write("flash.in", expected)};
  Drive drive(dir, f.name, sim, fault.wire);
  std::string head = Head(drive, f.name, fault.verify == 1, fault.failures);
  std::vector<std::string> more(fault.verify != 0, "/v");
  if (fault.baud != 0) head.replace(head.find("38400"), 5, std::to_string(fault.baud));
  if (fault.baud != 0) more.push_back("/b" + std::to_string(fault.baud));
  Result run = Load(dir, &drive, Arguments(f, more));
  EXPECT_TRUE(Ran(run, fault.status, head + f.before + fault.rest));
  if (UnderWine()) std::erase(run.err, '\r');  // Windows' standard error is a text stream
  EXPECT_EQ(run.err, fault.err);
  const Bytes flash = drive.Stop(), log = testing::ReadFile(dir.File("sim.log"));
  EXPECT_TRUE(fault.verify == 0 ||
              std::string(log.begin(), log.end()).find("WRITE") == std::string::npos);
  Bytes image = Golden(f.golden);
  const auto written = image.begin() + std::min(image.size(), fault.blocks * f.size);
  if (fault.blocks >= 0) expected = Holding(f.name, f.at, Bytes(image.begin(), written));
  if (fault.stuck != 0) expected[fault.stuck] = 0;
  // The digest drive's image carries the time of the load, which no file can foresee.
  if (Digest(f) && fault.verify == 0 && flash.size() == expected.size()) {
    std::copy_n(flash.begin() + f.at + 16, 4, image.begin() + 16);
    if (expected[f.at] != 0xFF)
      std::copy_n(flash.begin() + f.at + 16, 4, expected.begin() + f.at + 16);
  }
  EXPECT_TRUE(SameFlash(expected, flash));
  // Whatever happened, a success verdict means the drive holds the image.
  EXPECT_TRUE(run.out.find("successufully verifyed") == std::string::npos ||
              std::equal(image.begin(), image.end(), flash.begin() + f.at));
}
INSTANTIATE_TEST_SUITE_P(Matrix, Loads, ::testing::ValuesIn(FaultRows()), RowName);

// ---- the forms the drives' toolchains write: one program, assembled and linked by its
// family's toolchain, loaded as the ELF file, objcopy's S-records and Intel HEX and srec_cat's
// Intel HEX, gives the drive the same flash and the same console text, and /n the same addresses.
// The ARM one lies at a Nym's 32-bit flash addresses: S3 records and an S7 start record.
#define TABLE ".byte 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21\n"
const char* const AVR_PROGRAM = ".global _start\n_start: ldi r16, 0x5A\nrjmp _start\n" TABLE;
const char* const ARM_PROGRAM =
    ".syntax unified\n.thumb\n.global _start\n_start: movs r0, #0x5A\n"
    "b _start\n" TABLE TABLE;

TEST(Loads, EveryFormTheToolchainsWriteGivesTheSameFlash) {
  // A Nym drive gets the records themselves, so every form must describe the same records: the
  // loader cuts an ELF segment into records of 32 bytes, as objcopy --srec-len=32 cuts the
  // section, and srec_cat's 32-byte blocks keep those records in Intel HEX. objcopy's own Intel
  // HEX has 16-byte records, which only the families that place data by address take alike.
  const std::tuple<int, std::string, const char*, std::string, const char*> TOOLCHAINS[] = {
      {TL3XX, "avr-", AVR_PROGRAM, "-N", "S-records S0 S1 S9"},
      {S27, "avr-", AVR_PROGRAM, "-N", "S-records S0 S1 S9"},
      {NYM, "arm-none-eabi-", ARM_PROGRAM, "-Ttext=0x08000000", "S-records S0 S3 S7"}};
  for (const auto& [family, tools, program, link, records] : TOOLCHAINS) {
    const Family& f = FAMILIES[family];
    const auto with = [&f](std::vector<std::string> arguments) {
      if (*f.option != '\0') arguments.insert(arguments.begin(), f.option);
      return arguments;
    };
    TempDir dir;
    dir.Write("fw.s", std::string(program));
    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {tools + "as", "-o", "fw.o", "fw.s"},
             {tools + "ld", "-N", link, "-e", "_start", "-o", "fw.elf", "fw.o"},
             {tools + "objcopy", "-O", "srec", "--srec-len=32", "fw.elf", "fw.srec"},
             {tools + "objcopy", "-O", "ihex", "fw.elf", "fw.ihex"},
             {"srec_cat", "fw.srec", "-o", "fw.hex", "-intel", "-obs=32"}}) {
      ChildProcess tool(argv, dir.path());
      ASSERT_TRUE(tool.Wait(60s) && tool.status() == 0) << argv[0] << tool.Stderr();
    }
    const std::pair<std::string, std::string> forms[] = {{"fw.srec", records},
                                                         {"fw.elf", "ELF32 little endian"},
                                                         {"fw.hex", "Intel HEX"},
                                                         {"fw.ihex", "Intel HEX"}};
    Result first;
    Bytes firstFlash;
    std::string dataAt;
    for (const auto& [form, format] : forms) {
      if (family == NYM && form == "fw.ihex") continue;
      // The dry run names the form; the same addresses for every one.
      const std::string said = Load(dir, nullptr, with({"/n", form})).out;
      const std::size_t at = said.find(" Format:           " + format + "\r\n Data at:  ");
      ASSERT_NE(at, std::string::npos) << said;
      const std::size_t from = at + format.size() + 21;
      const std::string line = said.substr(from, said.find('\n', from) - from);
      EXPECT_EQ(line, dataAt.empty() ? dataAt = line : dataAt) << form;
      Drive drive(dir, f.name);
      const Result run = Load(dir, &drive, with({form}));
      const Bytes flash = drive.Stop();
      EXPECT_TRUE(run.status == 0 && run.out.ends_with(VERIFIED) && run.err.empty()) << form;
      if (form == "fw.srec") {
        first = run;
        firstFlash = flash;
        EXPECT_FALSE(SameFlash(Bytes(FlashSize(f.name), 0xFF), flash));
      }
      // The same but for the port line: each drive-sim has a terminal of its own.
      EXPECT_EQ(run.out.substr(run.out.find(" baud")), first.out.substr(first.out.find(" baud")));
      EXPECT_TRUE(SameFlash(firstFlash, flash)) << f.name << " " << form;
    }
  }
}

// ---- on the kernel's own serial drivers in tests/vm/run.sh's virtual machine, where the rows
// NoFault* above load each family through an FTDI adapter or the UART.

// The parameters cleared (/p), 256 sectors each way: a run long enough to be met midway.
const std::string CLEARING = "Setting flash to 0xFF\r\nUpdating firmware:\r\n";

// A line left 7E1, cooked and with every input, output and local setting a binary line must not
// have is 8N1 raw while the loader holds it, with the adapter's latency timer at 1 and a second
// loader refused; afterwards it is exactly as it was found.
TEST(RealDrivers, LineHeldRawAloneAndGivenBackAsFound) {
  VM_ONLY();
  TempDir dir;
  Drive drive(dir, "nym");
  const std::string tty = " -F /dev/ttyUSB0; cat /sys/class/tty/ttyUSB0/device/latency_timer";
  const std::vector<std::string> hostile = {
      "parenb", "cstopb", "ignbrk", "brkint", "parmrk", "istrip", "inlcr",  "igncr", "icrnl",
      "ixon",   "ixoff",  "ixany",  "opost",  "icanon", "echo",   "echonl", "isig",  "iexten"};
  std::string settings = " cs7";
  for (const std::string& setting : hostile) settings += " " + setting;
  ASSERT_EQ(
      InGuest("echo 16 >/sys/class/tty/ttyUSB0/device/latency_timer; stty" + settings + tty).out,
      "16\n");
  const std::string found = InGuest("stty -g" + tty).out;
  ASSERT_EQ(InGuest("started " + drive.Port() + " /p").status, 0);
  ASSERT_TRUE(drive.Reached("WRITE 0x0002E000"));
  std::string held = " " + InGuest("stty -a" + tty).out;
  std::replace(held.begin(), held.end(), '\n', ' ');
  EXPECT_NE(held.find(" cs8 "), std::string::npos) << held;
  for (const std::string& setting : hostile)
    EXPECT_NE(held.find(" -" + setting + " "), std::string::npos) << setting << " in" << held;
  EXPECT_TRUE(held.ends_with(" 1 ")) << "latency timer: " << held;
  const Result second = Load(dir, &drive, {"/p"});
  EXPECT_TRUE(Ran(second, 1, BANNER + ("Failed to open " + drive.Name()) + " port\r\n"));
  EXPECT_EQ(second.err, "Cannot open /dev/ttyUSB0: in use by another program\n");
  EXPECT_TRUE(Ran(InGuest("finished"), 0,
                  Head(drive, "nym") + CLEARING + Pass("updated", "sectors", 992, 736) + UPDATED +
                      "Verifying firmware:\r\n" + Pass("verifyed", "sectors", 992, 736) +
                      VERIFIED));
  EXPECT_EQ(InGuest("stty -g" + tty).out, found);
}

// The adapter pulled out while the loader waits for a silent drive to answer, and in the middle of
// each pass: the run ends at once, with no attempt made on a line that is gone, with the phase's
// failure message, and names the device that went away; plugged back in, the port loads again.
TEST(RealDrivers, AdapterPulledOutEndsTheRunAndLoadsOncePluggedBack) {
  VM_ONLY();
  for (const char* at : {"IDENTIFY", "WRITE 0x0002E400", "READ 0x00030400"}) {
    TempDir dir;
    Drive drive(dir, "nym", std::vector<std::string>(*at == 'I', "--silent"));
    ASSERT_EQ(InGuest("started " + drive.Port() + " /p").status, 0);
    ASSERT_TRUE(drive.Reached(at)) << InGuest("finished").out;
    drive.Pull();
    const Result run = InGuest("finished");
    EXPECT_EQ(run.err, "/dev/ttyUSB0: the device went away (unplugged or powered off)\n");
    if (*at == 'I') {
      // Each countdown line is 42 bytes; the failure message closing the run is 55.
      const std::size_t attempts = (run.out.size() - run.out.find(" baud\r\n") - 7 - 55) / 42;
      EXPECT_LT(attempts, 10u);
      EXPECT_TRUE(Ran(run, 1,
                      BANNER + drive.PortLine() + Countdown(int(attempts)) +
                          "Failed to establish connection with selected device\r\n\r\n"));
      continue;
    }
    const bool writing = *at == 'W';
    const char* failure =
        writing ? "FLASH update failed on sector %d : error code %d\r\n"
                : "FLASH verification failed on sector %d because of communication error %d\r\n";
    int block = 0, code = 0;
    std::sscanf(run.out.c_str() + std::min(run.out.rfind("FLASH "), run.out.size()), failure,
                &block, &code);
    EXPECT_TRUE(code == 16 || code == 18) << run.out;
    char failed[96];
    std::snprintf(failed, sizeof failed, failure, block, code);
    const std::string verifying =
        UPDATED + ("Verifying firmware:\r\n" + Pass("verifyed", "sectors", 992, 736, block));
    EXPECT_TRUE(Ran(run, 1,
                    Head(drive, "nym") + CLEARING +
                        Pass("updated", "sectors", 992, 736, writing ? block : -1) +
                        (writing ? "" : verifying) + failed));
    usleep(600000);  // plugged back a moment later, when the drive has dropped the cut request
    drive.Plug();
    const Family& nym = FAMILIES[NYM];
    EXPECT_TRUE(Ran(Load(dir, &drive, {"nym_sample.s"}), 0,
                    Head(drive, "nym") + Written(nym) + Verified(nym, true)));
    EXPECT_TRUE(SameFlash(Loaded(nym), drive.Stop()));
  }
}

// A user outside the device's group is told which group to join; once in it, the same command
// loads. /l lists the UARTs there are and the adapter with its maker, as the /c that opens them.
TEST(RealDrivers, OperatorInTheDevicesGroupAndThePortsListed) {
  VM_ONLY();
  TempDir dir;
  Drive drive(dir, "nym");
  const std::string load = "operator kelvane " + drive.Port() + " nym_sample.s";
  const Result refused = InGuest(load);
  EXPECT_TRUE(Ran(refused, 1, BANNER + ("Failed to open " + drive.Name()) + " port\r\n"));
  EXPECT_TRUE(
      refused.err.starts_with("Cannot open /dev/ttyUSB0: permission denied; the user must "
                              "be in the group dialout that owns it"))
      << refused.err;
  // ttyS2 is root's alone (root:root 0600), as the kernel makes its nodes.
  const Result rootOnly = InGuest("operator kelvane /c3 nym_sample.s");
  EXPECT_TRUE(Ran(rootOnly, 1, BANNER + std::string("Failed to open COM3 port\r\n")));
  EXPECT_EQ(rootOnly.err, "Cannot open /dev/ttyS2: permission denied; only root may open it\n");
  const Family& nym = FAMILIES[NYM];
  EXPECT_TRUE(
      Ran(InGuest("joined; " + load), 0, Head(drive, "nym") + Written(nym) + Verified(nym, true)));
  EXPECT_TRUE(
      Ran(InGuest("kelvane /l"), 0,
          BANNER + std::string("Serial ports:\r\n  /c1              /dev/ttyS0\r\n"
                               "  /c2              /dev/ttyS1\r\n  /c3              /dev/ttyS2\r\n"
                               "  /c/dev/ttyUSB0   /dev/ttyUSB0  (QEMU QEMU USB SERIAL)\r\n")));
}

}  // namespace
}  // namespace kelvane::e2e
