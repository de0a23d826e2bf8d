#pragma once

// A whole-flash clear of a Nym drive (kelvane /d) as a fixed, file-free load:
// one identify, 992 sector writes of 0xFF and 992 read-backs. The drive
// protocol is stop-and-wait, so its duration on a real line is set by the
// bytes on the wire; these helpers count them and run the load.

#include <cstddef>
#include <string>

namespace kelvane::bench {

// What USB serial adapters reach; 10 bits a byte (start, 8 data, stop).
inline constexpr int LINE_BAUD = 921600;
inline constexpr int CLEAR_SECTORS = 992;

// Bytes both ways of the whole /d run, identify included.
std::size_t ClearRunWireBytes();
double WireSeconds(std::size_t bytes, int baud);

struct LoadFigures {
  bool ok = false;
  std::string failure;  // why not, when !ok
  double wallSeconds = 0;
  double cpuSeconds = 0;  // the loader process's user + system time
  long peakRssKiB = 0;
};

// A directory of its own under $TMPDIR, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  bool ok() const { return !path_.empty(); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// `kelvane /d /b921600 /c<pty>` against a fresh drive-sim, which holds each
// reply back for the wire time of its exchange when `paced`.
LoadFigures RunClearLoad(bool paced);
// The same frames from the leanest possible client in this process (one
// write per request, replies read in bulk): the floor that drive-sim's own
// pacing sets, whatever the loader does.
LoadFigures RunBareClearExchanges(bool paced);

}  // namespace kelvane::bench
