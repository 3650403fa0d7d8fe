// The device's side of the terminal: raw or cooked input, byte-exact output.
#pragma once

#include <string>
#include <string_view>

namespace device_sim {

// Who echoes typed bytes. The device: standard input goes to raw mode when
// it is a terminal (echo is the device's own job, and output bytes pass
// unchanged). The terminal: a terminal stays cooked and echoes each byte
// as it arrives, before the device reads it, handing over whole lines, as
// under a login shell without a line editor; on pipes a thread of the
// device does the terminal's part. Either mode is restored on exit.
void open_terminal(bool terminal_echoes);

// Next input byte; ends the program (status 0) at end of input.
unsigned char read_byte();

// Columns of the terminal on standard input; 511, as wide as an SSH
// client's terminal for tests, when there is none.
long terminal_columns();

// How output bytes leave the device: line ends rewritten, and the bytes
// written one at a time or in pieces cut where readers go wrong.
struct OutputShape {
  std::string line_end = "\r\n"; // what each CR LF becomes
  bool byte_wise = false;
  long byte_pause_ms = 0;
  bool cut = false; // around "$", between CR and LF, inside escapes
};
void set_output_shape(const OutputShape &shape);

// Writes everything, shaped, or ends the program when the peer is gone.
void write_all(std::string_view bytes);

void pause_ms(long milliseconds);

} // namespace device_sim
