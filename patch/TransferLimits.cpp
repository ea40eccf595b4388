#include "patch/TransferLimits.h"

#include <algorithm>
#include <optional>

namespace qr {

std::optional<int> ParseConnections(const std::string& text) {
    // Plain small numbers only: "NULL", "0", "-2", "six" or "6 " are none.
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const int connections = std::stoi(text);
    if (connections < 1 || connections > kMaxConnections) return std::nullopt;
    return connections;
}

int ConnectionsForRun(int requested, const std::string& operatorValue) {
    int connections = requested > 0 ? std::min(requested, kMaxConnections) : kDefaultConnections;
    if (const std::optional<int> lowered = ParseConnections(operatorValue)) connections = std::min(connections, *lowered);
    return connections;
}

}  // namespace qr
