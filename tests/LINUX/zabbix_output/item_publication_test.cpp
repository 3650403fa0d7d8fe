#include "LINUX/collection/catalogue.hpp"
#include "LINUX/run_control/end_process.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"
#include "tarnlibrary/process_library/process_library.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/support/loopback.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using Send = std::pair<std::string, std::string>;

struct Outcome {
  std::vector<Send> sends;
  std::string out, err;
  int status = -1;
};

Outcome publish(const cgnat::DiscoveryDocument &summary,
                const cgnat::DiscoveryDocument &errors) {
  Outcome outcome;
  CaptureStdout();
  CaptureStderr();
  try {
    cgnat::publish_items(
        summary, errors,
        [&](const std::string &chave, const std::string &item) {
          outcome.sends.emplace_back(chave, item);
        });
  } catch (const cgnat::EndProcess &end) {
    outcome.status = end.status;
  }
  outcome.out = GetCapturedStdout();
  outcome.err = GetCapturedStderr();
  return outcome;
}

std::string row_value(size_t row) { return "v" + std::to_string(row); }

// Documents holding every published macro; row i's value is "v<i>", except
// the table-full flag, which is an integer.
struct Documents {
  cgnat::DiscoveryDocument summary{cgnat::MetricMap{}};
  cgnat::DiscoveryDocument errors{cgnat::MetricMap{}};
};
Documents full_documents(int table_full) {
  Documents documents;
  for (size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i) {
    const auto &row = cgnat::PUBLISHED_ITEMS[i];
    auto &map = row.document == cgnat::Document::summary ? documents.summary[0]
                                                         : documents.errors[0];
    if (row.item_key == "tableFull")
      map.store(row.macro, table_full);
    else
      map.store(row.macro, row_value(i));
  }
  return documents;
}

struct Case {
  std::string name;
  int table_full = 0;
  std::vector<std::string> removed{}; // macros taken out of the documents
  bool extras = false;                // unpublished macros added
  bool empty_summary = false;         // the summary document holds no map
  std::string err{};                  // expected standard error
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const Case CASES[] = {
    {"all_present_flag_0", 0},
    {"all_present_flag_1", 1},
    {"unpublished_and_extra_macros_ignored", 1, {}, true},
    {"table_full_missing",
     0,
     {"{#TABLE_FULL}"},
     false,
     false,
     "Erro: métricas ausentes na saída do equipamento: {#TABLE_FULL} "
     "(tableFull)\n"},
    {"two_error_macros_missing",
     1,
     {"{#MAPPING_TABLE_FULL_IN}", "{#MAPPING_TABLE_FULL_OUT}"},
     false,
     false,
     "Erro: métricas ausentes na saída do equipamento: "
     "{#MAPPING_TABLE_FULL_IN} (mappingTableFullIN), "
     "{#MAPPING_TABLE_FULL_OUT} (mappingTableFullOUT)\n"},
    {"first_and_last_missing",
     0,
     {"{#FAILED_TO_ALLOCATE_SUBSCRIBER_ADDRESS_OUT}", "{#ACTIVE_SESSIONS}"},
     false,
     false,
     "Erro: métricas ausentes na saída do equipamento: {#ACTIVE_SESSIONS} "
     "(activeSessions), {#FAILED_TO_ALLOCATE_SUBSCRIBER_ADDRESS_OUT} "
     "(failedAllocateSubscriberAddressOUT)\n"},
};

class Publication : public testing::TestWithParam<Case> {};

TEST_P(Publication, SendsEveryPresentRowInOrderAndReportsTheRest) {
  const Case &c = GetParam();
  Documents documents = full_documents(c.table_full);
  for (const auto &macro : c.removed)
    for (auto *map : {&documents.summary[0], &documents.errors[0]})
      std::erase_if(map->entries(),
                    [&](const auto &entry) { return entry.first == macro; });
  if (c.extras) {
    documents.summary[0].store("{#PUBLIC_ADDRESS_MAPPING_TABLE}", "x");
    documents.errors[0].store("{#SUBSCRIBER_TABLE_FULL_IN}", "x");
    documents.errors[0].store("{#SUBSCRIBER_TABLE_FULL_OUT}", "x");
    documents.errors[0].store("{#DEST_SESSION_TABLE_FULL_IN}", "x");
    documents.errors[0].store("{#DEST_SESSION_TABLE_FULL_OUT}", "x");
  }

  Outcome outcome = publish(documents.summary, documents.errors);

  std::vector<Send> expected;
  for (size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i) {
    const auto &row = cgnat::PUBLISHED_ITEMS[i];
    if (std::find(c.removed.begin(), c.removed.end(), row.macro) !=
        c.removed.end())
      continue;
    expected.emplace_back(row.item_key, row.item_key == "tableFull"
                                            ? std::to_string(c.table_full)
                                            : row_value(i));
  }
  EXPECT_EQ(outcome.sends, expected);
  EXPECT_EQ(outcome.sends.size(), 36 - c.removed.size());
  EXPECT_EQ(outcome.out, c.removed.empty() ? "OK\n" : "");
  EXPECT_EQ(outcome.err, c.err);
  EXPECT_EQ(outcome.status, c.removed.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Items, Publication, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

TEST(PublicationOrder, LandmarkRowsOfTheSendTable) {
  Documents documents = full_documents(1);
  Outcome outcome = publish(documents.summary, documents.errors);
  ASSERT_EQ(outcome.sends.size(), 36u);
  EXPECT_EQ(outcome.sends[0], Send("activeSessions", "v0"));
  EXPECT_EQ(outcome.sends[4], Send("tableFull", "1"));
  EXPECT_EQ(outcome.sends[5].first, "publicAddressUsed");
  EXPECT_EQ(outcome.sends[11].first, "cgnatSessions");
  EXPECT_EQ(outcome.sends[13].first, "threadContentionErrors");
  EXPECT_EQ(outcome.sends[14].first, "untranslatableICMPMessageIN");
  EXPECT_EQ(outcome.sends[22].first, "mappingTableFullIN");
  EXPECT_EQ(outcome.sends[23].first, "mappingTableFullOUT");
  EXPECT_EQ(outcome.sends[35].first, "failedAllocateSubscriberAddressOUT");
}

TEST(PublicationDocuments, EmptySummaryDocumentStillSendsErrorItems) {
  Documents documents = full_documents(0);
  documents.summary.clear();
  Outcome outcome = publish(documents.summary, documents.errors);
  ASSERT_EQ(outcome.sends.size(), 22u);
  EXPECT_EQ(outcome.sends[0].first, "untranslatableICMPMessageIN");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  for (const auto &row : cgnat::PUBLISHED_ITEMS) {
    if (row.document == cgnat::Document::summary) {
      EXPECT_NE(outcome.err.find(std::string(row.macro) + " (" +
                                 std::string(row.item_key) + ")"),
                std::string::npos)
          << row.macro;
    }
  }
}

TEST(PublicationDocuments, TimeoutDuringASendStopsPublication) {
  Documents documents = full_documents(0);
  int calls = 0;
  CaptureStdout();
  EXPECT_THROW(cgnat::publish_items(documents.summary, documents.errors,
                                    [&](const auto &, const auto &) {
                                      if (++calls == 3)
                                        throw tarn::TimeoutException(300);
                                    }),
               tarn::TimeoutException);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(calls, 3);
}

// A whole publication through the run's own sender to server: its standard
// output and status.
Outcome publish_to(const std::string &server) {
  cgnat::RunSettings run;
  run.zabbix_host = "cgnat-test";
  run.zabbix_server = server;
  cgnat::set_settings(run);
  Documents documents = full_documents(0);
  Outcome outcome;
  CaptureStdout();
  try {
    cgnat::publish_items(documents.summary, documents.errors);
  } catch (const cgnat::EndProcess &end) {
    outcome.status = end.status;
  }
  outcome.out = GetCapturedStdout();
  return outcome;
}

TEST(PublicationDelivery, EveryDeliveryFailingStillEndsWithOK) {
  // Each delivery is refused at once.
  std::string server = "127.0.0.1:" + testing_support::closed_port();
  Outcome outcome = publish_to(server);
  std::string line = "Ocorreu um erro ao enviar os itens para o zabbix "
                     "servidor Zabbix " +
                     server + ": conexão recusada (nada escuta nessa porta?)\n";
  std::string expected;
  for (int i = 0; i < 36; ++i)
    expected += line;
  EXPECT_EQ(outcome.out, expected + "OK\n");
  EXPECT_EQ(outcome.status, 0);
}

// A Zabbix 7.0 proxy group: the configured proxy answers each value with the
// address of the proxy that monitors the host.
using Line = std::string (*)(const std::string &first,
                             const std::string &second);

struct RedirectCase {
  std::string name;
  std::string target; // empty: the second trapper's address
  bool second_redirects_back = false;
  Line line = nullptr; // a failed item's line; none: every value delivered
};
void PrintTo(const RedirectCase &c, std::ostream *os) { *os << c.name; }

const RedirectCase REDIRECT_CASES[] = {
    {"one_redirect_per_run", "", false},
    {"loop", "", true,
     [](const std::string &first, const std::string &second) {
       return "servidor Zabbix " + first + " redirecionou para " + second +
              ", que redirecionou de novo para \"" + first +
              "\": só um redirecionamento por valor é seguido";
     }},
    {"malformed_address", "proxy-2:99999", false,
     [](const std::string &first, const std::string &) {
       return "servidor Zabbix " + first +
              ": redirecionamento recusado: endereço do servidor Zabbix "
              "inválido \"proxy-2:99999\": porta deve ser um número de 1 a "
              "65535";
     }},
};

class PublicationRedirect : public testing::TestWithParam<RedirectCase> {};

TEST_P(PublicationRedirect, OneRedirectPerRunOrOneLinePerItem) {
  const RedirectCase &c = GetParam();
  std::string first_address;
  testing_support::FakeTrapper second([&](size_t) {
    return c.second_redirects_back
               ? testing_support::trapper_redirect(first_address)
               : testing_support::trapper_success();
  });
  std::string target = c.target.empty() ? second.address() : c.target;
  testing_support::FakeTrapper first(
      [&](size_t) { return testing_support::trapper_redirect(target); });
  first_address = first.address();
  Outcome outcome = publish_to(first.address());

  EXPECT_EQ(outcome.status, 0);
  if (!c.line) {
    EXPECT_EQ(outcome.out, "OK\n");
    EXPECT_EQ(first.requests().size(), 1u);
    ASSERT_EQ(second.items().size(), 36u);
    for (size_t i = 0; i < 36; ++i)
      EXPECT_EQ(second.items()[i].key, cgnat::PUBLISHED_ITEMS[i].item_key);
    return;
  }
  std::string expected;
  for (int i = 0; i < 36; ++i)
    expected += "Ocorreu um erro ao enviar os itens para o zabbix " +
                c.line(first.address(), second.address()) + "\n";
  EXPECT_EQ(outcome.out, expected + "OK\n");
  EXPECT_EQ(first.requests().size(), 36u);
  EXPECT_EQ(second.requests().size(), c.second_redirects_back ? 36u : 0u);
}

INSTANTIATE_TEST_SUITE_P(ProxyGroup, PublicationRedirect,
                         testing::ValuesIn(REDIRECT_CASES),
                         [](const auto &info) { return info.param.name; });

} // namespace
