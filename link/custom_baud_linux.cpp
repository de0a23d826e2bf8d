#include "link/custom_baud_linux.h"

// <asm/termbits.h> defines its own struct termios and cannot share a unit with
// <termios.h>, so the termios2 calls live here, apart from the rest of the port.
#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace kelvane {

#if defined(__linux__) && defined(TCGETS2) && defined(BOTHER)

bool SetCustomBaudRate(int fd, int baudRate) {
  if (baudRate <= 0) return false;
  struct termios2 line {};
  if (ioctl(fd, TCGETS2, &line) != 0) return false;
  line.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  line.c_cflag |= BOTHER;
  // The input rate follows the output rate when its CIBAUD field is empty;
  // set it explicitly all the same, as the drive's line is symmetrical.
  line.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);
  line.c_cflag |= BOTHER << IBSHIFT;
  line.c_ispeed = static_cast<speed_t>(baudRate);
  line.c_ospeed = static_cast<speed_t>(baudRate);
  return ioctl(fd, TCSETS2, &line) == 0;
}

#else

bool SetCustomBaudRate(int, int) {
  return false;
}

#endif

}  // namespace kelvane
