#include "tests/support/fake_trapper.hpp"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {
namespace {

constexpr size_t HEADER_SIZE = 13;
constexpr int REQUEST_IDLE_MS = 2000;

uint32_t announced_length(const std::string &request) {
  uint32_t length = 0;
  for (int i = 8; i >= 5; --i)
    length = (length << 8) | static_cast<unsigned char>(request[i]);
  return length;
}

bool request_complete(const std::string &request) {
  return request.size() >= HEADER_SIZE &&
         request.size() - HEADER_SIZE >= announced_length(request);
}

unsigned give_psk(SSL *ssl, const char *identity, unsigned char *psk,
                  unsigned max_psk_len) {
  const auto *key =
      static_cast<TrapperPsk *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (!identity || key->identity != identity || key->key.size() > max_psk_len)
    return 0;
  std::memcpy(psk, key->key.data(), key->key.size());
  return static_cast<unsigned>(key->key.size());
}

} // namespace

std::string trapper_answer(std::string_view json) {
  std::string out = "ZBXD\x01";
  uint32_t length = static_cast<uint32_t>(json.size());
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((length >> shift) & 0xff));
  out.append(4, '\0');
  out.append(json);
  return out;
}

TrapperReply trapper_success() {
  return {trapper_answer(R"({"response":"success","info":"processed: 1; )"
                         R"(failed: 0; total: 1; seconds spent: 0.000101"})")};
}

TrapperReply trapper_rejection() {
  return {trapper_answer(R"({"response":"success","info":"processed: 0; )"
                         R"(failed: 1; total: 1; seconds spent: 0.000052"})")};
}

TrapperReply trapper_redirect(const std::string &address, int revision) {
  return {trapper_answer(R"({"redirect":{"revision":)" +
                         std::to_string(revision) + R"(,"address":")" +
                         address + R"("},"response":"failed"})")};
}

TrapperReply trapper_redirect_reset() {
  return {trapper_answer(R"({"redirect":{"reset":true},"response":"failed"})")};
}

FakeTrapper::FakeTrapper(Script script, std::optional<TrapperPsk> psk)
    : script_(std::move(script)), psk_(std::move(psk)) {
  if (psk_) {
    tls_ = {SSL_CTX_new(TLS_server_method()), SSL_CTX_free};
    SSL_CTX_set_app_data(tls_.get(), &*psk_);
    SSL_CTX_set_cipher_list(tls_.get(), "PSK");
    SSL_CTX_set_psk_server_callback(tls_.get(), give_psk);
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) !=
          0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0)
    throw std::runtime_error("fake trapper: cannot listen on 127.0.0.1");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

FakeTrapper::~FakeTrapper() {
  ssize_t ignored = ::write(wake_[1], "x", 1);
  (void)ignored;
  thread_.join();
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::string FakeTrapper::address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> FakeTrapper::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<SentItem> FakeTrapper::items() const {
  std::vector<SentItem> found;
  for (const auto &request : requests()) {
    if (!request_complete(request))
      continue;
    auto body =
        nlohmann::json::parse(request.substr(HEADER_SIZE), nullptr, false);
    if (body.is_discarded() || !body.contains("data"))
      continue;
    for (const auto &item : body["data"])
      found.push_back({item.value("host", ""), item.value("key", ""),
                       item.value("value", "")});
  }
  return found;
}

bool FakeTrapper::wait_readable(int fd, int timeout_ms) const {
  pollfd entries[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  int ready = ::poll(entries, 2, timeout_ms);
  return !(ready > 0 && entries[1].revents);
}

bool FakeTrapper::pause(int ms) const {
  pollfd entry{wake_[0], POLLIN, 0};
  return ms <= 0 || ::poll(&entry, 1, ms) <= 0;
}

void FakeTrapper::serve() {
  // OpenSSL writes with write(2): a client gone early is EPIPE here, not the
  // end of the test program.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  for (;;) {
    pollfd entries[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0 || entries[1].revents)
      return;
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
      continue;
    if (tls_)
      handle_tls(connection, script_(served_++));
    else
      handle(connection, script_(served_++));
    ::close(connection);
  }
}

void FakeTrapper::handle(int connection, const TrapperReply &reply) {
  std::string request;
  while (reply.read_request && !request_complete(request)) {
    if (!wait_readable(connection, REQUEST_IDLE_MS))
      return;
    char buffer[4096];
    ssize_t got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got <= 0)
      break;
    request.append(buffer, static_cast<size_t>(got));
  }
  record(request);
  if (!pause(reply.delay_ms))
    return;
  ::send(connection, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
  if (!pause(reply.close_delay_ms))
    return;
  while (reply.hold_open && wait_readable(connection, -1)) {
    char buffer[256];
    if (::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT) <= 0)
      break;
  }
}

void FakeTrapper::record(const std::string &request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
}

void FakeTrapper::handle_tls(int connection, const TrapperReply &reply) {
  // Blocking calls, each bounded, so that a silent client cannot keep the
  // trapper from stopping.
  timeval bound{REQUEST_IDLE_MS / 1000, 0};
  ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(tls_.get()), SSL_free);
  SSL_set_fd(ssl.get(), connection);
  std::string request;
  if (SSL_accept(ssl.get()) == 1) {
    char buffer[4096];
    int got;
    while (!request_complete(request) &&
           (got = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0)
      request.append(buffer, static_cast<size_t>(got));
  }
  record(request);
  if (!request_complete(request) || !pause(reply.delay_ms))
    return;
  SSL_write(ssl.get(), reply.bytes.data(),
            static_cast<int>(reply.bytes.size()));
  SSL_shutdown(ssl.get());
}

} // namespace testing_support
