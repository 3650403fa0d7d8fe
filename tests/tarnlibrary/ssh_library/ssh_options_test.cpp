// The session's SSH choices against a real sshd: the transcript of the
// shell's bytes, each host-key policy with each known_hosts state, and
// login with a key.
#include "tarnlibrary/ssh_library/private_key.hpp"
#include "tarnlibrary/ssh_library/shell_transcript.hpp"
#include "tarnlibrary/ssh_library/ssh_library.hpp"
#include "tests/support/run_binary.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testing_support::read_text;
using testing_support::SimulatedDevice;
using testing_support::TempDir;

const std::vector<std::string> COMMANDS{
    "set cli screen-length 0", "show cgnat summary", "show cgnat errors"};

struct Chunk {
  long millis;
  char direction; // '<', '>' or '#' for a note
  std::string bytes;
};

// The transcript's C escapes read back.
std::string unquoted(const std::string &quoted) {
  std::string bytes;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] != '\\') {
      bytes += quoted[i];
      continue;
    }
    char code = quoted[++i];
    if (code == 'x') {
      bytes +=
          static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += code == 'r'   ? '\r'
               : code == 'n' ? '\n'
               : code == 't' ? '\t'
                             : code;
    }
  }
  return bytes;
}

std::vector<Chunk> read_transcript(const std::string &path) {
  static const std::regex chunk(R"(\+(\d+)\.(\d{3}) ([<>]) (".*"))");
  static const std::regex note(R"(# \+(\d+)\.(\d{3}) (".*"))");
  std::vector<Chunk> chunks;
  std::istringstream text(read_text(path));
  std::string line;
  std::getline(text, line);
  EXPECT_EQ(line.rfind("# ", 0), 0u) << line;
  for (std::smatch match; std::getline(text, line);) {
    if (std::regex_match(line, match, chunk))
      chunks.push_back({std::stol(match[1]) * 1000 + std::stol(match[2]),
                        match[3].str()[0], unquoted(match[4])});
    else if (std::regex_match(line, match, note))
      chunks.push_back({std::stol(match[1]) * 1000 + std::stol(match[2]), '#',
                        unquoted(match[3])});
    else
      ADD_FAILURE() << "not a transcript line: " << line;
  }
  return chunks;
}

std::string joined(const std::vector<Chunk> &chunks, char direction) {
  std::string bytes;
  for (const Chunk &chunk : chunks)
    if (chunk.direction == direction)
      bytes += chunk.bytes;
  return bytes;
}

std::string only_file(const std::string &folder) {
  std::vector<std::string> files;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    files.push_back(entry.path().string());
  EXPECT_EQ(files.size(), 1u);
  return files.empty() ? "" : files[0];
}

struct TranscriptCase {
  std::string name;
  std::vector<std::string> device;
  size_t commands_done; // commands that return before the failure
  std::string note;     // the failure's words in the last line; empty: none
  std::string received; // also among the bytes received
};
void PrintTo(const TranscriptCase &c, std::ostream *os) { *os << c.name; }

class Transcript : public testing::TestWithParam<TranscriptCase> {};

TEST_P(Transcript, HoldsEveryByteInOrderAndNoPassword) {
  const TranscriptCase &c = GetParam();
  SimulatedDevice device(c.device);
  TempDir folder;
  setenv("HOME", device.dir.path.c_str(), 1);
  tarn::SshOptions options;
  options.transcript = std::make_shared<tarn::ShellTranscript>(
      folder.path, device.host, device.port);
  tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                 device.password, "$", options);
  std::vector<std::string> outputs;
  try {
    session.connect();
    for (const std::string &command : COMMANDS)
      outputs.push_back(session.execute_command(command));
    session.close();
  } catch (const std::runtime_error &error) {
    EXPECT_FALSE(c.note.empty()) << error.what();
  }
  EXPECT_EQ(outputs.size(), c.commands_done);

  std::string path = only_file(folder.path);
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_NE(path.find("127.0.0.1_" + device.port + "_"), std::string::npos);
  std::vector<Chunk> chunks = read_transcript(path);
  ASSERT_FALSE(chunks.empty());
  for (size_t i = 1; i < chunks.size(); ++i)
    EXPECT_LE(chunks[i - 1].millis, chunks[i].millis);
  std::string sent = joined(chunks, '>'), received = joined(chunks, '<');
  // Each command typed alone, in order, after the Enters that find the
  // prompt; each output whole among the received bytes.
  size_t at = 0;
  for (size_t i = 0; i < std::min(c.commands_done + 1, COMMANDS.size()); ++i) {
    at = sent.find(COMMANDS[i] + "\n", at);
    EXPECT_NE(at, std::string::npos) << COMMANDS[i] << " in " << sent;
  }
  for (const std::string &output : outputs)
    EXPECT_NE(received.find(output), std::string::npos) << output;
  EXPECT_NE(received.find(c.received), std::string::npos);
  if (c.note.empty())
    EXPECT_TRUE(sent.ends_with("\nexit\n")) << sent;
  else
    EXPECT_NE(chunks.back().bytes.find(c.note), std::string::npos)
        << chunks.back().bytes;
  EXPECT_EQ(read_text(path).find(device.password), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Transcript,
    testing::Values(TranscriptCase{"plain", {}, 3, "", "cgnat-device$ "},
                    TranscriptCase{
                        "pager_stop",
                        {"fault=ignore-screen-length", "page_length=5"},
                        1,
                        "paginação",
                        "--More--"},
                    TranscriptCase{"drop",
                                   {"fault=drop", "drop_after=2"},
                                   1,
                                   "encerrou a conexão",
                                   ""}),
    [](const auto &info) { return info.param.name; });

// Every byte comes back from its line exactly; no control byte stays raw;
// UTF-8 text stays readable.
TEST(TranscriptLine, EveryByteComesBackExactly) {
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte)
    every_byte += static_cast<char>(byte);
  const std::vector<std::string> samples{
      every_byte,
      "Observa\xc3\xa7\xc3\xa3o \xe2\x82\xac \xf0\x9f\x98\x80",
      "\xc0\xaf overlong",
      "\xed\xa0\x80 surrogate",
      "\xe2\x82 cut",
      "\x1b[1m\\x41\"\r\n",
      "\xf4\x90\x80\x80 beyond U+10FFFF"};
  for (const std::string &bytes : samples) {
    std::string line = tarn::quoted_bytes(bytes);
    EXPECT_EQ(unquoted(line), bytes) << line;
    for (char c : line)
      EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << line;
  }
  EXPECT_EQ(tarn::quoted_bytes("a\xc3\xa7\xff"), "\"a\xc3\xa7\\xff\"");
}

enum class Known { Absent, Matching, Changed };

struct HostKeyCase {
  std::string name;
  tarn::HostKeyPolicy policy;
  Known known;
  std::string refusal; // in the message; empty: logged in
  bool appended;       // the device's line was added
};
void PrintTo(const HostKeyCase &c, std::ostream *os) { *os << c.name; }

// "SHA256:..." of a public key file, as ssh-keygen shows it.
std::string fingerprint(const std::string &public_key_file) {
  testing_support::RunOptions options;
  options.executable = "/usr/bin/ssh-keygen";
  auto listed = testing_support::run_program(
      {"ssh-keygen", "-l", "-E", "sha256", "-f", public_key_file}, options);
  auto start = listed.out.find("SHA256:");
  return listed.out.substr(start, listed.out.find(' ', start) - start);
}

// Waits for sshd to log the connection's end, then tells whether the
// client got as far as naming its user.
bool authentication_began(const SimulatedDevice &device) {
  for (int i = 0; i < 100; ++i) {
    std::string log = device.sshd_log();
    if (log.find("closed by") != std::string::npos ||
        log.find("Disconnected") != std::string::npos)
      break;
    usleep(50'000);
  }
  std::string log = device.sshd_log();
  return log.find("authenticating user") != std::string::npos ||
         log.find("password for") != std::string::npos;
}

class HostKey : public testing::TestWithParam<HostKeyCase> {};

TEST_P(HostKey, PolicyMeetsKnownHosts) {
  const HostKeyCase &c = GetParam();
  SimulatedDevice device;
  TempDir home;
  setenv("HOME", home.path.c_str(), 1); // the user's file stays out of it
  std::string file = home.path + "/known_hosts";
  std::string entry = "[" + device.host + "]:" + device.port + " ";
  if (c.known == Known::Matching)
    testing_support::write_text(file, entry + device.public_key() + "\n");
  if (c.known == Known::Changed) {
    ASSERT_EQ(
        system(("ssh-keygen -q -t ed25519 -N '' -f " + home.path + "/other")
                   .c_str()),
        0);
    testing_support::write_text(file,
                                entry + read_text(home.path + "/other.pub"));
  }
  std::string before = read_text(file);
  tarn::SshOptions options;
  options.known_hosts = file;
  options.host_key_policy = c.policy;
  tarn::check_known_hosts_file(file, c.policy);
  std::string message;
  {
    tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                   device.password, "$", options);
    try {
      session.connect();
      EXPECT_FALSE(session.execute_command("show cgnat errors").empty());
      session.close();
    } catch (const std::runtime_error &error) {
      message = error.what();
    }
  }
  if (c.refusal.empty()) {
    EXPECT_EQ(message, "");
  } else {
    EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
    EXPECT_NE(message.find("ssh-ed25519 " + fingerprint(device.instance_dir() +
                                                        "/host_key.pub")),
              std::string::npos)
        << message;
    EXPECT_FALSE(authentication_began(device)) << device.sshd_log();
  }
  EXPECT_EQ(read_text(file),
            before + (c.appended ? entry + device.public_key() + "\n" : ""));
  EXPECT_EQ(std::filesystem::exists(file),
            c.known != Known::Absent || c.appended);
}

using tarn::HostKeyPolicy;
const std::string CHANGED = "difere da registrada",
                  UNKNOWN = "não está registrada";

INSTANTIATE_TEST_SUITE_P(
    Policies, HostKey,
    testing::Values(HostKeyCase{"accept_absent", HostKeyPolicy::Accept,
                                Known::Absent, "", false},
                    HostKeyCase{"accept_matching", HostKeyPolicy::Accept,
                                Known::Matching, "", false},
                    HostKeyCase{"accept_changed", HostKeyPolicy::Accept,
                                Known::Changed, CHANGED, false},
                    HostKeyCase{"accept_new_absent", HostKeyPolicy::AcceptNew,
                                Known::Absent, "", true},
                    HostKeyCase{"accept_new_matching", HostKeyPolicy::AcceptNew,
                                Known::Matching, "", false},
                    HostKeyCase{"accept_new_changed", HostKeyPolicy::AcceptNew,
                                Known::Changed, CHANGED, false},
                    HostKeyCase{"strict_absent", HostKeyPolicy::Strict,
                                Known::Absent, UNKNOWN, false},
                    HostKeyCase{"strict_matching", HostKeyPolicy::Strict,
                                Known::Matching, "", false},
                    HostKeyCase{"strict_changed", HostKeyPolicy::Strict,
                                Known::Changed, CHANGED, false}),
    [](const auto &info) { return info.param.name; });

// Runs for two devices at once, in two processes, each add their line.
TEST(HostKeyAppend, ConcurrentRunsKeepEachOthersLines) {
  SimulatedDevice first, second;
  TempDir home;
  setenv("HOME", home.path.c_str(), 1);
  std::string file = home.path + "/known_hosts";
  testing_support::write_text(file, "# kept\n");
  std::vector<pid_t> children;
  for (const SimulatedDevice *device : {&first, &second}) {
    pid_t child = fork();
    if (child == 0) {
      tarn::SshOptions options;
      options.known_hosts = file;
      options.host_key_policy = HostKeyPolicy::AcceptNew;
      tarn::Ssh_connection_3 session(device->host, device->port, device->user,
                                     device->password, "$", options);
      try {
        session.connect();
        session.close();
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string text = read_text(file);
  EXPECT_TRUE(text.starts_with("# kept\n")) << text;
  for (const SimulatedDevice *device : {&first, &second})
    EXPECT_NE(text.find("[" + device->host + "]:" + device->port + " " +
                        device->public_key() + "\n"),
              std::string::npos)
        << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

enum class Passphrase { None, Password, Other };

struct KeyCase {
  std::string name;
  std::string type; // ssh-keygen -t
  Passphrase passphrase;
  bool authorized;    // the device holds this key, or only another one
  std::string method; // "publickey", "password"; empty: the key is refused
};
void PrintTo(const KeyCase &c, std::ostream *os) { *os << c.name; }

void make_key(const std::string &type, const std::string &passphrase,
              const std::string &file) {
  std::string bits = type == "rsa" ? " -b 2048" : "";
  ASSERT_EQ(system(("ssh-keygen -q -t " + type + bits + " -N '" + passphrase +
                    "' -f " + file)
                       .c_str()),
            0);
}

class KeyLogin : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyLogin, KeyFirstThenPassword) {
  const KeyCase &c = GetParam();
  TempDir keys;
  const std::string password = "Sim-device-2024", other = "Other-Phrase-58";
  std::string passphrase = c.passphrase == Passphrase::None       ? ""
                           : c.passphrase == Passphrase::Password ? password
                                                                  : other;
  make_key(c.type, passphrase, keys.path + "/id");
  make_key("ed25519", "", keys.path + "/other");
  SimulatedDevice device(
      {"--password", password, "--authorized-key",
       keys.path + (c.authorized ? "/id.pub" : "/other.pub")});
  setenv("HOME", device.dir.path.c_str(), 1);
  tarn::SshOptions options;
  try {
    options.key =
        std::make_shared<tarn::PrivateKey>(keys.path + "/id", device.password);
  } catch (const std::runtime_error &error) {
    std::string message = error.what();
    EXPECT_TRUE(c.method.empty()) << message;
    EXPECT_NE(message.find("não a abre"), std::string::npos) << message;
    EXPECT_EQ(message.find(device.password), std::string::npos);
    EXPECT_EQ(message.find(other), std::string::npos);
    return;
  }
  ASSERT_FALSE(c.method.empty()) << "the key opened";
  EXPECT_NE(options.key->type().find(c.type), std::string::npos)
      << options.key->type();
  tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                 device.password, "$", options);
  session.connect();
  EXPECT_EQ(options.key->get(), nullptr) << "kept after the login";
  EXPECT_FALSE(session.execute_command("show cgnat errors").empty());
  session.close();
  std::string log = device.sshd_log();
  EXPECT_NE(log.find("Accepted " + c.method + " for " + device.user),
            std::string::npos)
      << log;
  // The key is offered first: a refused key shows before the password.
  if (c.method == "password") {
    EXPECT_NE(log.find("Failed publickey"), std::string::npos) << log;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyLogin,
    testing::Values(
        KeyCase{"ed25519", "ed25519", Passphrase::None, true, "publickey"},
        KeyCase{"ecdsa", "ecdsa", Passphrase::None, true, "publickey"},
        KeyCase{"rsa", "rsa", Passphrase::None, true, "publickey"},
        KeyCase{"encrypted_right_passphrase", "ed25519", Passphrase::Password,
                true, "publickey"},
        KeyCase{"encrypted_rsa_right_passphrase", "rsa", Passphrase::Password,
                true, "publickey"},
        KeyCase{"encrypted_wrong_passphrase", "ed25519", Passphrase::Other,
                true, ""},
        KeyCase{"key_refused_then_password", "ed25519", Passphrase::None, false,
                "password"}),
    [](const auto &info) { return info.param.name; });

} // namespace
