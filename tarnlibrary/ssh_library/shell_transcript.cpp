#include "tarnlibrary/ssh_library/shell_transcript.hpp"

#include "tarnlibrary/ssh_library/utf8.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {
namespace {

std::runtime_error failure(const std::string &what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// A host or port as part of a file name: no separators, no dots first.
std::string name_part(const std::string &word) {
  std::string part;
  for (char c : word.substr(0, 64)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '-' || c == '.';
    part += plain ? c : '_';
  }
  if (part.empty() || part[0] == '.')
    part.insert(0, "_");
  return part;
}

std::string utc_stamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                    now.time_since_epoch())
                    .count() %
                1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%s.%03dZ", text,
                static_cast<int>(millis));
  return stamp;
}

// "+12.345": seconds from `from` to `at`, to the millisecond.
std::string elapsed(Clock::time_point from, Clock::time_point at) {
  long long millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(at - from).count();
  char text[32];
  std::snprintf(text, sizeof text, "+%lld.%03lld", millis / 1000,
                millis % 1000);
  return text;
}

} // namespace

std::string quoted_bytes(std::string_view bytes) {
  std::string text = "\"";
  while (!bytes.empty()) {
    unsigned char c = static_cast<unsigned char>(bytes[0]);
    size_t taken = 1;
    if (c == '\\' || c == '"') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else if ((taken = utf8_sequence(bytes)) > 0) {
      text.append(bytes.substr(0, taken));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
      taken = 1;
    }
    bytes.remove_prefix(taken);
  }
  return text + "\"";
}

void check_transcript_folder(const std::string &folder) {
  struct stat status {};
  if (folder.empty())
    throw std::runtime_error("a pasta das transcrições está vazia");
  if (::stat(folder.c_str(), &status) != 0)
    throw failure("a pasta \"" + folder + "\" não pode ser lida");
  if (!S_ISDIR(status.st_mode))
    throw std::runtime_error("\"" + folder + "\" não é uma pasta");
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    throw failure("não é possível criar arquivos na pasta \"" + folder + "\"");
}

ShellTranscript::ShellTranscript(const std::string &folder,
                                 const std::string &host,
                                 const std::string &port) {
  check_transcript_folder(folder);
  path_ = folder + "/" + name_part(host) + "_" + name_part(port) + "_" +
          utc_stamp() + "_" + std::to_string(::getpid()) + ".txt";
  fd_ = ::open(path_.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0)
    throw failure("não foi possível criar a transcrição \"" + path_ + "\"");
}

ShellTranscript::~ShellTranscript() {
  if (fd_ >= 0)
    ::close(fd_);
}

void ShellTranscript::append(const std::string &line) {
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t done = ::write(fd_, rest.data(), rest.size());
    if (done < 0 && errno == EINTR)
      continue;
    if (done < 0)
      throw failure("falha ao gravar a transcrição \"" + path_ + "\"");
    rest.remove_prefix(static_cast<size_t>(done));
  }
}

void ShellTranscript::start(const std::string &where,
                            Clock::time_point opened) {
  opened_ = opened;
  append("# " + where + " " + utc_stamp() +
         ": < recebido, > enviado, segundos desde a abertura do shell\n");
}

void ShellTranscript::record(char direction, std::string_view bytes,
                             Clock::time_point at) {
  append(elapsed(opened_, at) + " " + direction + " " + quoted_bytes(bytes) +
         "\n");
}

void ShellTranscript::note(const std::string &text, Clock::time_point at) {
  append("# " + elapsed(opened_, at) + " " + quoted_bytes(text) + "\n");
}

ShellWire recorded(ShellWire wire, ShellTranscript &transcript) {
  ShellWire outer;
  outer.now = wire.now;
  outer.read = [wire, &transcript](std::string &into, Clock::time_point until,
                                   const std::string &what) {
    size_t before = into.size();
    bool got = wire.read(into, until, what);
    if (into.size() > before)
      transcript.record('<', std::string_view(into).substr(before), wire.now());
    return got;
  };
  outer.write = [wire, &transcript](std::string_view bytes,
                                    const std::string &what) {
    transcript.record('>', bytes, wire.now());
    wire.write(bytes, what);
  };
  return outer;
}

} // namespace tarn
