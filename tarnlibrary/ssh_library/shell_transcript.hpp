// A record of one shell session: every byte the dialogue reads from and
// writes to the shell channel, in order, with its direction and time.
#pragma once

#include "tarnlibrary/ssh_library/shell_dialogue.hpp"

#include <string>
#include <string_view>

namespace tarn {

// One file per run in a folder of the operator's choice. Lines read
//   +12.345 < "bytes"   (received, seconds since the shell opened)
//   +12.380 > "bytes"   (sent)
// with C escapes (\r \n \t \\ \" and \xHH, always two digits) for control
// bytes and bytes that are not UTF-8; text is kept as it is.
class ShellTranscript {
public:
  // Creates the file "HOST_PORT_YYYYMMDDTHHMMSS.mmmZ_PID.txt" in folder, mode
  // 0600, never over an existing file or through a link. Throws
  // std::runtime_error saying what failed.
  ShellTranscript(const std::string &folder, const std::string &host,
                  const std::string &port);
  ~ShellTranscript();
  ShellTranscript(const ShellTranscript &) = delete;
  ShellTranscript &operator=(const ShellTranscript &) = delete;

  const std::string &path() const { return path_; }
  // The shell is open: times count from here.
  void start(const std::string &where, Clock::time_point opened);
  // One chunk; direction '<' received, '>' sent.
  void record(char direction, std::string_view bytes, Clock::time_point at);
  // A comment line ("# +1.234 \"text\""): why the session ended early.
  void note(const std::string &text, Clock::time_point at);

private:
  void append(const std::string &line);
  int fd_ = -1;
  std::string path_;
  Clock::time_point opened_{};
};

// Checks that folder is a folder the run can create files in; throws
// std::runtime_error otherwise.
void check_transcript_folder(const std::string &folder);

// The bytes as one quoted line of text (see ShellTranscript).
std::string quoted_bytes(std::string_view bytes);

// wire, recording into transcript what the dialogue reads and writes.
ShellWire recorded(ShellWire wire, ShellTranscript &transcript);

} // namespace tarn
