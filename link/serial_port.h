#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kelvane {

// The header fields and payload of the last reply the drive sent. The payload
// is followed by its checksum byte, so `data` holds at most 299 payload bytes.
struct ReplyBuffer {
  std::uint16_t length = 0;
  std::uint8_t command = 0;
  std::uint8_t status = 0;
  std::array<std::uint8_t, 300> data{};
};

inline constexpr std::size_t REPLY_PAYLOAD_CAPACITY = 299;

// How long a read waits for the drive's next byte before it counts as silence.
inline constexpr int READ_SILENCE_MS = 200;
inline constexpr int HANG_UP_GRACE_MS = 500;

enum class ReadOutcome { Byte, Silence, Failure };

class LinkTrace;

// Why the last Open or OpenPath left the port closed, in the terms a user can
// act on. The platform's own error code goes with it (errno or GetLastError).
enum class OpenFailure {
  None,
  NoSuchDevice,  // nothing by that name, or a COM number no device can have
  AccessDenied,  // the device exists but this user may not open it
  InUse,         // another program holds the line
  RateRefused,   // the driver will not run the line at that baud rate
  NotSerial,     // it opened, but is no serial line (a file, /dev/null)
  System,        // anything else: the system's own message says what
};

// The line settings a port had before Open changed them, so that Close can
// give them back. Defined by the platform file.
struct SavedLineSettings;

// The one serial line to the drive for a whole run: 8 data bits, no parity,
// one stop bit, other line settings as the device had them. One platform file
// implements it (serial_port_posix.cpp or serial_port_win32.cpp).
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the PC's COM port number `portNumber` (COM1 to COM9). Returns 1 when
  // the port is open and configured, 0 otherwise (the port stays closed).
  int Open(int portNumber, int baudRate);
  // Opens the serial device at `devicePath` (a USB adapter, a pseudo-terminal,
  // \\.\COM12), configured as Open does. Returns 1 or 0 likewise.
  int OpenPath(const char* devicePath, int baudRate);

  bool IsOpen() const { return handle_ != 0; }

  // After a failed Open or OpenPath: why, and one line saying so with the
  // device tried ("/dev/ttyS8: no such device"), without a line end. The
  // platform file words it, with the system's own message where it has one.
  OpenFailure openFailure() const { return openFailure_; }
  // The device the last Open or OpenPath tried, as the system names it
  // (/dev/ttyS2 for COM3 on Linux).
  const std::string& device() const { return device_; }
  std::string DescribeOpenFailure() const;

  // True once a read or a write found the device itself gone (a USB adapter
  // pulled out or powered off with the drive): nothing more is tried on it,
  // as no retry can bring it back. DescribeLoss says so in one line with the
  // device ("/dev/ttyUSB0: the device went away ..."), without a line end.
  bool DeviceGone() const { return gone_; }
  // DeviceGone, once more at the end of a failed run: when the last read found
  // the line silent, the adapter may have been pulled out a moment before its
  // driver noticed (a UHCI root hub is looked at every 250 ms), so wait up to
  // HANG_UP_GRACE_MS for the system to hang the line up.
  bool WaitForHangUp();
  std::string DescribeLoss() const {
    return device_ + ": the device went away (unplugged or powered off)";
  }

  // Blocks until every byte has left the port, not merely until the system
  // has taken them: the drive's 200 ms to answer start once it has the whole
  // request. False when the write fails.
  bool Write(std::span<const std::uint8_t> bytes);
  // One byte from the drive; Silence after READ_SILENCE_MS without input.
  ReadOutcome ReadByte(std::uint8_t& byte);

  std::uint32_t preamble() const { return preamble_; }

  ReplyBuffer reply;
  // Where the exchanges on this port report what they send and receive;
  // none unless the run asked for a trace.
  LinkTrace* trace = nullptr;

 private:
  int Configure(int baudRate);
  void Close();
  // Records why the open failed and returns 0, the failed open's result.
  int Fail(OpenFailure why, int systemError);

  // The platform's handle or descriptor; 0 is the one closed value.
  std::intptr_t handle_ = 0;
  // Requests start with this value's two low bytes, low byte first.
  std::uint32_t preamble_ = 0xAA55;
  // Bytes the system already had waiting, fetched in one call and handed out
  // one at a time by ReadByte. They are the front of the driver's input
  // queue: nothing drops them, so what follows a reply is the start of what
  // the next exchange reads. Room for the longest reply frame (307 bytes).
  std::array<std::uint8_t, 512> input_{};
  std::size_t inputNext_ = 0;
  std::size_t inputEnd_ = 0;
  // Given back to the port by Close; null while nothing was changed.
  std::unique_ptr<SavedLineSettings> saved_;
  OpenFailure openFailure_ = OpenFailure::None;
  int openError_ = 0;
  std::string device_;  // the device tried, as the system names it
  int rate_ = 0;
  bool gone_ = false;
  bool silent_ = false;  // the last read ended in silence
};

}  // namespace kelvane
