// The Zabbix template an operator imports must carry exactly the item keys
// the collector sends; read as text, the way an operator's diff would.
#include "LINUX/collection/catalogue.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TemplateItem {
  std::string type, key, value_type, valuemap, description, master, timeout;
};

const std::string TEMPLATE = "CGNAT Linux by SSH";

// The 6.0 file by default; cgnat_collector_7.0.yaml is its 7.0 form.
std::string template_text(const std::string &name = "cgnat_collector.yaml") {
  std::ifstream file(std::string(CGNAT_SOURCE_DIR) + "/zabbix_template/" +
                     name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string unquote(std::string value) {
  if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
    value = value.substr(1, value.size() - 2);
    for (auto at = value.find("''"); at != std::string::npos;
         at = value.find("''", at + 1))
      value.erase(at, 1);
  }
  return value;
}

// The entries of the template's "items:" list, in file order.
std::vector<TemplateItem> template_items(const std::string &text) {
  std::vector<TemplateItem> items;
  std::istringstream lines(text);
  bool in_items = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("      ", 0) == 0 && line.size() > 6 && line[6] != ' ')
      in_items = line == "      items:";
    if (!in_items)
      continue;
    if (line.rfind("        - uuid:", 0) == 0)
      items.emplace_back();
    auto field = [&](const std::string &name, std::string &out) {
      std::string prefix = "          " + name + ": ";
      if (line.rfind(prefix, 0) == 0)
        out = unquote(line.substr(prefix.size()));
    };
    if (!items.empty()) {
      field("type", items.back().type);
      field("key", items.back().key);
      field("value_type", items.back().value_type);
      field("  name", items.back().valuemap); // under "valuemap:"
      field("description", items.back().description);
      field("  key", items.back().master); // under "master_item:"
      field("timeout", items.back().timeout);
    }
  }
  return items;
}

std::vector<std::string> trigger_expressions(const std::string &text) {
  std::vector<std::string> expressions;
  std::regex expression_line(R"(^\s+expression: (.*)$)");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, expression_line))
      expressions.push_back(unquote(match[1]));
  }
  return expressions;
}

TEST(TemplateFile, TrapperKeysAreThePublishedItemsInSendOrder) {
  std::vector<std::string> trapper_keys, published;
  for (const auto &item : template_items(template_text()))
    if (item.type == "TRAP")
      trapper_keys.push_back(item.key);
  for (const auto &row : cgnat::PUBLISHED_ITEMS)
    published.emplace_back(row.item_key);
  EXPECT_EQ(trapper_keys, published);
}

// The collector sends digits only; text items would hide a broken device
// value instead of flagging the item.
TEST(TemplateFile, TrapperItemsAreUnsignedAndTableFullIsMapped) {
  for (const auto &item : template_items(template_text())) {
    if (item.type != "TRAP")
      continue;
    EXPECT_EQ(item.value_type, "UNSIGNED") << item.key;
    if (item.key == "tableFull") {
      EXPECT_FALSE(item.valuemap.empty());
    }
  }
}

// Launches the collector with its seven-word command line in the order run
// control reads it: mode, host, port, user, password, Zabbix host.
TEST(TemplateFile, ExternalCheckLaunchesTheCollectorInTheBackground) {
  std::vector<std::string> external;
  for (const auto &item : template_items(template_text()))
    if (item.type != "TRAP" && item.type != "DEPENDENT")
      external.push_back(item.type + " " + item.key);
  EXPECT_EQ(external,
            std::vector<std::string>{
                "EXTERNAL "
                "cgnat-collector[\"launch_discoveryLinux\",\"{HOST.CONN}\","
                "\"{$CGNAT.SSH.PORT}\",\"{$CGNAT.SSH.USER}\","
                "\"{$CGNAT.SSH.PASSWORD}\",\"{HOST.HOST}\"]"});
}

// Operators and tests choose the collection interval through one macro.
TEST(TemplateFile, ExternalCheckRunsAtTheIntervalMacroDefaultingToFiveMinutes) {
  std::string text = template_text();
  EXPECT_NE(text.find("type: EXTERNAL\n"), std::string::npos);
  size_t external = text.find("type: EXTERNAL\n");
  size_t next_item = text.find("- uuid:", external);
  EXPECT_NE(text.substr(external, next_item - external)
                .find("delay: '{$CGNAT.INTERVAL}'\n"),
            std::string::npos);
  EXPECT_NE(text.find("- macro: '{$CGNAT.INTERVAL}'\n"
                      "          value: 5m\n"),
            std::string::npos);
}

TEST(TemplateFile, EveryUserMacroUsedIsDefinedAndThePasswordIsSecret) {
  std::string text = template_text();
  std::set<std::string> used, defined;
  std::regex macro(R"(\{\$[A-Z0-9_.]+\})");
  for (std::sregex_iterator it(text.begin(), text.end(), macro), end; it != end;
       ++it)
    used.insert(it->str());
  std::regex definition(R"(- macro: '(\{\$[A-Z0-9_.]+\})')");
  for (std::sregex_iterator it(text.begin(), text.end(), definition), end;
       it != end; ++it)
    defined.insert((*it)[1]);
  EXPECT_EQ(used, defined);
  EXPECT_NE(text.find("- macro: '{$CGNAT.SSH.PASSWORD}'\n"
                      "          type: SECRET_TEXT"),
            std::string::npos);
}

TEST(TemplateFile, UuidsAreVersionFourAndUnique) {
  std::string text = template_text();
  std::regex uuid_line(R"(uuid: (\S+))");
  std::regex version_four("[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}");
  std::set<std::string> seen;
  for (std::sregex_iterator it(text.begin(), text.end(), uuid_line), end;
       it != end; ++it) {
    std::string uuid = (*it)[1];
    EXPECT_TRUE(std::regex_match(uuid, version_four)) << uuid;
    EXPECT_TRUE(seen.insert(uuid).second) << "repetido: " << uuid;
  }
  EXPECT_GT(seen.size(), 36u);
}

TEST(TemplateFile, TriggersReferToItemsOfThisTemplate) {
  std::string text = template_text();
  std::set<std::string> keys;
  for (const auto &item : template_items(text))
    keys.insert(item.key);
  std::regex reference(R"(/([^/]+)/([A-Za-z.]+)[,)])");
  for (const auto &expression : trigger_expressions(text)) {
    for (std::sregex_iterator
             it(expression.begin(), expression.end(), reference),
         end;
         it != end; ++it) {
      EXPECT_EQ((*it)[1], TEMPLATE) << expression;
      EXPECT_TRUE(keys.count((*it)[2])) << expression;
    }
  }
}

struct TriggerCase {
  std::string name;
  std::string call; // function and item reference that must appear
};

void PrintTo(const TriggerCase &c, std::ostream *os) { *os << c.name; }

class OperatorTrigger : public testing::TestWithParam<TriggerCase> {};

TEST_P(OperatorTrigger, IsPresent) {
  bool found = false;
  for (const auto &expression : trigger_expressions(template_text()))
    found = found || expression.find(GetParam().call) != std::string::npos;
  EXPECT_TRUE(found) << GetParam().call;
}

std::vector<TriggerCase> operator_triggers() {
  std::vector<TriggerCase> cases{
      {"table_full", "last(/" + TEMPLATE + "/tableFull)=1"},
      {"collection_stopped", "nodata(/" + TEMPLATE + "/activeSessions,"},
      {"table_use", "min(/" + TEMPLATE + "/activeSessions,#3)"},
      // A run that stops part-way (a metric the device no longer prints)
      // still delivers the first items; the last one shows the cut.
      {"collection_cut_short",
       "nodata(/" + TEMPLATE + "/" +
           std::string(cgnat::PUBLISHED_ITEMS.back().item_key) + ","}};
  // Every allocation-failure counter the collector sends must raise it,
  // through its rate over more than one interval.
  for (const auto &row : cgnat::PUBLISHED_ITEMS) {
    std::string key(row.item_key);
    if (key.rfind("failedAllocate", 0) == 0)
      cases.push_back({"growing_" + key, "min(/" + TEMPLATE + "/" + key +
                                             ".rate,#2)>{$CGNAT.ALLOC"});
  }
  return cases;
}

// Counters only ever grow; a gauge has no rate.
TEST(TemplateFile, EveryCumulativeCounterHasARateAndEveryItemADescription) {
  const std::set<std::string> gauges{
      "activeSessions",    "maximumTableSize",      "tableFull",
      "publicAddressUsed", "subscriberAddressUsed", "subscriberAddressMax"};
  std::set<std::string> expected, rates;
  for (const auto &row : cgnat::PUBLISHED_ITEMS)
    if (!gauges.count(std::string(row.item_key)))
      expected.insert(std::string(row.item_key) + ".rate");
  for (const auto &item : template_items(template_text())) {
    EXPECT_FALSE(item.description.empty()) << item.key;
    if (item.type != "DEPENDENT")
      continue;
    EXPECT_EQ(item.value_type, "FLOAT") << item.key;
    EXPECT_EQ(item.key.rfind(item.master + ".", 0), 0u) << item.key;
    if (item.key.size() > 5 && item.key.ends_with(".rate"))
      rates.insert(item.key);
  }
  EXPECT_EQ(rates, expected);
}

// Zabbix imports graphs and dashboards by name: each graph a widget names
// must exist, and the collection interval is the shared macro.
TEST(TemplateFile, DashboardWidgetsNameTheTemplateGraphs) {
  std::string text = template_text();
  std::set<std::string> graphs, widgets;
  std::regex graph(
      R"(\n    - uuid: \w+\n      name: '([^']+)'\n      graph_items:)");
  for (std::sregex_iterator it(text.begin(), text.end(), graph), end; it != end;
       ++it)
    graphs.insert((*it)[1]);
  std::regex widget(
      R"(name: graphid\n\s+value:\n\s+name: '([^']+)'\n\s+host: '([^']+)')");
  for (std::sregex_iterator it(text.begin(), text.end(), widget), end;
       it != end; ++it) {
    widgets.insert((*it)[1]);
    EXPECT_EQ((*it)[2], TEMPLATE);
  }
  EXPECT_EQ(widgets, graphs);
  EXPECT_EQ(graphs.size(), 6u);
  EXPECT_NE(text.find("delay: '{$CGNAT.INTERVAL}'"), std::string::npos);
  EXPECT_NE(text.find("- macro: '{$CGNAT.INTERVAL}'\n          value: 5m"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Template, OperatorTrigger,
                         testing::ValuesIn(operator_triggers()),
                         [](const auto &info) { return info.param.name; });

} // namespace

namespace {

// "type key value_type valuemap master timeout" of each item, sorted: the
// 7.0 export lists items in its own order and leaves out value types equal
// to its default, unsigned.
std::multiset<std::string> item_rows(const std::string &text,
                                     const std::string &default_type = "") {
  std::multiset<std::string> rows;
  for (const auto &item : template_items(text))
    rows.insert(item.type + " " + item.key + " " +
                (item.value_type.empty() ? default_type : item.value_type) +
                " " + item.valuemap + " " + item.master + " " + item.timeout);
  return rows;
}

// The 7.0 form is exported from a real 7.0 server by make_7.0.sh: a change
// to the 6.0 file without a new export shows here.
TEST(TemplateFile, SevenZeroFormHasTheSameItemsAndTriggersAndTheTimeout) {
  std::string six = template_text(),
              seven = template_text("cgnat_collector_7.0.yaml");
  auto expected = item_rows(six);
  std::multiset<std::string> adjusted;
  for (std::string row : expected)
    adjusted.insert(row.starts_with("EXTERNAL ") ? row + "30s" : row);
  EXPECT_EQ(item_rows(seven, "UNSIGNED"), adjusted);
  auto six_triggers = trigger_expressions(six),
       seven_triggers = trigger_expressions(seven);
  EXPECT_EQ(
      std::multiset<std::string>(six_triggers.begin(), six_triggers.end()),
      std::multiset<std::string>(seven_triggers.begin(), seven_triggers.end()));
  EXPECT_NE(seven.find("  version: '7.0'"), std::string::npos);
}

} // namespace
