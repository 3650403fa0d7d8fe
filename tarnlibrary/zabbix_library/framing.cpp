#include "tarnlibrary/zabbix_library/framing.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tarn {
namespace {

void put_le32(std::string &out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xff));
}

uint32_t get_le32(std::string_view bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

[[noreturn]] void malformed(const std::string &why) {
  throw std::runtime_error("resposta malformada: " + why);
}

// As zabbix_sender 7.0 reads it: a reset, or a revision and an address.
ZabbixRedirect redirect_of(const nlohmann::json &redirect) {
  if (!redirect.is_object())
    malformed("\"redirect\" não é um objeto");
  auto reset = redirect.find("reset");
  if (reset != redirect.end() && *reset == true)
    return {"", 0, true};
  auto revision = redirect.find("revision");
  auto address = redirect.find("address");
  if (revision == redirect.end() || !revision->is_number_unsigned())
    malformed("redirecionamento sem \"revision\" numérica");
  if (address == redirect.end() || !address->is_string())
    malformed("redirecionamento sem \"address\"");
  return {address->get<std::string>(), revision->get<uint64_t>(), false};
}

} // namespace

std::string zabbix_frame(std::string_view body) {
  std::string out(ZABBIX_MAGIC);
  out.push_back(static_cast<char>(ZABBIX_FLAG_PROTOCOL));
  put_le32(out, static_cast<uint32_t>(body.size()));
  put_le32(out, 0);
  out.append(body);
  return out;
}

std::string zabbix_sender_request(const std::string &host,
                                  const std::string &key,
                                  const std::string &value) {
  // Member order and escaping as the reference sender writes them: compact,
  // UTF-8 kept as is, only quotes, backslash and control characters escaped.
  nlohmann::ordered_json item;
  item["host"] = host;
  item["key"] = key;
  item["value"] = value;
  nlohmann::ordered_json request;
  request["request"] = "sender data";
  request["data"] = nlohmann::ordered_json::array({item});
  try {
    return zabbix_frame(request.dump());
  } catch (const nlohmann::json::type_error &) {
    throw std::runtime_error(
        "o host, a chave ou o valor não é texto UTF-8 válido (chave \"" + key +
        "\")");
  }
}

uint32_t zabbix_answer_length(std::string_view header) {
  if (header.size() < ZABBIX_HEADER_SIZE)
    malformed("cabeçalho incompleto (" + std::to_string(header.size()) +
              " de " + std::to_string(ZABBIX_HEADER_SIZE) + " bytes)");
  if (header.substr(0, ZABBIX_MAGIC.size()) != ZABBIX_MAGIC)
    malformed("não começa com \"ZBXD\"");
  // We never ask for compression or large packets, so any other flags mean
  // the peer is not speaking to us in the protocol we spoke.
  auto flags = static_cast<unsigned char>(header[4]);
  if (flags != ZABBIX_FLAG_PROTOCOL) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", flags);
    malformed(std::string("flags desconhecidas ") + text);
  }
  uint32_t length = get_le32(header.substr(5, 4));
  if (length > ZABBIX_MAX_ANSWER)
    malformed("tamanho anunciado de " + std::to_string(length) +
              " bytes excede o limite de " + std::to_string(ZABBIX_MAX_ANSWER));
  return length;
}

std::optional<ZabbixRedirect> zabbix_judge_answer(std::string_view body,
                                                  const std::string &key) {
  auto answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object())
    malformed("não é um objeto JSON");
  auto response = answer.find("response");
  if (response == answer.end() || !response->is_string())
    malformed("falta o campo \"response\"");
  auto found = answer.find("info");
  std::string info = found != answer.end() && found->is_string()
                         ? found->get<std::string>()
                         : "";
  auto redirect = answer.find("redirect");
  if (*response == "failed" && redirect != answer.end())
    return redirect_of(*redirect);
  if (*response != "success")
    throw std::runtime_error(
        "o servidor respondeu \"" + response->get<std::string>() +
        "\": " + (info.empty() ? "(sem informação)" : info));
  unsigned processed = 0, failed = 0;
  if (std::sscanf(info.c_str(), "processed: %u; failed: %u", &processed,
                  &failed) != 2)
    malformed("\"info\" inesperado: \"" + info + "\"");
  if (processed != 1 || failed != 0)
    throw std::runtime_error(
        "o item \"" + key +
        "\" não foi aceito (host ou chave inexistente no Zabbix, item "
        "desativado ou não do tipo trapper): " +
        info);
  return std::nullopt;
}

} // namespace tarn
