#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "link/port_list.h"
#include "link/serial_port.h"
#include "link/system_error.h"

namespace kelvane {

// The port's settings as the run found them.
struct SavedLineSettings {
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
};

namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The drive's monitor fits whole frames (267 bytes out, 307 in) in these.
constexpr DWORD QUEUE_SIZE = 512;

// What a read or a write on an open port fails with once its USB adapter is
// pulled out: the device is gone, not merely slow.
bool DeviceWentAway(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_BAD_COMMAND ||
         error == ERROR_ACCESS_DENIED || error == ERROR_OPERATION_ABORTED;
}

// Why CreateFile would not open `device`, in the words POSIX uses.
OpenResult FailureOfOpen(DWORD error, const std::string& device) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DEV_NOT_EXIST:
      return OpenResult::NoSuchDevice;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenResult::InUse;
    case ERROR_ACCESS_DENIED: {
      // Windows refuses a second open of a COM port with "access denied";
      // the ports themselves are open to every user, so for one it means
      // another program holds it.
      const std::size_t name = device.rfind('\\') + 1;  // past \\.\, if there
      return _strnicmp(device.c_str() + name, "COM", 3) == 0 ? OpenResult::InUse
                                                             : OpenResult::AccessDenied;
    }
    default:
      return OpenResult::System;
  }
}

// The ports the machine has, as /c names them, for a user who named none of them.
std::string PortsPresent() {
  const std::vector<SerialPortEntry> ports = ListSerialPorts();
  if (ports.empty()) return "; this machine has no serial port";
  std::string list = "; this machine has";
  for (const SerialPortEntry& port : ports) list += " " + port.argument;
  return list;
}

}  // namespace

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
  Close();
}

OpenResult SerialPort::Fail(OpenResult why, int systemError) {
  openResult_ = why;
  openError_ = systemError;
  return why;
}

OpenResult SerialPort::Open(int portNumber, int baudRate) {
  // Only one character follows the letters COM, so COM0 to COM9 are all this
  // can name; anything else would name no serial port at all, and the caller
  // reports that exactly as it reports a port that does not open.
  if (portNumber < 0 || portNumber > 9) {
    device_ = "COM" + std::to_string(portNumber);
    return Fail(OpenResult::NoSuchDevice, 0);
  }
  std::array<char, 5> name = {'C', 'O', 'M', '1', '\0'};
  name[3] = static_cast<char>(static_cast<std::uint8_t>('0' + portNumber));
  return OpenPath(name.data(), baudRate);
}

OpenResult SerialPort::OpenPath(const char* devicePath, int baudRate) {
  // Exclusive, synchronous access: one exchange at a time, blocking.
  device_ = devicePath != nullptr ? devicePath : "";
  rate_ = baudRate;
  openResult_ = OpenResult::Opened;
  if (devicePath == nullptr) return Fail(OpenResult::NoSuchDevice, 0);
  if (baudRate <= 0) return Fail(OpenResult::RateRefused, 0);
  HANDLE opened =
      CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return Fail(FailureOfOpen(error, device_), static_cast<int>(error));
  }
  handle_ = reinterpret_cast<std::intptr_t>(opened);
  return Configure(baudRate);
}

OpenResult SerialPort::Configure(int baudRate) {
  HANDLE port = AsHandle(handle_);

  // Start from the settings the port already has, so that flow control and
  // the special characters stay as the adapter's driver set them; the drive
  // only cares about speed and 8N1.
  // A file or any other device opens too, but has no line settings.
  DCB dcb;
  dcb.DCBlength = sizeof(dcb);
  auto saved = std::make_unique<SavedLineSettings>();
  if (!GetCommState(port, &dcb) || !GetCommTimeouts(port, &saved->timeouts)) {
    const OpenResult why = Fail(OpenResult::NotSerial, static_cast<int>(GetLastError()));
    Close();
    return why;
  }
  saved->dcb = dcb;
  saved_ = std::move(saved);
  dcb.BaudRate = static_cast<DWORD>(baudRate);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(port, &dcb)) {
    // The driver checks the settings it is given: of these only the rate
    // can be one it does not run.
    const DWORD error = GetLastError();
    const OpenResult why =
        Fail(error == ERROR_INVALID_PARAMETER ? OpenResult::RateRefused : OpenResult::System,
             static_cast<int>(error));
    Close();
    return why;
  }

  // A read returns at once with a waiting byte, or as soon as one arrives,
  // or empty after 200 ms of silence: the drive's gap that ends an exchange.
  // Writes wait until the driver has taken everything.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(READ_SILENCE_MS);
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(port, &timeouts)) {
    const OpenResult why = Fail(OpenResult::System, static_cast<int>(GetLastError()));
    Close();
    return why;
  }

  // Only a recommendation to the driver; a port that ignores it still works.
  SetupComm(port, QUEUE_SIZE, QUEUE_SIZE);
  // A drive never speaks unasked: what waits now was meant for an earlier
  // program, and would be read as the answer to this run's first request.
  PurgeComm(port, PURGE_RXCLEAR);
  return OpenResult::Opened;
}

std::string SerialPort::DescribeOpenFailure() const {
  const std::string device = device_ + ": ";
  switch (openResult_) {
    case OpenResult::Opened:
      break;
    case OpenResult::NoSuchDevice:
      if (openError_ == 0) {
        return device + "no such port; COM10 and above are named \\\\.\\COM10 and so on";
      }
      return device + "no such port" + PortsPresent();
    case OpenResult::AccessDenied:
      return device + "permission denied";
    case OpenResult::InUse:
      return device + "in use by another program";
    case OpenResult::RateRefused:
      return device + "the driver refuses the baud rate " + std::to_string(rate_);
    case OpenResult::NotSerial:
      return device + "not a serial device";
    case OpenResult::System:
      return device + SystemErrorText(openError_);
  }
  return "";
}

void SerialPort::Close() {
  if (handle_ == CLOSED_HANDLE) {
    return;
  }
  if (saved_) {
    // The next program on the port finds it as this one did.
    SetCommState(AsHandle(handle_), &saved_->dcb);
    SetCommTimeouts(AsHandle(handle_), &saved_->timeouts);
    saved_.reset();
  }
  CloseHandle(AsHandle(handle_));
  handle_ = CLOSED_HANDLE;
  inputNext_ = inputEnd_ = 0;
}

bool SerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (handle_ == CLOSED_HANDLE || gone_) {
    return false;
  }
  // The count written is not checked: with no write time-out the call only
  // returns once the driver has taken the whole run, or fails.
  DWORD written = 0;
  // On a COM port FlushFileBuffers returns once the transmit buffer is empty:
  // the drive's time to answer runs from the request's last byte, and at
  // 9600 baud a block write takes 276 ms on the wire.
  if (!WriteFile(AsHandle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                 nullptr) ||
      !FlushFileBuffers(AsHandle(handle_))) {
    gone_ = DeviceWentAway(GetLastError());
    return false;
  }
  return true;
}

// A pulled USB adapter fails the very read or write that finds it gone.
bool SerialPort::WaitForHangUp() {
  return gone_;
}

ReadOutcome SerialPort::ReadByte(std::uint8_t& byte) {
  if (handle_ == CLOSED_HANDLE || gone_) {
    return ReadOutcome::Failure;
  }
  if (inputNext_ == inputEnd_) {
    HANDLE port = AsHandle(handle_);
    // Take in one call what the driver's input queue already holds, and hand
    // it out a byte at a time. Ask for no more than it reports waiting, or for
    // one byte when nothing is: with these time-outs Windows returns at once
    // with what is there, but Wine waits for the whole count (up to the
    // 200 ms), so only a count that is already there behaves alike on both.
    // ClearCommError also clears the port's error flags, which would stall
    // every read of a port set to abort on errors.
    DWORD want = 1;
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port, &errors, &status) && status.cbInQue > 1) {
      want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(input_.size()));
    }
    DWORD received = 0;
    if (!ReadFile(port, input_.data(), want, &received, nullptr)) {
      gone_ = DeviceWentAway(GetLastError());
      return ReadOutcome::Failure;
    }
    if (received == 0) {
      return ReadOutcome::Silence;
    }
    inputNext_ = 0;
    inputEnd_ = received;
  }
  byte = input_[inputNext_++];
  return ReadOutcome::Byte;
}

}  // namespace kelvane
