// PSK encryption on both sides of a test delivery: the run's settings and
// the fake trapper's key.
#pragma once

#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <string>

namespace testing_support {

inline const std::string TEST_PSK_HEX =
    "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

// The run's encryption with key_hex, written to a file in dir.
inline tarn::ZabbixTls psk_mode(const TempDir &dir,
                                const std::string &key_hex = TEST_PSK_HEX) {
  std::string path = dir.path + "/psk.key";
  write_text(path, key_hex + "\n");
  tarn::TlsOptions options;
  options.connect = {"CGNAT_ZABBIX_TLS_CONNECT", "psk"};
  options.psk_identity = {"CGNAT_ZABBIX_TLS_PSK_IDENTITY", "cgnat-test"};
  options.psk_file = {"CGNAT_ZABBIX_TLS_PSK_FILE", path};
  return tarn::ZabbixTls(options);
}

// A trapper's side of the same identity and key.
inline TrapperPsk trapper_psk(const std::string &key_hex = TEST_PSK_HEX) {
  TrapperPsk psk{"cgnat-test", ""};
  for (size_t i = 0; i + 1 < key_hex.size(); i += 2)
    psk.key.push_back(
        static_cast<char>(std::stoi(key_hex.substr(i, 2), nullptr, 16)));
  return psk;
}

} // namespace testing_support
