#include "report/journal.h"

#include <cstdio>
#include <ctime>

#include "report/failure_text.h"
#include "report/verdict_words.h"
#include "report/version.h"

namespace kelvane {

namespace {

void Escape(std::string& json, unsigned codePoint) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", codePoint);
  json += escape;
}

// The length of the UTF-8 sequence at `text`, 0 when it is none (a stray
// continuation byte, an overlong form, a surrogate, a cut-off sequence).
std::size_t Utf8Sequence(std::string_view text, unsigned& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned first = byte(0);
  std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 0;
  if (length == 0 || first > 0xF4 || text.size() < length) return 0;
  codePoint = first & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < least[length] || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

// A JSON string of `text`. Printable ASCII goes as it is (quote and
// backslash escaped); with `utf8`, a valid UTF-8 character goes as its
// \uXXXX escape (two for one beyond the first plane); every other byte as
// \u00XX.
void String(std::string& json, std::string_view text, bool utf8) {
  json += '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned codePoint = 0;
    std::size_t length = 0;
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      json += static_cast<char>(c);
    } else if (utf8 && (length = Utf8Sequence(text.substr(i), codePoint)) > 0) {
      if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        Escape(json, 0xD800 + (codePoint >> 10));
        Escape(json, 0xDC00 + (codePoint & 0x3FF));
      } else {
        Escape(json, codePoint);
      }
      i += length;
      continue;
    } else {
      Escape(json, c);
    }
    ++i;
  }
  json += '"';
}

void Key(std::string& json, const char* key) {
  if (json.size() > 1) json += ',';
  json += '"';
  json += key;
  json += "\":";
}

void StringOrNull(std::string& json, const std::optional<std::string>& text, bool utf8) {
  if (text) {
    String(json, *text, utf8);
  } else {
    json += "null";
  }
}

void NumberOrNull(std::string& json, std::optional<int> number) {
  json += number ? std::to_string(*number) : "null";
}

std::string Hex(std::span<const std::uint8_t> bytes, const char* format = "%02X") {
  std::string hex;
  for (const std::uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, format, static_cast<unsigned>(byte));
    hex += pair;
  }
  return hex;
}

// "2026-12-07T13:25:58.123Z"
std::string IsoTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  const std::tm utc = UtcCalendar(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis % 1000));
  return text;
}

}  // namespace

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::Write:
      return "write";
    case Stage::Read:
      return "read";
    case Stage::ChecksumSector:
      return "checksum-sector";
    case Stage::Digest:
      return "digest";
    case Stage::Link:
      return "link";
    case Stage::Port:
      return "port";
    case Stage::Identity:
      return "identity";
    case Stage::File:
      break;
  }
  return "file";
}

std::string JournalLine(const JournalEntry& entry) {
  std::string json = "{";
  Key(json, "time");
  String(json, IsoTime(entry.start), false);
  Key(json, "seconds");
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", entry.seconds);
  json += seconds;
  Key(json, "program");
  String(json, entry.program, false);
  Key(json, "version");
  String(json, VERSION, false);
  Key(json, "host");
  String(json, entry.host, true);
  Key(json, "port");
  String(json, entry.port, true);
  Key(json, "device");
  StringOrNull(json, entry.device, true);
  Key(json, "baud");
  json += std::to_string(entry.baud);
  Key(json, "family");
  String(json, entry.family, false);
  Key(json, "operation");
  String(json, entry.operation, false);
  Key(json, "file");
  StringOrNull(json, entry.file, true);
  Key(json, "file_sha256");
  if (entry.fileSha256) {
    String(json, Hex(*entry.fileSha256, "%02x"), false);
  } else {
    json += "null";
  }
  Key(json, "image_bytes");
  NumberOrNull(json, entry.imageBytes);
  Key(json, "blocks");
  NumberOrNull(json, entry.blocks);
  Key(json, "drive");
  if (entry.drive) {
    std::string drive = "{";
    for (const IdentityLine& line : entry.drive->lines) {
      if (line.key.empty()) continue;
      Key(drive, line.key.c_str());
      String(drive, line.value, false);
    }
    Key(drive, "raw");
    String(drive, Hex(entry.drive->raw), false);
    if (entry.driveMd5) {
      Key(drive, "md5");
      String(drive, Hex(*entry.driveMd5, "%02x"), false);
    }
    json += drive + "}";
  } else {
    json += "null";
  }
  Key(json, "verdict");
  String(json, JournalVerdict(entry.verdict), false);
  Key(json, "error");
  if (entry.error) {
    std::string error = "{";
    Key(error, "stage");
    String(error, StageName(entry.error->stage), false);
    if (entry.error->block) {
      Key(error, "block");
      NumberOrNull(error, entry.error->block);
    }
    if (entry.error->link) {
      Key(error, "code");
      NumberOrNull(error, std::optional<int>(entry.error->link->code()));
    }
    Key(error, "text");
    // Why a port did not open goes to the error stream after the failure
    // line; the journal keeps both in one text.
    std::string text = FailureText(*entry.error);
    if (const std::string detail = FailureDetailText(*entry.error); !detail.empty())
      text += ": " + detail;
    String(error, text, true);
    json += error + "}";
  } else {
    json += "null";
  }
  Key(json, "status");
  json += std::to_string(entry.status);
  return json + "}\n";
}

void JournalRecorder::FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) {
  savedFile = std::string(name);
  savedSha256 = Sha256Of(bytes);
  savedBytes = static_cast<int>(bytes.size());
  // The load that may follow counts its own blocks.
  savedBlocks = blocksDone;
  blocksDone = 0;
}

void JournalRecorder::Interrupted(std::optional<Pass> pass, int block, const PassWords& words) {
  error = InterruptionOf(pass, block, words);
}

void JournalRecorder::DriveDigest(std::span<const std::uint8_t> md5) {
  driveMd5.emplace();
  std::copy_n(md5.begin(), std::min(md5.size(), driveMd5->size()), driveMd5->begin());
}

}  // namespace kelvane

namespace kelvane {

bool JournalFile::Append(std::string_view line) {
  const std::lock_guard<std::mutex> held(lock_);
  return Write(line);
}

}  // namespace kelvane
