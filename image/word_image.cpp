#include "image/word_image.h"

#include <algorithm>
#include <cstddef>

#include "image/elf_file.h"
#include "image/intel_hex.h"
#include "image/record_lines.h"
#include "link/drive_commands.h"

namespace kelvane {

namespace {

// S1 and S2 record lines of up to 198 characters: the line buffer holds 199
// characters and its terminating zero.
constexpr std::size_t LONGEST_WORD_IMAGE_LINE = 199;

// The four checksum bytes that follow the data in the image.
constexpr std::size_t CHECKSUM_BYTES = 4;

// Builds the image from the data a file places: each byte at its address,
// the later of two records for one address winning; the image's end is the
// end of the highest record, even one of no data.
class WordImageBuilder : public SRecordTaker, public DataSink {
 public:
  WordImageBuilder(std::span<std::uint8_t> area, int maxLength, FileMessages& out)
      : area_(area), out_(out) {
    // The image, checksum included, must fit both the caller's limit and the
    // area itself, so that nothing is ever stored outside the area.
    limit_ =
        std::min<std::size_t>(maxLength < 0 ? 0 : static_cast<std::size_t>(maxLength), area.size());
  }

  bool TakeRecord(const SRecord& record, int lineNumber) override {
    const Origin origin{Origin::Kind::Line, lineNumber};
    if (record.type == '1' || record.type == '2')
      return TakeData(record.address, record.data(), origin);
    TakeStart(record.address, origin);
    return true;
  }

  bool TakeData(std::uint64_t address, std::span<const std::uint8_t> bytes,
                Origin origin) override {
    // The image grows to this record's end, made even, plus the checksum: it
    // must stay within the limit before a single byte of the record is stored.
    const std::uint64_t end = address + bytes.size();
    if (end + end % 2 + CHECKSUM_BYTES > limit_) {
      out_.Refuse("Error (%s) : record does not fit in the flash image area\r\n",
                  OriginTag(origin).c_str());
      return false;
    }
    std::ranges::copy(bytes, area_.begin() + static_cast<std::ptrdiff_t>(address));
    placed_.Add(address, bytes, origin);
    dataLength_ = std::max(dataLength_, static_cast<std::size_t>(end));
    return true;
  }

  void TakeStart(std::uint64_t address, Origin origin) override {
    // A start record only says where the drive would begin executing; the
    // drive always starts at zero, so anything else deserves a word.
    if (address != 0) {
      out_.Warn("Warning (%s) : starting execution address is not zero\r\n",
                OriginTag(origin).c_str());
    }
  }

  FileRead Finish(int lineNumber, int& size);
  const PlacedData& placed() const { return placed_; }
  std::size_t dataLength() const { return dataLength_; }

 private:
  std::span<std::uint8_t> area_;
  FileMessages& out_;
  std::size_t limit_ = 0;
  // Data length D: the end of the highest record seen so far.
  std::size_t dataLength_ = 0;
  PlacedData placed_;
};

FileRead WordImageBuilder::Finish(int lineNumber, int& size) {
  // Only an area too small for even the checksum of an empty image gets here
  // with no room left; every record has been checked on its own line.
  if (dataLength_ + dataLength_ % 2 + CHECKSUM_BYTES > limit_) {
    out_.Refuse("Error (file:%d) : record does not fit in the flash image area\r\n", lineNumber);
    size = static_cast<int>(dataLength_);
    return FileRead::Refused;
  }

  // The drive's flash is an array of 16-bit words: an odd image gets a zero
  // byte to complete its last word.
  if (dataLength_ % 2 != 0) {
    out_.Warn(
        "\r\nWarning : input file has odd number of bytes (%d) when\r\n"
        "          Atmel Flash organized as 16 bit word's array !\r\n",
        static_cast<int>(dataLength_));
    area_[dataLength_] = 0x00;
    ++dataLength_;
  }

  const std::uint32_t checksum = WordImageChecksum(area_.first(dataLength_));
  StoreWord32(area_.subspan(dataLength_).first<4>(), checksum, ByteOrder::LeastSignificantFirst);

  const int length = static_cast<int>(dataLength_ + CHECKSUM_BYTES);
  size = length;
  out_.Note("\r\nFirmware size: %d checksum %08x\r\n", length, static_cast<unsigned>(checksum));
  return FileRead::Taken;
}

constexpr SRecordRules WORD_IMAGE_RULES = {
    .longestLine = LONGEST_WORD_IMAGE_LINE,
    .widestRecord = '2',
    .dataTypes = "12",
    .endTypes = "89",
    .refusedTypes = "37",
    .refusedMessage =
        "Error (file:%d) : 3 and 4 byte address field S-records are not supported\r\n"};

std::uint32_t Word16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8);
}

// Bytes of data in one record the writer makes: 32, so that the record
// boundaries fall on the 64 KiB line between S1 and S2 addresses.
constexpr std::size_t RECORD_DATA_BYTES = 32;

void AppendRecord(std::string& text, char type, std::uint32_t address, int addressBytes,
                  std::span<const std::uint8_t> data) {
  char pair[3];
  const auto put = [&](std::uint32_t byte) {
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(byte & 0xFF));
    text += pair;
  };
  const auto count = static_cast<std::uint32_t>(addressBytes + data.size() + 1);
  std::uint32_t sum = count;
  text += 'S';
  text += type;
  put(count);
  for (int i = addressBytes - 1; i >= 0; --i) {
    put(address >> (8 * i));
    sum += address >> (8 * i);
  }
  for (const std::uint8_t byte : data) {
    put(byte);
    sum += byte;
  }
  put(~sum);
  text += "\r\n";
}

}  // namespace

std::uint32_t WordImageChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) checksum += Word16(data, i);
  return checksum;
}

int FindWordImageLength(std::span<const std::uint8_t> flash) {
  int length = 0;
  std::uint32_t sum = 0;
  for (std::size_t end = 0; end + CHECKSUM_BYTES <= flash.size(); end += 2) {
    const auto stored = flash.subspan(end).first<CHECKSUM_BYTES>();
    if (LoadWord32(stored, ByteOrder::LeastSignificantFirst) == sum)
      length = static_cast<int>(end + CHECKSUM_BYTES);
    sum += Word16(flash, end);
  }
  return length;
}

std::string FormatWordImage(std::span<const std::uint8_t> data) {
  std::string text = EMPTY_HEADER_RECORD;
  bool above16Bits = false;
  for (std::size_t at = 0; at < data.size(); at += RECORD_DATA_BYTES) {
    const auto record = data.subspan(at, std::min(RECORD_DATA_BYTES, data.size() - at));
    // The reader fills the area with 0xFF, so erased runs need no record;
    // the last one sets the image's length and is always written.
    const bool last = at + record.size() == data.size();
    if (!last && std::ranges::all_of(record, [](std::uint8_t b) { return b == 0xFF; })) continue;
    const bool fits16 = at + record.size() <= 0x10000;
    above16Bits = above16Bits || !fits16;
    AppendRecord(text, fits16 ? '1' : '2', static_cast<std::uint32_t>(at), fits16 ? 2 : 3, record);
  }
  AppendRecord(text, above16Bits ? '8' : '9', 0, above16Bits ? 3 : 2, {});
  return text;
}

FileRead ReadWordImage(std::span<const std::uint8_t> file, std::span<std::uint8_t> area,
                       int maxLength, int& size, FileMessages& out, FileDescription* description) {
  WordImageBuilder builder(area, maxLength, out);
  std::string format;
  FileRead result = FileRead::Taken;
  if (BeginsWithElfMagic(file)) {
    result = ReadElfFile(file, builder, out, format);
  } else if (LooksLikeIntelHex(file)) {
    format = "Intel HEX";
    result = ReadIntelHex(file, builder, out);
  } else {
    result = ReadSRecords(file, WORD_IMAGE_RULES, builder, out, format);
  }
  if (result != FileRead::Taken) {
    size = static_cast<int>(builder.dataLength());
    return FileRead::Refused;
  }
  builder.placed().WarnOverlaps(out);
  if (description != nullptr) *description = {format, builder.placed().Ranges()};
  return builder.Finish(0, size);
}

}  // namespace kelvane
