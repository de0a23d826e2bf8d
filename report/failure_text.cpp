#include "report/failure_text.h"

#include <cstdio>

namespace kelvane {

namespace {

std::string_view WithoutLineEnds(std::string_view line) {
  while (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

// A code from the drive's identity as our own lines show it: a byte that is
// no printable character could move a terminal's cursor, so it shows as "?".
std::string Shown(std::string_view code) {
  std::string shown(code);
  for (char& c : shown) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return shown;
}

std::string Printed(const char* format, auto... values) {
  char line[160];
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

const char* ImageName(ImageKind image) {
  switch (image) {
    case ImageKind::RecordStream:
      return "record stream";
    case ImageKind::WordImage:
      return "word image";
    case ImageKind::TK720Image:
      break;
  }
  return "TK720 image";
}

std::string NoImageReason(const Failure& failure) {
  switch (failure.why) {
    case NoImageWhy::Erased:
      break;
    case NoImageWhy::BreaksOff:
      return "it breaks off at byte " + std::to_string(failure.count);
    case NoImageWhy::NoEndMarker:
      return "it has no end marker";
    case NoImageWhy::NoDataRecords:
      return "it holds no data records";
    case NoImageWhy::NoMarker:
      return "its checksum sector holds no marker";
    case NoImageWhy::SectorTooLong:
      return "its checksum sector gives more words than the flash holds";
    case NoImageWhy::SectorMismatch:
      return "the image does not match its checksum sector";
    case NoImageWhy::NoChecksumEnd:
      return "no image ends in its checksum";
    case NoImageWhy::NoData:
      return "it holds no data";
    case NoImageWhy::NoHeader:
      return "no header with the image magic and a word count";
    case NoImageWhy::HeaderTooLong:
      return "its header gives more words than the flash holds";
    case NoImageWhy::SumNotZero:
      return "its words do not sum to zero";
  }
  return "";
}

std::string InterruptionText(const Failure& failure) {
  if (!failure.pass) return "Interrupted while waiting for the drive to answer";
  if (*failure.pass == Pass::Digest)
    return "Interrupted before the drive was asked for its firmware digest";
  return Printed("Interrupted before %s %d was %s", failure.words.unit, failure.count,
                 *failure.pass == Pass::Write  ? "written"
                 : *failure.pass == Pass::Read ? "read"
                                               : "verified");
}

}  // namespace

std::string FailureText(const Failure& failure) {
  const int block = failure.block.value_or(0);
  const int code = failure.link ? failure.link->code() : 0;
  const char* unit = failure.words.unit;
  switch (failure.reason) {
    case FailureReason::PortNotOpened:
      return "Failed to open " + failure.name + " port";
    case FailureReason::LinkGaveUp:
      return "Failed to establish connection with selected device";
    case FailureReason::FileRefused:
      return std::string(WithoutLineEnds(failure.detail));
    case FailureReason::FilePinned:
      return "File " + failure.name + " has SHA-256 " + failure.detail + ", not the " +
             failure.explanation + " that /f asks for";
    case FailureReason::FileNotCreated:
      return "Can't create file " + failure.name;
    case FailureReason::FileNotWritten:
      return "Can't write file " + failure.name;
    case FailureReason::NotTheFamily:
      return "The drive does not answer like a " + failure.name +
             " drive (no model code in its identity): it may need another family option";
    case FailureReason::WrongModel: {
      std::string allowed;
      for (const AllowedDrive& drive : failure.allowed) {
        if (!allowed.empty()) allowed += ", ";
        allowed += drive.modelCode;
        if (drive.hardwareRevision) allowed += " revision " + *drive.hardwareRevision;
      }
      return "The drive is model " + Shown(failure.name) + ", hardware revision " +
             Shown(failure.detail) + "; /w allows only " + allowed;
    }
    case FailureReason::BlockWriteFailed:
      return failure.words.writeFailureShowsCode
                 ? Printed("FLASH update failed on %s %d : error code %d", unit, block, code)
                 : Printed("FLASH update failed on %s %d", unit, block);
    case FailureReason::BlockVerifyFailed:
      return Printed("FLASH verification failed on %s %d because of communication error %d", unit,
                     block, code);
    case FailureReason::BlockReadFailed:
      return Printed("FLASH read failed on %s %d because of communication error %d", unit, block,
                     code);
    case FailureReason::BlockReadShort:
      return Printed("FLASH read failed on %s %d: the drive sent %d of its %d bytes", unit, block,
                     failure.count, failure.size);
    case FailureReason::ChecksumSectorWriteFailed:
      return Printed("Firmware checksum update failed on sector %d", block);
    case FailureReason::ChecksumSectorReadFailed:
      return "Failed to read sector with firmware checksum and length";
    case FailureReason::DigestFailed:
      return Printed("Communication failure %d during verification", code);
    case FailureReason::NoImage:
      if (failure.why == NoImageWhy::Erased)
        return "The drive holds no firmware: its image area is empty (all 0xFF)";
      return std::string("The drive holds no valid ") + ImageName(failure.image) + ": " +
             NoImageReason(failure);
    case FailureReason::Interrupted:
      break;
  }
  return InterruptionText(failure);
}

std::string FailureDetailText(const Failure& failure) {
  if (failure.reason == FailureReason::PortNotOpened) return "Cannot open " + failure.detail;
  if (failure.reason == FailureReason::FileRefused)
    return std::string(WithoutLineEnds(failure.explanation));
  return "";
}

std::string FailureLine(const Failure& failure) {
  switch (failure.reason) {
    case FailureReason::FileRefused:
      // The file reader's own lines, as it ended them.
      return failure.detail;
    case FailureReason::LinkGaveUp:
      return FailureText(failure) + "\r\n\r\n";
    case FailureReason::DigestFailed:
      return FailureText(failure) + "\n";
    case FailureReason::Interrupted:
      return "\r\n" + FailureText(failure) + "\r\n";
    default:
      return FailureText(failure) + "\r\n";
  }
}

}  // namespace kelvane
