// What every fault-matrix row shares: the login it gives the simulated
// device, the values the sample device yields, running the collector and
// the checks that hold whatever the fault.
#pragma once

#include "tests/support/fake_trapper.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/run_binary.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fault_matrix {

using testing_support::closed_port;

// A user of its own, so rows never race other suites over the password.
inline const std::string DEVICE_USER = "cgnatfault";
inline const std::string DEVICE_PASSWORD = "Fault-Matrix-Pw-4817";
inline const std::string WRONG_PASSWORD = "Not-This-One-9263";
// A 100 000-byte password repeats this piece; no output may hold it.
inline const std::string LONG_PASSWORD_PIECE = "Long-Secret-";
inline const std::string ZABBIX_HOST = "cgnat-fault-matrix";

inline const std::string FAILURE_LINE =
    "Ocorreu um erro ao enviar os itens para o zabbix ";
inline const std::string CRITICAL_LINE = "Erro crítico -- Contactar ";
inline const std::string REPLACEMENT = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
std::string timeout_text(int seconds);

using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

// start_device.sh options that log in as DEVICE_USER, then `more`.
std::vector<std::string> device_options(std::vector<std::string> more = {});

// The 36 values of the sample device, in send order.
std::vector<std::string> sample_values();

// The 36 items the sample device gives for host, with some values changed
// (index in send order, value).
std::vector<testing_support::SentItem>
expected_items(const std::string &host,
               const std::vector<std::pair<size_t, std::string>> &changes = {});

// A loopback port that nobody listens on: connections are refused.

// Runs the collector (the short-bound copy when asked) with these words
// after its name, killed after `kill_after` seconds.
testing_support::RunResult run(const std::vector<std::string> &arguments,
                               bool short_bound, const Env &env,
                               double kill_after = 90);

// True when text is well-formed UTF-8.
bool valid_utf8(const std::string &text);

std::vector<std::string> lines_of(const std::string &text);

std::string long_password();

// text with every password above replaced, for failure messages.
std::string masked(std::string text);

// What holds for every run: it ended by itself within `within` seconds and
// wrote only valid UTF-8, and never a password.
void expect_sound_run(const testing_support::RunResult &result, double within);

// One line that starts "Erro: " and ends in a stated cause.
void expect_error_line(const std::string &err);

// Exactly 36 delivery failure lines, each naming the server and holding
// `part`, then "OK".
void expect_failure_lines(const std::string &out, const std::string &server,
                          const std::string &part);

} // namespace fault_matrix
