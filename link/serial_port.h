#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

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

enum class ReadOutcome { Byte, Silence, Failure };

class LinkTrace;

// The one serial line to the drive for a whole run: 8 data bits, no parity,
// one stop bit, other line settings as the device had them. One platform file
// implements it (serial_port_posix.cpp or serial_port_win32.cpp).
class SerialPort {
 public:
  SerialPort() = default;
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

  // Blocks until the system has taken every byte; false when the write fails.
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
};

}  // namespace kelvane
