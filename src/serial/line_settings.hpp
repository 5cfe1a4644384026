#pragma once
// Line settings of an open tty, kept apart because the kernel's termios2
// header cannot live beside <termios.h>.

#include <cstdint>

namespace kestrel::serial::detail {

// Puts the tty `fd` into raw binary 8N1 mode at `baud` bits per second (any
// rate, through BOTHER): no parity, one stop bit, no hardware or software flow
// control, receiver on, modem status ignored, no character translation, and
// reads that wait for one byte. Returns 0 or the errno of the failed call.
int set_raw_line(int fd, std::uint32_t baud);

}  // namespace kestrel::serial::detail
