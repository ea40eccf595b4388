#include "patch/TransferLimits.h"

#include <algorithm>

namespace qr {

int ConnectionsForRun(int requested, const std::string& operatorValue) {
    int connections = requested > 0 ? std::min(requested, kMaxConnections) : kDefaultConnections;
    // Only plain small numbers lower it: "NULL", "0", "-2" or "six" leave the player's choice.
    const bool usable = !operatorValue.empty() && operatorValue.size() <= 3 &&
                        std::all_of(operatorValue.begin(), operatorValue.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (usable) {
        const int lowered = std::stoi(operatorValue);
        if (lowered > 0) connections = std::min(connections, lowered);
    }
    return connections;
}

}  // namespace qr
