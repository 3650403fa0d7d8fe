#include "tests/end_to_end/fault_matrix_support.hpp"
#include "LINUX/collection/catalogue.hpp"
#include "tests/support/loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sstream>
#include <unicode/ustring.h>

namespace fault_matrix {

std::string timeout_text(int seconds) {
  return "Tempo limite de execução excedido (" + std::to_string(seconds) +
         " s)";
}

std::vector<std::string> device_options(std::vector<std::string> more) {
  std::vector<std::string> options{"--user", DEVICE_USER, "--password",
                                   DEVICE_PASSWORD};
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

std::vector<std::string> sample_values() {
  return {// summary
          "1234", "98765432", "98764198", "4194304", "0", "187", "15230",
          "65536", "1234567890", "987654321098", "12", "3", "0", "5",
          // error counters, inbound then outbound
          "12", "3", "0", "0", "5", "1", "0", "0", "2", "0", "7", "9", "1", "1",
          "0", "0", "3", "0", "0", "0", "0", "2"};
}

std::vector<testing_support::SentItem>
expected_items(const std::string &host,
               const std::vector<std::pair<size_t, std::string>> &changes) {
  std::vector<std::string> values = sample_values();
  for (const auto &[index, value] : changes)
    values[index] = value;
  std::vector<testing_support::SentItem> items;
  for (size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i)
    items.push_back(
        {host, std::string(cgnat::PUBLISHED_ITEMS[i].item_key), values[i]});
  return items;
}

testing_support::RunResult run(const std::vector<std::string> &arguments,
                               bool short_bound, const Env &env,
                               double kill_after) {
  testing_support::RunOptions options;
  options.executable = short_bound
                           ? testing_support::short_bound_collector_path()
                           : testing_support::collector_path();
  options.env = env;
  options.time_limit = kill_after;
  return testing_support::run_collector(arguments, options);
}

bool valid_utf8(const std::string &text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, text.data(),
                static_cast<int32_t>(text.size()), &status);
  return status != U_INVALID_CHAR_FOUND && status != U_ILLEGAL_CHAR_FOUND;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

std::string long_password() {
  std::string password;
  while (password.size() < 100'000)
    password += LONG_PASSWORD_PIECE;
  return password.substr(0, 100'000);
}

std::string masked(std::string text) {
  for (const std::string &secret :
       {DEVICE_PASSWORD, WRONG_PASSWORD, LONG_PASSWORD_PIECE})
    for (size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at))
      text.replace(at, secret.size(), "<senha>");
  return text;
}

void expect_sound_run(const testing_support::RunResult &result, double within) {
  EXPECT_FALSE(result.timed_out) << "killed after " << result.seconds << " s";
  EXPECT_NE(result.status, -1) << "ended by a signal";
  EXPECT_LT(result.seconds, within);
  EXPECT_TRUE(valid_utf8(result.out)) << masked(result.out);
  EXPECT_TRUE(valid_utf8(result.err)) << masked(result.err);
  // masked() changes the text exactly when a password is in it.
  EXPECT_TRUE(masked(result.out) == result.out) << "a senha aparece na saída";
  EXPECT_TRUE(masked(result.err) == result.err) << "a senha aparece nos erros";
}

void expect_error_line(const std::string &err) {
  std::vector<std::string> lines = lines_of(err);
  ASSERT_EQ(lines.size(), 1u) << masked(err);
  EXPECT_EQ(lines[0].rfind("Erro: ", 0), 0u) << masked(err);
  size_t last = lines[0].find_last_not_of(' ');
  EXPECT_TRUE(last == std::string::npos || lines[0][last] != ':')
      << "no cause after the colon: " << masked(err);
}

void expect_failure_lines(const std::string &out, const std::string &server,
                          const std::string &part) {
  std::vector<std::string> lines = lines_of(out);
  ASSERT_EQ(lines.size(), 37u) << masked(out);
  for (size_t i = 0; i < 36; ++i) {
    EXPECT_EQ(lines[i].rfind(FAILURE_LINE + "servidor Zabbix " + server, 0), 0u)
        << masked(lines[i]);
    EXPECT_NE(lines[i].find(part), std::string::npos) << masked(lines[i]);
  }
  EXPECT_EQ(lines.back(), "OK");
}

} // namespace fault_matrix
