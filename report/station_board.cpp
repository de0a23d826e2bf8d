#include "report/station_board.h"

#include <algorithm>

#include "report/failure_text.h"
#include "report/verdict_words.h"

namespace kelvane {

namespace {

// The table is redrawn at most this often while blocks go out; a change of
// phase or verdict is drawn at once.
constexpr auto REDRAW_PACE = std::chrono::milliseconds(100);

const char* PhaseOf(Pass pass) {
  switch (pass) {
    case Pass::Write:
      return "write";
    case Pass::Verify:
      return "verify";
    case Pass::Read:
      return "read";
    case Pass::Digest:
      break;
  }
  return "digest";
}

// The drive, phase, blocks and verdict columns with the spaces between
// them: 2 + 12 + 1 + 10 + 1 + 11 + 2 + 11 ("WRONG DRIVE").
constexpr int OTHER_COLUMNS = 50;
constexpr std::size_t MIN_PORT_WIDTH = 8;

// `port` in at most `width` characters: without /dev/ or \\.\, then its
// end kept after "...", which tells a by-id name's adapter apart.
std::string FittedPort(std::string port, std::size_t width) {
  if (port.size() <= width) return port;
  for (const char* prefix : {"/dev/", "\\\\.\\"}) {
    if (port.starts_with(prefix)) port.erase(0, std::string(prefix).size());
  }
  if (port.size() <= width) return port;
  return "..." + port.substr(port.size() - (width - 3));
}

}  // namespace

StationBoard::StationBoard(std::FILE* out, bool redraw, const std::vector<std::string>& ports,
                           TerminalSize size)
    : out_(out), redraw_(redraw) {
  for (const std::string& port : ports) {
    rows_.emplace_back().port = port;
    portWidth_ = std::max(portWidth_, port.size());
  }
  shownRows_ = rows_.size();
  if (!redraw_) return;
  // The table stays one column short of the edge, where a terminal would
  // wrap; a port keeps at least a short name's width.
  if (size.columns > 0) {
    const std::size_t left =
        static_cast<std::size_t>(std::max(size.columns - 1 - OTHER_COLUMNS, 0));
    portWidth_ = std::min(portWidth_, std::max(left, MIN_PORT_WIDTH));
    for (Row& row : rows_) row.port = FittedPort(row.port, portWidth_);
  }
  // The header, the rows and the cursor's line below them fill the pane at
  // most; the rows left out are counted on the last line.
  if (size.lines > 0 && rows_.size() + 2 > static_cast<std::size_t>(size.lines))
    shownRows_ = static_cast<std::size_t>(std::max(size.lines - 3, 0));
}

void StationBoard::Opened(std::size_t row, int baud) {
  std::lock_guard lock(mutex_);
  rows_[row].phase = "link";
  Event(row, "open at " + std::to_string(baud) + " baud", true);
}

void StationBoard::Identified(std::size_t row, const std::string& serialNumber) {
  std::lock_guard lock(mutex_);
  rows_[row].serialNumber = serialNumber;
  rows_[row].phase = "identified";
  Event(row, "drive " + serialNumber, true);
}

void StationBoard::PassStarted(std::size_t row, Pass pass, int total) {
  std::lock_guard lock(mutex_);
  Row& r = rows_[row];
  r.phase = PhaseOf(pass);
  r.done = 0;
  r.total = pass == Pass::Digest ? 0 : total;
  Event(row,
        pass == Pass::Digest ? std::string("digest")
                             : r.phase + " " + std::to_string(total) + " blocks",
        true);
}

void StationBoard::BlockDone(std::size_t row, int block) {
  std::lock_guard lock(mutex_);
  rows_[row].done = block + 1;
  if (redraw_) Event(row, "", false);
}

void StationBoard::BlockMismatch(std::size_t row, int block, int errors) {
  std::lock_guard lock(mutex_);
  rows_[row].done = block + 1;
  // Numbered from 1, as kelvane's mismatch line (" Sector    2 has ...") is.
  Event(row,
        "block " + std::to_string(block + 1) + " differs in " + std::to_string(errors) + " bytes",
        false);
}

void StationBoard::Failed(std::size_t row, const std::string& text) {
  std::lock_guard lock(mutex_);
  Event(row, text, true);
}

void StationBoard::Finished(std::size_t row, Verdict verdict) {
  std::lock_guard lock(mutex_);
  rows_[row].phase = "done";
  rows_[row].verdict = VerdictWord(verdict);
  Event(row, rows_[row].verdict, true);
}

void StationBoard::DrawFinal() {
  std::lock_guard lock(mutex_);
  if (redraw_) Draw();
}

void StationBoard::Event(std::size_t row, const std::string& plain, bool force) {
  if (!redraw_) {
    if (plain.empty()) return;
    std::fprintf(out_, "%s: %s\n", rows_[row].port.c_str(), plain.c_str());
    std::fflush(out_);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawnLines_ > 0 && now - lastDraw_ < REDRAW_PACE) return;
  lastDraw_ = now;
  Draw();
}

void StationBoard::Draw() {
  const int width = static_cast<int>(portWidth_);
  // Back to the table's first line, then every line rewritten and cleared
  // to its end.
  if (drawnLines_ > 0) std::fprintf(out_, "\x1b[%zuA", drawnLines_);
  std::fprintf(out_, "\r%-*s  %-12s %-10s %11s  %s\x1b[K\n", width, "Port", "Drive", "Phase",
               "Blocks", "Verdict");
  drawnLines_ = 1 + shownRows_;
  for (std::size_t i = 0; i < shownRows_; ++i) {
    const Row& r = rows_[i];
    char blocks[32] = "";
    if (r.total > 0) std::snprintf(blocks, sizeof blocks, "%d/%d", r.done, r.total);
    std::fprintf(out_, "\r%-*s  %-12.12s %-10s %11s  %s\x1b[K\n", width, r.port.c_str(),
                 r.serialNumber.c_str(), r.phase.c_str(), blocks, r.verdict.c_str());
  }
  if (shownRows_ < rows_.size()) {
    std::fprintf(out_, "\r+ %zu more drives, all in the summary\x1b[K\n",
                 rows_.size() - shownRows_);
    ++drawnLines_;
  }
  std::fflush(out_);
}

void StationRowReport::Failed(const Failure& failure) {
  board_.Failed(row_, FailureText(failure));
}

void StationRowReport::Interrupted(std::optional<Pass> pass, int block, const PassWords& words) {
  board_.Failed(row_, FailureText(InterruptionOf(pass, block, words)));
}

}  // namespace kelvane
