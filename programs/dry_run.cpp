#include "programs/dry_run.h"

#include "flash/checksum_sector.h"
#include "programs/command_line.h"
#include "programs/port_listing.h"
#include "report/console_report.h"
#include "run/drive_guards.h"
#include "run/drive_run.h"
#include "run/run_plan.h"

namespace kelvane {

namespace {

// Where a backup of the family stops reading.
const char* BackupEnd(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::Nym:
      return "to the record stream's end marker";
    case DeviceFamily::TL3xx:
      return "all: the image ends at the last place that holds its checksum";
    case DeviceFamily::Series27:
      return "as many as the checksum sector, read first, gives the image";
    case DeviceFamily::TK720:
    case DeviceFamily::TK720Digest:
      break;
  }
  return "as many as the image header in the first block gives";
}

// " Label:" and the value in a column of its own.
void PrintLabel(const char* label, std::FILE* out) {
  std::fprintf(out, " %-18s", label);
}

void PrintCheckValue(const CheckValue& check, std::FILE* out) {
  PrintLabel("Check value:", out);
  switch (check.kind) {
    case CheckKind::None:
      std::fputs("none, the drive compares what it reads back\r\n", out);
      break;
    case CheckKind::WordImageChecksum:
      std::fprintf(out, "word image checksum %08x\r\n", static_cast<unsigned>(check.word));
      break;
    case CheckKind::CheckWord:
      std::fprintf(out, "check word %08X\r\n", static_cast<unsigned>(check.word));
      break;
    case CheckKind::Digest:
      std::fputs("MD5 ", out);
      for (const std::uint8_t byte : check.digest) std::fprintf(out, "%02X", byte);
      std::fprintf(out, ", time stamp %u\r\n", static_cast<unsigned>(check.timeStamp));
      break;
  }
}

// What the file is, and the addresses its data covers (last addresses
// included), as the image was built from it.
void PrintDescription(const FileDescription& description, std::FILE* out) {
  if (description.format.empty()) return;
  PrintLabel("Format:", out);
  std::fprintf(out, "%s\r\n", description.format.c_str());
  if (description.ranges.empty()) return;
  PrintLabel("Data at:", out);
  const char* separator = "";
  for (const AddressRange& range : description.ranges) {
    std::fprintf(out, "%s0x%llX to 0x%llX", separator, static_cast<unsigned long long>(range.first),
                 static_cast<unsigned long long>(range.end - 1));
    separator = ", ";
  }
  std::fputs("\r\n", out);
}

}  // namespace

DryRunEnd RunDryRun(const RunOptions& options, const DriveFamily& family, std::FILE* out,
                    std::FILE* err) {
  const BlockFamily& blocks = *family.blocks;
  // A backup may come alone; with /u the clear options are refused.
  const PreparedImage image = PrepareImageOf(options, family);
  const RunPlan plan = PlanRun(options, family, image);
  ConsoleReport console(out, err);
  if (plan.loads) {
    // A file /f does not pin is refused, as the run refuses it, before what
    // reading it said.
    if (const std::optional<Failure> refusal = PinRefusal(options, image)) {
      console.Failed(*refusal);
      return DryRunEnd::FileRefused;
    }
    if (!TellFileMessages(image, console)) return DryRunEnd::FileRefused;
  }
  const int last = image.total - 1;

  std::fputs("Dry run, no port opened and nothing sent:\r\n", out);
  PrintLabel("Family:", out);
  std::fprintf(out, "%s\r\n", family.name);
  if (options.backupFileName) {
    // The image's length is the drive's to tell: the most that may be read,
    // counted from 1 as the backup's progress lines count them.
    const int most = static_cast<int>((blocks.readArea + blocks.blockSize - 1) / blocks.blockSize);
    PrintLabel("Backup file:", out);
    std::fprintf(out, "%s\r\n", options.backupFileName->c_str());
    PrintLabel("Blocks to read:", out);
    std::fprintf(out, "up to %d %ss, 1 to %d (0x%X to 0x%X), %s\r\n", most, blocks.unit, most,
                 static_cast<unsigned>(ReadBackAddress(blocks, 0)),
                 static_cast<unsigned>(ReadBackAddress(blocks, most - 1)),
                 BackupEnd(options.family));
    if (!plan.loads) {
      std::fflush(out);
      return DryRunEnd::WouldRun;
    }
  }
  PrintLabel("File:", out);
  std::fprintf(out, "%s\r\n", plan.clears ? "none, the flash is cleared" : image.fileName.c_str());
  PrintDescription(image.description, out);
  const int blockCount = *plan.blocks;
  PrintLabel("Image bytes:", out);
  std::fprintf(out, "%d\r\n", *plan.bytes);
  // Counted from 1 out of the whole, as the run's progress lines count them.
  PrintLabel(options.verifyOnly ? "Blocks to verify:" : "Blocks to write:", out);
  std::fprintf(out, "%d %ss, %d to %d of %d (0x%X to 0x%X)\r\n", blockCount, blocks.unit,
               image.first + 1, last + 1, image.total,
               static_cast<unsigned>(WriteAddress(blocks, image.first)),
               static_cast<unsigned>(WriteAddress(blocks, last)));
  if (plan.clears && !options.verifyOnly) {
    PrintLabel("Erases:", out);
    std::fprintf(out, "0x%X to 0x%X\r\n", static_cast<unsigned>(WriteAddress(blocks, image.first)),
                 static_cast<unsigned>(WriteAddress(blocks, image.total) - 1));
  }
  if (blocks.checksumSector) {
    PrintLabel("Checksum sector:", out);
    std::fprintf(out, "%d at 0x%X\r\n", CHECKSUM_SECTOR_NUMBER,
                 static_cast<unsigned>(CHECKSUM_SECTOR_ADDRESS));
  }
  PrintCheckValue(image.check, out);
  if (options.pinnedSha256 && image.fileSha256)
    std::fprintf(out, " SHA-256:          %s, as /f asks\r\n",
                 Sha256Hex(*image.fileSha256).c_str());
  std::fflush(out);
  return DryRunEnd::WouldRun;
}

std::optional<int> RunWithoutDrive(const RunOptions& options, std::FILE* out, std::FILE* err,
                                   const char* lineEnd) {
  if (options.listPorts) {
    PrintSerialPorts(out);
    return 0;
  }
  // A clear option stands in for the file: the Nym drive is then erased. A
  // backup alone, or the identity alone, needs none.
  if (!NamesWhatToLoad(options)) {
    PrintNoFirmwareFile(out, lineEnd);
    return 1;
  }
  if (!options.dryRun) return std::nullopt;
  const DriveFamily& family = LookUpDriveFamily(options.family);
  return RunDryRun(options, family, out, err) == DryRunEnd::WouldRun ? 0 : 1;
}

}  // namespace kelvane
