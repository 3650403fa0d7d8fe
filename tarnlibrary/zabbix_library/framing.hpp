// The sender protocol's framing: the request we write and the judgement of
// the answer we read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarn {

inline constexpr std::string_view ZABBIX_MAGIC = "ZBXD";
inline constexpr unsigned char ZABBIX_FLAG_PROTOCOL = 0x01;
inline constexpr size_t ZABBIX_HEADER_SIZE = 13;
// An answer is a short JSON object; anything near this size is not one.
inline constexpr uint32_t ZABBIX_MAX_ANSWER = 1u << 20;

// Header (magic, flags, little-endian length, reserved 0) and body.
std::string zabbix_frame(std::string_view body);

// The framed "sender data" request for one value. Throws std::runtime_error
// when a text is not valid UTF-8.
std::string zabbix_sender_request(const std::string &host,
                                  const std::string &key,
                                  const std::string &value);

// The body length announced by a 13-byte answer header. Throws
// std::runtime_error with the reason when the header is not one we accept.
uint32_t zabbix_answer_length(std::string_view header);

// A Zabbix 7.0 proxy group's answer to a value sent where its host is not
// monitored: send it to address instead, or (reset) back to the address
// first configured.
struct ZabbixRedirect {
  std::string address; // as the answer wrote it, unchecked; empty on reset
  uint64_t revision = 0;
  bool reset = false;
};

// Returns nothing when the answer counts the one item as processed, the
// redirect when it is one; throws std::runtime_error with what the server
// said or why the answer is malformed otherwise. key names the item in a
// rejection.
std::optional<ZabbixRedirect> zabbix_judge_answer(std::string_view body,
                                                  const std::string &key);

} // namespace tarn
