#include "tests/support/fake_trapper.hpp"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
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

FakeTrapper::FakeTrapper(Script script) : script_(std::move(script)) {
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
  for (;;) {
    pollfd entries[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0 || entries[1].revents)
      return;
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
      continue;
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
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
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

} // namespace testing_support
