#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"

#include "tarnlibrary/zabbix_library/tls_errors.hpp"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <stdexcept>

namespace tarn {
namespace {

// Forward-secret ECDHE-PSK first: OpenSSL's own order would pick plain PSK.
constexpr const char *PSK_CIPHERS =
    "ECDHE-PSK-AES128-CBC-SHA256:ECDHE-PSK-AES128-CBC-SHA:"
    "PSK-AES128-GCM-SHA256:PSK-AES128-CCM8:PSK-AES128-CBC-SHA256:"
    "PSK-AES128-CBC-SHA";
constexpr size_t PSK_MIN_DIGITS = 32, PSK_MAX_DIGITS = 512;
constexpr size_t IDENTITY_MAX_CHARS = 128;

[[noreturn]] void bad(const TlsSetting &setting, const std::string &why) {
  ERR_clear_error();
  throw std::invalid_argument(setting.name + ": " + why);
}

const std::string &value_of(const TlsSetting &setting) {
  static const std::string none;
  return setting.value ? *setting.value : none;
}

void require(const TlsSetting &setting, const TlsSetting &connect) {
  if (!setting.value)
    bad(setting, "obrigatório com " + connect.name + "=" + value_of(connect));
}

void forbid(const TlsSetting &setting, const TlsSetting &connect,
            const char *needs) {
  if (setting.value)
    bad(setting, std::string("só vale com ") + connect.name + "=" + needs +
                     " (" + connect.name + " é \"" +
                     (connect.value ? *connect.value : "unencrypted") + "\")");
}

// A file's bytes up to limit (one more tells the caller it is longer).
std::string read_file(const TlsSetting &setting, size_t limit) {
  const std::string &path = value_of(setting);
  std::ifstream file(path, std::ios::binary);
  if (!file)
    bad(setting, "o arquivo \"" + path +
                     "\" não pôde ser lido: " + std::strerror(errno));
  std::string bytes(limit + 1, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (file.bad()) // a directory opens, then fails to read
    bad(setting, "o arquivo \"" + path +
                     "\" não pôde ser lido: " + std::strerror(errno));
  bytes.resize(static_cast<size_t>(file.gcount()));
  return bytes;
}

// One line of hex digits (a final line end allowed); the content is never
// quoted back.
std::vector<unsigned char> read_psk(const TlsSetting &setting) {
  std::string text = read_file(setting, PSK_MAX_DIGITS + 2);
  if (text.ends_with("\n"))
    text.pop_back();
  if (text.ends_with("\r"))
    text.pop_back();
  const std::string rule =
      "deve conter uma linha de 32 a 512 dígitos hexadecimais, em número par";
  for (size_t i = 0; i < text.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i])))
      bad(setting, "a chave " + rule + " (caractere inválido na posição " +
                       std::to_string(i + 1) + ")");
  if (text.size() < PSK_MIN_DIGITS || text.size() > PSK_MAX_DIGITS ||
      text.size() % 2 != 0)
    bad(setting,
        "a chave " + rule + " (tem " +
            (text.size() > PSK_MAX_DIGITS ? std::string("mais de 512")
                                          : std::to_string(text.size())) +
            ")");
  std::vector<unsigned char> key;
  for (size_t i = 0; i < text.size(); i += 2)
    key.push_back(
        static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return key;
}

// Code points of well-formed UTF-8, or nullopt.
std::optional<size_t> utf8_length(const std::string &text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    auto lead = static_cast<unsigned char>(text[i]);
    size_t extra = lead < 0x80                   ? 0
                   : lead >= 0xc2 && lead < 0xe0 ? 1
                   : lead >= 0xe0 && lead < 0xf0 ? 2
                   : lead >= 0xf0 && lead < 0xf5 ? 3
                                                 : 4;
    if (extra == 4 || i + extra >= text.size())
      return std::nullopt;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
        return std::nullopt;
    i += extra + 1;
  }
  return count;
}

std::string check_identity(const TlsSetting &setting) {
  const std::string &identity = value_of(setting);
  if (identity.empty())
    bad(setting, "a identidade PSK está vazia");
  auto length = utf8_length(identity);
  if (!length)
    bad(setting, "a identidade PSK não é texto UTF-8 válido");
  if (*length > IDENTITY_MAX_CHARS)
    bad(setting, "a identidade PSK tem " + std::to_string(*length) +
                     " caracteres; o máximo é 128");
  // Zabbix takes 128 characters of up to 4 bytes; OpenSSL sends fewer bytes.
  if (identity.size() > PSK_MAX_IDENTITY_LEN)
    bad(setting, "a identidade PSK tem " + std::to_string(identity.size()) +
                     " bytes em UTF-8; o OpenSSL envia no máximo " +
                     std::to_string(PSK_MAX_IDENTITY_LEN));
  return identity;
}

unsigned give_psk(SSL *ssl, const char *, char *identity,
                  unsigned max_identity_len, unsigned char *psk,
                  unsigned max_psk_len) {
  auto *config = static_cast<const TlsConfig *>(
      SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (config->psk_identity.size() > max_identity_len ||
      config->psk.size() > max_psk_len)
    return 0;
  std::memcpy(identity, config->psk_identity.c_str(),
              config->psk_identity.size() + 1);
  std::memcpy(psk, config->psk.data(), config->psk.size());
  return static_cast<unsigned>(config->psk.size());
}

// Keys with a passphrase fail instead of prompting on a terminal.
int no_passphrase(char *, int, int, void *) { return 0; }

void load_crl(SSL_CTX *context, const TlsSetting &setting) {
  read_file(setting, 0); // says why the file cannot be opened
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_file(value_of(setting).c_str(), "r"), BIO_free);
  X509_STORE *store = SSL_CTX_get_cert_store(context);
  int loaded = 0;
  while (X509_CRL *crl =
             bio ? PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr)
                 : nullptr) {
    loaded += X509_STORE_add_crl(store, crl) == 1;
    X509_CRL_free(crl);
  }
  if (loaded == 0)
    bad(setting, "o arquivo \"" + value_of(setting) +
                     "\" não contém uma CRL em formato PEM");
  ERR_clear_error(); // the end of the file ends the loop with an error
  X509_STORE_set_flags(store,
                       X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
}

void load_certificates(SSL_CTX *context, const TlsOptions &options) {
  read_file(options.ca_file, 0);
  if (SSL_CTX_load_verify_locations(context, value_of(options.ca_file).c_str(),
                                    nullptr) != 1)
    bad(options.ca_file, "nenhum certificado de CA em \"" +
                             value_of(options.ca_file) +
                             "\": " + openssl_reason());
  if (options.crl_file.value)
    load_crl(context, options.crl_file);
  read_file(options.cert_file, 0);
  if (SSL_CTX_use_certificate_chain_file(
          context, value_of(options.cert_file).c_str()) != 1)
    bad(options.cert_file, "certificado ilegível em \"" +
                               value_of(options.cert_file) +
                               "\": " + openssl_reason());
  read_file(options.key_file, 0);
  const std::string mismatch =
      "a chave privada não corresponde ao certificado de " +
      options.cert_file.name;
  if (SSL_CTX_use_PrivateKey_file(context, value_of(options.key_file).c_str(),
                                  SSL_FILETYPE_PEM) != 1) {
    // OpenSSL compares the key with the certificate while loading it.
    if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH)
      bad(options.key_file, mismatch);
    bad(options.key_file, "chave privada ilegível (ou protegida por senha) em "
                          "\"" +
                              value_of(options.key_file) +
                              "\": " + openssl_reason());
  }
  if (SSL_CTX_check_private_key(context) != 1)
    bad(options.key_file, mismatch);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
}

std::optional<std::string> expected_name(const TlsSetting &setting) {
  if (setting.value && setting.value->empty())
    bad(setting, "vazio; deixe sem definir para aceitar qualquer um");
  return setting.value;
}

TlsMode mode_of(const TlsSetting &connect) {
  if (!connect.value || *connect.value == "unencrypted")
    return TlsMode::unencrypted;
  if (*connect.value == "psk")
    return TlsMode::psk;
  if (*connect.value == "cert")
    return TlsMode::cert;
  bad(connect, "modo desconhecido \"" + *connect.value +
                   "\"; use unencrypted, psk ou cert");
}

} // namespace

ZabbixTls::ZabbixTls(const TlsOptions &options) {
  auto config = std::make_shared<TlsConfig>();
  config->names = options;
  config->mode = mode_of(options.connect);
  const TlsSetting &connect = options.connect;
  bool psk = config->mode == TlsMode::psk;
  bool cert = config->mode == TlsMode::cert;
  for (const TlsSetting *setting : {&options.psk_identity, &options.psk_file})
    if (!psk)
      forbid(*setting, connect, "psk");
  for (const TlsSetting *setting :
       {&options.ca_file, &options.crl_file, &options.cert_file,
        &options.key_file, &options.server_cert_issuer,
        &options.server_cert_subject})
    if (!cert)
      forbid(*setting, connect, "cert");
  if (config->mode == TlsMode::unencrypted)
    return; // no context: the bytes stay exactly the unencrypted ones

  SSL_CTX *context = SSL_CTX_new(TLS_client_method());
  if (!context)
    throw std::runtime_error("OpenSSL: " + openssl_reason());
  config->context = {context, SSL_CTX_free};
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_default_passwd_cb(context, no_passphrase);
  SSL_CTX_set_app_data(context, config.get());
  if (psk) {
    require(options.psk_identity, connect);
    require(options.psk_file, connect);
    config->psk_identity = check_identity(options.psk_identity);
    config->psk = read_psk(options.psk_file);
    SSL_CTX_set_cipher_list(context, PSK_CIPHERS);
    SSL_CTX_set_psk_client_callback(context, give_psk);
  } else {
    require(options.ca_file, connect);
    require(options.cert_file, connect);
    require(options.key_file, connect);
    load_certificates(context, options);
    config->issuer = expected_name(options.server_cert_issuer);
    config->subject = expected_name(options.server_cert_subject);
  }
  config_ = std::move(config);
}

} // namespace tarn
