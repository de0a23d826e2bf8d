#pragma once

namespace kelvane {

// Sets both directions of the line open on `fd` to `baudRate`, a rate outside
// the standard B-constant list (250000 for a drive's fast monitor, say). Linux
// takes any rate through its termios2 interface; other systems have no
// portable way, so there the rate is refused. Returns false when the rate is
// refused or the call fails; the line keeps its previous rate then.
bool SetCustomBaudRate(int fd, int baudRate);

}  // namespace kelvane
