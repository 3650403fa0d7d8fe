// The 36 values a run over device_simulator/samples delivers.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// What the sample outputs in device_simulator/samples must become, read off
// those files by hand, in the order the values go out.
inline const std::vector<std::pair<std::string, std::string>> SAMPLE_VALUES{
    {"activeSessions", "1234"}, // "~1234" on the device
    {"sessionsCreated", "98765432"},
    {"sessionsDestroyed", "98764198"},
    {"maximumTableSize", "4194304"},
    {"tableFull", "0"}, // "no", wrapped in colour codes
    {"publicAddressUsed", "187"},
    {"subscriberAddressUsed", "15230"},
    {"subscriberAddressMax", "65536"},
    {"translatedPackets", "1234567890"},
    {"bytes", "987654321098"},
    {"unknownSourceAddrOrPort", "12"},
    {"cgnatSessions", "3"}, // "~3" on the device
    {"cgnatPool", "0"},
    {"threadContentionErrors", "5"},
    {"untranslatableICMPMessageIN", "12"},
    {"untranslatableICMPMessageOUT", "3"},
    {"subscriberPortBlockLimitIN", "0"},
    {"subscriberPortBlockLimitOUT", "0"},
    {"noFreePortBlocksPublicIN", "5"},
    {"noFreePortBlocksPublicOUT", "1"},
    {"noFreeNATPoolIN", "0"},
    {"noFreeNATPoolOUT", "0"},
    {"mappingTableFullIN", "2"},
    {"mappingTableFullOUT", "0"},
    {"sessionsTableFullIN", "7"}, // not the "Dest session table full" line
    {"sessionsTableFullOUT", "9"},
    {"failedAllocateSessionIN", "1"},
    {"failedAllocateSessionOUT", "1"},
    {"failedAllocateDestinationSessionIN", "0"},
    {"failedAllocateDestinationSessionOUT", "0"},
    {"failedAllocatePortBlockIN", "3"},
    {"failedAllocatePortBlockOUT", "0"},
    {"failedAllocatePublicAddressIN", "0"},
    {"failedAllocatePublicAddressOUT", "0"},
    {"failedAllocateSubscriberAddressIN", "0"},
    {"failedAllocateSubscriberAddressOUT", "2"},
};

} // namespace testing_support
