# Helpers of the guest side of the cases, sourced before each command.

# True once the test `$*` holds, false after ten seconds of waiting for it.
waited() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}

# What udev does with a new serial device: the dialout group may use it.
plugged() { waited [ -c "$1" ]; chgrp dialout "$1" && chmod 0660 "$1"; }
unplugged() { waited [ ! -e "$1" ]; }

# Starts a loader with these arguments in the background; finished prints
# what it gave and ends with its status, once it has ended.
started() {
  rm -f /tmp/run.*
  (kelvane "$@" >/tmp/run.out 2>/tmp/run.err; echo $? >/tmp/run.status) &
}
finished() {
  waited [ -e /tmp/run.status ]
  cat /tmp/run.out; cat /tmp/run.err >&2
  return "$(cat /tmp/run.status)"
}

# A command line run by the operator, who is in the devices' group once joined.
operator() { su operator -c "$*"; }
joined() { sed -i 's/^dialout:x:20:$/dialout:x:20:operator/' /etc/group; }
