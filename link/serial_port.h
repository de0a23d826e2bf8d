#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "link/serial_line.h"

namespace kelvane {

// How Open or OpenPath ended: the port open and configured, or why it stayed
// closed, in the terms a user can act on. The platform's own error code goes
// with it (errno or GetLastError), for DescribeOpenFailure.
enum class OpenResult {
  Opened,
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
class SerialPort final : public SerialLine {
 public:
  SerialPort();
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the PC's COM port number `portNumber` (COM1 to COM9), configured;
  // anything but Opened leaves the port closed.
  OpenResult Open(int portNumber, int baudRate);
  // Opens the serial device at `devicePath` (a USB adapter, a pseudo-terminal,
  // \\.\COM12), configured as Open does.
  OpenResult OpenPath(const char* devicePath, int baudRate);

  bool IsOpen() const { return handle_ != CLOSED_HANDLE; }

  // The device the last Open or OpenPath tried, as the system names it
  // (/dev/ttyS2 for COM3 on Linux).
  const std::string& device() const { return device_; }
  // After a failed Open or OpenPath: one line saying why, with the device
  // tried ("/dev/ttyS8: no such device"), without a line end. The platform
  // file words it, with the system's own message where it has one.
  std::string DescribeOpenFailure() const;

  bool DeviceGone() const override { return gone_; }
  // When the last read found the line silent, the adapter may have been
  // pulled out a moment before its driver noticed (a UHCI root hub is looked
  // at every 250 ms), so this waits up to HANG_UP_GRACE_MS for the system to
  // hang the line up.
  bool WaitForHangUp() override;

  bool Write(std::span<const std::uint8_t> bytes) override;
  ReadOutcome ReadByte(std::uint8_t& byte) override;

 private:
  // -1 is no descriptor on POSIX and INVALID_HANDLE_VALUE on Windows.
  static constexpr std::intptr_t CLOSED_HANDLE = -1;

  OpenResult Configure(int baudRate);
  void Close();
  // Records why the open failed and returns it.
  OpenResult Fail(OpenResult why, int systemError);

  // The platform's handle or descriptor, or CLOSED_HANDLE.
  std::intptr_t handle_ = CLOSED_HANDLE;
  // Bytes the system already had waiting, fetched in one call and handed out
  // one at a time by ReadByte. They are the front of the driver's input
  // queue: nothing drops them, so what follows a reply is the start of what
  // the next exchange reads. Room for the longest reply frame (307 bytes).
  std::array<std::uint8_t, 512> input_{};
  std::size_t inputNext_ = 0;
  std::size_t inputEnd_ = 0;
  // Given back to the port by Close; null while nothing was changed.
  std::unique_ptr<SavedLineSettings> saved_;
  OpenResult openResult_ = OpenResult::Opened;
  int openError_ = 0;
  std::string device_;  // the device tried, as the system names it
  int rate_ = 0;
  bool gone_ = false;
  bool silent_ = false;  // the last read ended in silence
};

}  // namespace kelvane
