// Encryption of the connections to Zabbix: the settings, checked once, and
// the OpenSSL client context built from them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ssl_ctx_st;

namespace tarn {

// One setting as the caller got it: its name for messages, and its value
// when it is set at all (an empty value counts as set).
struct TlsSetting {
  std::string name;
  std::optional<std::string> value;
};

struct TlsOptions {
  TlsSetting connect; // "unencrypted" (also when unset), "psk" or "cert"
  TlsSetting psk_identity, psk_file;
  TlsSetting ca_file, crl_file, cert_file, key_file;
  TlsSetting server_cert_issuer, server_cert_subject;
};

enum class TlsMode { unencrypted, psk, cert };

// What a connection needs; immutable once built.
struct TlsConfig {
  TlsMode mode = TlsMode::unencrypted;
  std::string psk_identity;
  std::vector<unsigned char> psk;
  std::optional<std::string> issuer, subject;
  TlsOptions names; // setting names for hints in failure messages
  std::unique_ptr<ssl_ctx_st, void (*)(ssl_ctx_st *)> context{nullptr, nullptr};
};

// The run's encryption: unencrypted by default, shared cheaply by copies.
class ZabbixTls {
public:
  ZabbixTls() = default;
  // Reads and checks every setting and file. Throws std::invalid_argument
  // naming the setting at fault (never a key's content).
  explicit ZabbixTls(const TlsOptions &options);
  TlsMode mode() const {
    return config_ ? config_->mode : TlsMode::unencrypted;
  }
  const TlsConfig &config() const { return *config_; }

private:
  std::shared_ptr<const TlsConfig> config_;
};

} // namespace tarn
