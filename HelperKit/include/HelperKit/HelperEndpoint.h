#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// Where the helper is found and whom its clients accept as the helper. A plain value.
namespace helperkit {

struct HelperEndpoint {
    std::string busAddress;  // empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the default)
    std::string serviceName = "app.brimvale.helper";
    std::optional<uint32_t> requiredOwnerUid = 0;  // absent: any owner is accepted
    std::chrono::milliseconds batchTimeout{30000};
};

}  // namespace helperkit
