// A Zabbix trapper stand-in on 127.0.0.1 for tests: records each request and
// answers as a test scripts it, including the faults a real network shows.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace testing_support {

// What the trapper does with one connection.
struct TrapperReply {
  std::string bytes;        // written after the request was read
  int delay_ms = 0;         // pause before writing
  bool read_request = true; // false: reply (or close) at once, unread
  bool hold_open = false;   // after writing, keep open until the peer closes
  int close_delay_ms = 0;   // after writing, pause before closing
};

// A framed answer with the protocol flag and this JSON text.
std::string trapper_answer(std::string_view json);
// A framed answer counting one item as processed.
TrapperReply trapper_success();
// The answer the real server gives for an unknown host or key.
TrapperReply trapper_rejection();
// A Zabbix 7.0 proxy group's answer for a host another proxy monitors, byte
// for byte as the server writes it: send the value to address instead.
TrapperReply trapper_redirect(const std::string &address, int revision = 1);
// The group's answer when the host's proxy is offline: go back to the
// address first configured.
TrapperReply trapper_redirect_reset();

// The pre-shared key a trapper takes TLS with (as TLSAccept=psk does). An
// encrypted trapper answers each request with its reply's bytes after the
// delay; the other fault fields are for unencrypted ones.
struct TrapperPsk {
  std::string identity;
  std::string key; // the key's bytes, not hex
};

struct SentItem {
  std::string host, key, value;
  bool operator==(const SentItem &) const = default;
};

class FakeTrapper {
public:
  // Decides the reply for the connection with this index (0 first).
  using Script = std::function<TrapperReply(size_t connection)>;

  explicit FakeTrapper(
      Script script = [](size_t) { return trapper_success(); },
      std::optional<TrapperPsk> psk = std::nullopt);
  ~FakeTrapper();
  FakeTrapper(const FakeTrapper &) = delete;
  FakeTrapper &operator=(const FakeTrapper &) = delete;

  int port() const { return port_; }
  std::string address() const; // "127.0.0.1:port"
  // Raw bytes of each connection's request, in order of arrival.
  std::vector<std::string> requests() const;
  // The items of every well-formed request, in order.
  std::vector<SentItem> items() const;

private:
  void serve();
  void handle(int connection, const TrapperReply &reply);
  bool wait_readable(int fd, int timeout_ms) const; // false when stopping
  bool pause(int ms) const;                         // false when stopping
  void handle_tls(int connection, const TrapperReply &reply);
  void record(const std::string &request);

  Script script_;
  std::optional<TrapperPsk> psk_;
  std::unique_ptr<ssl_ctx_st, void (*)(ssl_ctx_st *)> tls_{nullptr, nullptr};
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  size_t served_ = 0; // touched by the serving thread only
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

} // namespace testing_support
