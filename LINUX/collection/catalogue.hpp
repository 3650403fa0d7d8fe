// The metric catalogue: every device label, metric key, discovery macro and
// item key the collector knows, in one place.
#pragma once

#include <array>
#include <string_view>

namespace cgnat {

struct LabelRow {
  std::string_view label; // as the device prints it
  std::string_view key;   // metric key
};

// Summary labels, matched case-sensitively in this order.
inline constexpr std::array<LabelRow, 11> chaves_summary{{
    {"Active sessions", "active_sessions"},
    {"Sessions created", "sessions_created"},
    {"Sessions destroyed", "sessions_destroyed"},
    {"Maximum table size", "maximum_table_size"},
    {"Table full", "table_full"},
    {"Translated packets", "translated_packets"},
    {"bytes", "bytes"},
    {"Unknown source addr or port", "unknown_source_addr_or_port"},
    {"CGNAT session", "cgnat_session"},
    {"CGNAT pool", "cgnat_pool"},
    {"Thread contention errors", "thread_contention_errors"},
}};

inline constexpr std::string_view TABLE_FULL_KEY = "table_full";

struct SectionFlag {
  std::string_view key;    // flag key
  std::string_view header; // the section header line that sets it
};

// The two summary sections; both flags start false in every run.
inline constexpr std::array<SectionFlag, 2> chaves_summary_1{{
    {"public_address_mapping_table", "Public address mapping table"},
    {"subscriber_addres_table", "Subscriber address table"},
}};

inline constexpr std::string_view PUBLIC_ADDRESS_USED = "public_address_used";
inline constexpr std::string_view SUBSCRIBER_ADDRESS_USED =
    "subscriber_address_used";
inline constexpr std::string_view SUBSCRIBER_ADDRESS_MAX =
    "subscriber_address_max";

// Error labels, matched case-blind in this order; the first match wins.
inline constexpr std::array<LabelRow, 13> chaves_errors{{
    {"Untranslatable ICMP message", "untranslatable_icmp_message"},
    {"Subscriber port-block limit", "subscriber_port_block_limit"},
    {"No free port-blocks on selected public address",
     "no_free_port_blocks_on_selected_public_address"},
    {"No free public addresses in NAT pool",
     "no_free_public_addresses_in_nat_pool"},
    {"Subscriber table full", "subscriber_table_full"},
    {"Mapping table full", "mapping_table_full"},
    {"Dest session table full", "dest_session_table_full"},
    {"Session table full", "session_table_full"},
    {"Failed to allocate session", "failed_to_allocate_session"},
    {"Failed to allocate destination session",
     "failed_to_allocate_destination_session"},
    {"Failed to allocate port block", "failed_to_allocate_port_block"},
    {"Failed to allocate public address", "failed_to_allocate_public_address"},
    {"Failed to allocate subscriber address",
     "failed_to_allocate_subscriber_address"},
}};

inline constexpr std::string_view INBOUND_SUFFIX = "_in";
inline constexpr std::string_view OUTBOUND_SUFFIX = "_out";

enum class Document { summary, errors };

struct PublishedItem {
  Document document;
  std::string_view metric_key; // key in the metric map
  std::string_view macro;      // discovery macro
  std::string_view item_key;   // Zabbix item key
};

// The 36 published items in send order: 14 summary, then 22 error items.
inline constexpr std::array<PublishedItem, 36> PUBLISHED_ITEMS{{
    {Document::summary, "active_sessions", "{#ACTIVE_SESSIONS}",
     "activeSessions"},
    {Document::summary, "sessions_created", "{#SESSIONS_CREATED}",
     "sessionsCreated"},
    {Document::summary, "sessions_destroyed", "{#SESSIONS_DESTROYED}",
     "sessionsDestroyed"},
    {Document::summary, "maximum_table_size", "{#MAXIMUM_TABLE_SIZE}",
     "maximumTableSize"},
    {Document::summary, "table_full", "{#TABLE_FULL}", "tableFull"},
    {Document::summary, "public_address_used", "{#PUBLIC_ADDRESS_USED}",
     "publicAddressUsed"},
    {Document::summary, "subscriber_address_used", "{#SUBSCRIBER_ADDRESS_USED}",
     "subscriberAddressUsed"},
    {Document::summary, "subscriber_address_max", "{#SUBSCRIBER_ADDRESS_MAX}",
     "subscriberAddressMax"},
    {Document::summary, "translated_packets", "{#TRANSLATED_PACKETS}",
     "translatedPackets"},
    {Document::summary, "bytes", "{#BYTES}", "bytes"},
    {Document::summary, "unknown_source_addr_or_port",
     "{#UNKNOWN_SOURCE_ADDR_OR_PORT}", "unknownSourceAddrOrPort"},
    {Document::summary, "cgnat_session", "{#CGNAT_SESSION}", "cgnatSessions"},
    {Document::summary, "cgnat_pool", "{#CGNAT_POOL}", "cgnatPool"},
    {Document::summary, "thread_contention_errors",
     "{#THREAD_CONTENTION_ERRORS}", "threadContentionErrors"},
    {Document::errors, "untranslatable_icmp_message_in",
     "{#UNTRANSLATABLE_ICMP_MESSAGE_IN}", "untranslatableICMPMessageIN"},
    {Document::errors, "untranslatable_icmp_message_out",
     "{#UNTRANSLATABLE_ICMP_MESSAGE_OUT}", "untranslatableICMPMessageOUT"},
    {Document::errors, "subscriber_port_block_limit_in",
     "{#SUBSCRIBER_PORT_BLOCK_LIMIT_IN}", "subscriberPortBlockLimitIN"},
    {Document::errors, "subscriber_port_block_limit_out",
     "{#SUBSCRIBER_PORT_BLOCK_LIMIT_OUT}", "subscriberPortBlockLimitOUT"},
    {Document::errors, "no_free_port_blocks_on_selected_public_address_in",
     "{#NO_FREE_PORT_BLOCKS_ON_SELECTED_PUBLIC_ADDRESS_IN}",
     "noFreePortBlocksPublicIN"},
    {Document::errors, "no_free_port_blocks_on_selected_public_address_out",
     "{#NO_FREE_PORT_BLOCKS_ON_SELECTED_PUBLIC_ADDRESS_OUT}",
     "noFreePortBlocksPublicOUT"},
    {Document::errors, "no_free_public_addresses_in_nat_pool_in",
     "{#NO_FREE_PUBLIC_ADDRESSES_IN_NAT_POOL_IN}", "noFreeNATPoolIN"},
    {Document::errors, "no_free_public_addresses_in_nat_pool_out",
     "{#NO_FREE_PUBLIC_ADDRESSES_IN_NAT_POOL_OUT}", "noFreeNATPoolOUT"},
    {Document::errors, "mapping_table_full_in", "{#MAPPING_TABLE_FULL_IN}",
     "mappingTableFullIN"},
    {Document::errors, "mapping_table_full_out", "{#MAPPING_TABLE_FULL_OUT}",
     "mappingTableFullOUT"},
    {Document::errors, "session_table_full_in", "{#SESSION_TABLE_FULL_IN}",
     "sessionsTableFullIN"},
    {Document::errors, "session_table_full_out", "{#SESSION_TABLE_FULL_OUT}",
     "sessionsTableFullOUT"},
    {Document::errors, "failed_to_allocate_session_in",
     "{#FAILED_TO_ALLOCATE_SESSION_IN}", "failedAllocateSessionIN"},
    {Document::errors, "failed_to_allocate_session_out",
     "{#FAILED_TO_ALLOCATE_SESSION_OUT}", "failedAllocateSessionOUT"},
    {Document::errors, "failed_to_allocate_destination_session_in",
     "{#FAILED_TO_ALLOCATE_DESTINATION_SESSION_IN}",
     "failedAllocateDestinationSessionIN"},
    {Document::errors, "failed_to_allocate_destination_session_out",
     "{#FAILED_TO_ALLOCATE_DESTINATION_SESSION_OUT}",
     "failedAllocateDestinationSessionOUT"},
    {Document::errors, "failed_to_allocate_port_block_in",
     "{#FAILED_TO_ALLOCATE_PORT_BLOCK_IN}", "failedAllocatePortBlockIN"},
    {Document::errors, "failed_to_allocate_port_block_out",
     "{#FAILED_TO_ALLOCATE_PORT_BLOCK_OUT}", "failedAllocatePortBlockOUT"},
    {Document::errors, "failed_to_allocate_public_address_in",
     "{#FAILED_TO_ALLOCATE_PUBLIC_ADDRESS_IN}",
     "failedAllocatePublicAddressIN"},
    {Document::errors, "failed_to_allocate_public_address_out",
     "{#FAILED_TO_ALLOCATE_PUBLIC_ADDRESS_OUT}",
     "failedAllocatePublicAddressOUT"},
    {Document::errors, "failed_to_allocate_subscriber_address_in",
     "{#FAILED_TO_ALLOCATE_SUBSCRIBER_ADDRESS_IN}",
     "failedAllocateSubscriberAddressIN"},
    {Document::errors, "failed_to_allocate_subscriber_address_out",
     "{#FAILED_TO_ALLOCATE_SUBSCRIBER_ADDRESS_OUT}",
     "failedAllocateSubscriberAddressOUT"},
}};

} // namespace cgnat
