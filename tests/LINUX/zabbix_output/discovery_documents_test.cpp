#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<cgnat::MetricMap::Entry>;

cgnat::MetricMap map_of(const Entries &entries) {
  cgnat::MetricMap map;
  for (const auto &[key, value] : entries)
    map.store(key, value);
  return map;
}

struct MacroCase {
  std::string name;
  std::string key;
  std::string macro;
};
void PrintTo(const MacroCase &c, std::ostream *os) { *os << c.name; }

class DiscoveryMacro : public testing::TestWithParam<MacroCase> {};

TEST_P(DiscoveryMacro, WrapsTheUpperCasedKey) {
  EXPECT_EQ(cgnat::discovery_macro(GetParam().key), GetParam().macro);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DiscoveryMacro,
    testing::Values(MacroCase{"summary_key", "active_sessions",
                              "{#ACTIVE_SESSIONS}"},
                    MacroCase{"table_full", "table_full", "{#TABLE_FULL}"},
                    MacroCase{"section_key", "public_address_used",
                              "{#PUBLIC_ADDRESS_USED}"},
                    MacroCase{"error_key", "untranslatable_icmp_message_in",
                              "{#UNTRANSLATABLE_ICMP_MESSAGE_IN}"},
                    MacroCase{"digits_kept", "ipv4_2", "{#IPV4_2}"},
                    MacroCase{"full_unicode_upper", "straße", "{#STRASSE}"},
                    MacroCase{"empty_key", "", "{#}"}),
    [](const auto &info) { return info.param.name; });

struct DocumentCase {
  std::string name;
  Entries metrics;
  Entries discovery;
};
void PrintTo(const DocumentCase &c, std::ostream *os) { *os << c.name; }

class BuildDiscoveryDocument : public testing::TestWithParam<DocumentCase> {};

TEST_P(BuildDiscoveryDocument, AppendsOneMapInSourceOrder) {
  cgnat::DiscoveryDocument document;
  cgnat::build_discovery_document(map_of(GetParam().metrics), document);
  ASSERT_EQ(document.size(), 1u);
  EXPECT_EQ(document[0].entries(), GetParam().discovery);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, BuildDiscoveryDocument,
    testing::Values(
        DocumentCase{"empty_map_gives_one_empty_map", {}, {}},
        DocumentCase{"flag_stays_integer",
                     {{"active_sessions", "1234"}, {"table_full", 0}},
                     {{"{#ACTIVE_SESSIONS}", "1234"}, {"{#TABLE_FULL}", 0}}},
        DocumentCase{"source_order_kept",
                     {{"table_full", 1}, {"active_sessions", "9"}},
                     {{"{#TABLE_FULL}", 1}, {"{#ACTIVE_SESSIONS}", "9"}}},
        DocumentCase{"values_unchanged",
                     {{"mapping_table_full_in", " ~1\t"},
                      {"mapping_table_full_out", ""}},
                     {{"{#MAPPING_TABLE_FULL_IN}", " ~1\t"},
                      {"{#MAPPING_TABLE_FULL_OUT}", ""}}}),
    [](const auto &info) { return info.param.name; });

} // namespace
