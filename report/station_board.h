#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "flash/run_report.h"

namespace kelvane {

// A station's view of its drives, shared by their threads: on a terminal a
// table redrawn in place, one row per port (port, the drive's serial
// number once identified, phase, blocks done of all, verdict); elsewhere
// (CI, a log) one plain line per port event, without cursor movement.
// The lines and columns of the terminal the table is drawn on; 0 where not
// known, and nothing is cut.
struct TerminalSize {
  int lines = 0;
  int columns = 0;
};

class StationBoard {
 public:
  // A table that fits `size`: port names cut to the columns left (their
  // /dev/ first, then their beginning), and rows that do not fit counted on
  // a line of their own, so the terminal never scrolls the table away.
  StationBoard(std::FILE* out, bool redraw, const std::vector<std::string>& ports,
               TerminalSize size = {});

  // What a drive's run is doing now, as the row shows it.
  void Opened(std::size_t row, int baud);
  void Identified(std::size_t row, const std::string& serialNumber);
  void PassStarted(std::size_t row, Pass pass, int total);
  void BlockDone(std::size_t row, int block);
  void BlockMismatch(std::size_t row, int block, int errors);
  // Why the run ended early (a failure, a Ctrl-C), as one line.
  void Failed(std::size_t row, const std::string& text);
  void Finished(std::size_t row, Verdict verdict);
  // The table's last state, drawn once more whatever the pace.
  void DrawFinal();

 private:
  struct Row {
    std::string port;
    std::string serialNumber;
    std::string phase = "waiting";
    int done = 0;
    int total = 0;
    std::string verdict;
  };
  // With the lock held: a plain line, or the table redrawn (`force`: not
  // held back by the pace of redraws).
  void Event(std::size_t row, const std::string& plain, bool force);
  void Draw();

  std::mutex mutex_;
  std::FILE* out_;
  bool redraw_;
  std::vector<Row> rows_;
  std::size_t portWidth_ = 4;
  std::size_t shownRows_ = 0;
  std::size_t drawnLines_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// Each drive's events as its row of the board.
class StationRowReport : public RunReport {
 public:
  StationRowReport(StationBoard& board, std::size_t row) : board_(board), row_(row) {}
  void PortOpened(std::string_view, int baud) override { board_.Opened(row_, baud); }
  void LinkEstablished(const DriveIdentity& identity) override {
    board_.Identified(row_, identity.SerialNumber());
  }
  void PassStarted(Pass pass, int total, const PassWords&) override {
    board_.PassStarted(row_, pass, total);
  }
  void BlockDone(Pass, int block, int, const PassWords&) override { board_.BlockDone(row_, block); }
  void BlockMismatch(int block, int errors, const PassWords&) override {
    board_.BlockMismatch(row_, block, errors);
  }
  void Failed(const Failure& failure) override;
  void Interrupted(std::optional<Pass> pass, int block, const PassWords& words) override;

 private:
  StationBoard& board_;
  std::size_t row_;
};

}  // namespace kelvane
