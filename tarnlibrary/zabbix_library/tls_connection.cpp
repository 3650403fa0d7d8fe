#include "tarnlibrary/zabbix_library/tls_connection.hpp"

#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/tls_errors.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>

namespace tarn {

std::string openssl_reason() {
  unsigned long code = ERR_get_error(); // the first is the cause
  const char *reason = code ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason ? reason : "erro desconhecido";
}

namespace {

enum class Step { done, closed };

// OpenSSL writes with write(2): a peer's reset must come back as EPIPE, not
// end a process that does not ignore SIGPIPE.
class SigpipeBlock {
public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeBlock() {
    int saved = errno;
    sigset_t pending;
    sigpending(&pending);
    if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
      timespec now{};
      sigtimedwait(&pipe_, nullptr, &now); // ours: taken, never delivered
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = saved;
  }
  SigpipeBlock(const SigpipeBlock &) = delete;
  SigpipeBlock &operator=(const SigpipeBlock &) = delete;

private:
  sigset_t pipe_, previous_;
  bool was_pending_ = false;
};

// Runs an OpenSSL call until it completes, waiting on the socket as it
// asks; throws the cause when it fails for good.
template <class Call>
Step drive(SSL *ssl, const TcpSocket &socket, SteadyTime until,
           const char *waiting_for, Call call) {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int result;
    {
      SigpipeBlock block;
      result = call();
    }
    if (result > 0)
      return Step::done;
    switch (int error = SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
      tcp_await(socket, POLLIN, until, waiting_for);
      break;
    case SSL_ERROR_WANT_WRITE:
      tcp_await(socket, POLLOUT, until, waiting_for);
      break;
    case SSL_ERROR_ZERO_RETURN:
      return Step::closed;
    case SSL_ERROR_SYSCALL:
      if (errno == 0 || errno == ECONNRESET || errno == EPIPE)
        return Step::closed;
      throw std::runtime_error(std::strerror(errno));
    default: {
      unsigned long code = ERR_peek_last_error();
      const char *reason = code ? ERR_reason_error_string(code) : nullptr;
      ERR_clear_error();
      throw std::runtime_error(reason ? reason
                                      : "erro TLS " + std::to_string(error));
    }
    }
  }
}

std::string rfc4514(const X509_NAME *name) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  // As Zabbix writes names: RFC 4514 order, UTF-8 left unescaped.
  X509_NAME_print_ex(bio.get(), name, 0,
                     XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char *data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

void check_name(const char *what, const std::string &actual,
                const std::optional<std::string> &expected,
                const std::string &setting) {
  if (expected && actual != *expected)
    throw std::runtime_error(
        "o " + std::string(what) + " do certificado do servidor é \"" + actual +
        "\", esperado \"" + *expected + "\" (confira " + setting + ")");
}

std::string handshake_hint(const TlsConfig &config, const SSL *ssl,
                           const std::string &cause) {
  const TlsOptions &names = config.names;
  if (config.mode == TlsMode::psk)
    return "o handshake TLS com PSK falhou (" + cause +
           "); o servidor não diz o motivo quando a chave está errada ou a "
           "identidade é desconhecida: confira identidade e chave (" +
           names.psk_identity.name + ", " + names.psk_file.name +
           ") e se o host aceita PSK";
  long verify = SSL_get_verify_result(ssl);
  if (verify != X509_V_OK)
    return std::string("o certificado do servidor não foi aceito: ") +
           X509_verify_cert_error_string(verify) + " (confira " +
           names.ca_file.name +
           (names.crl_file.value ? " e " + names.crl_file.name : "") + ")";
  return "o handshake TLS com certificado falhou (" + cause +
         "): confira se o servidor tem TLSCertFile com chave RSA e se o host "
         "aceita certificados";
}

} // namespace

TlsConnection::TlsConnection(const ZabbixTls &tls, const TcpSocket &socket,
                             SteadyTime until)
    : config_(tls.config()), socket_(socket),
      ssl_(SSL_new(tls.config().context.get()), SSL_free) {
  if (!ssl_ || SSL_set_fd(ssl_.get(), socket.fd()) != 1)
    throw std::runtime_error("OpenSSL: " + openssl_reason());
  std::string cause;
  try {
    if (drive(ssl_.get(), socket_, until, "no handshake TLS",
              [&] { return SSL_connect(ssl_.get()); }) == Step::closed)
      cause = "conexão fechada pelo servidor";
  } catch (const TimeoutException &) {
    throw;
  } catch (const std::runtime_error &error) {
    if (std::string(error.what()).starts_with("tempo esgotado"))
      throw;
    cause = error.what();
  }
  if (!cause.empty())
    throw std::runtime_error(handshake_hint(config_, ssl_.get(), cause));
  established_ = true;
  if (config_.mode == TlsMode::cert) {
    X509 *peer = SSL_get0_peer_certificate(ssl_.get());
    if (!peer)
      throw std::runtime_error("o servidor não apresentou certificado");
    check_name("emissor", rfc4514(X509_get_issuer_name(peer)), config_.issuer,
               config_.names.server_cert_issuer.name);
    check_name("assunto", rfc4514(X509_get_subject_name(peer)), config_.subject,
               config_.names.server_cert_subject.name);
  }
}

TlsConnection::~TlsConnection() {
  if (established_) {
    SigpipeBlock block;
    SSL_shutdown(ssl_.get()); // one close_notify, not waiting for the reply
  }
  ERR_clear_error();
}

void TlsConnection::send_all(std::string_view bytes, SteadyTime until) {
  if (bytes.empty())
    return;
  SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE);
  while (!bytes.empty()) {
    size_t written = 0;
    if (drive(ssl_.get(), socket_, until, "no envio", [&] {
          return SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written);
        }) == Step::closed)
      throw std::runtime_error("conexão fechada pelo servidor durante o envio");
    bytes.remove_prefix(written);
  }
}

std::string TlsConnection::receive(size_t count, SteadyTime until) {
  std::string received;
  char buffer[4096];
  while (received.size() < count) {
    size_t got = 0;
    size_t want = std::min(sizeof buffer, count - received.size());
    if (drive(ssl_.get(), socket_, until, "esperando a resposta", [&] {
          return SSL_read_ex(ssl_.get(), buffer, want, &got);
        }) == Step::closed)
      break;
    received.append(buffer, got);
  }
  return received;
}

} // namespace tarn
