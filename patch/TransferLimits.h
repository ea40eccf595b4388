// The bounds every download of a run is held to while its bytes arrive, so that no server, mirror or
// network in between can fill the player's disk or keep a run waiting without end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/HttpClient.h"
#include "release/ReleaseNames.h"

namespace qr {

// The byte limits themselves are the release format's (kMaxPatchListBytes, kMaxDescriptionBytes,
// kMaxSignatureBytes, an item's signed size).

// The patch list, the description and its signature are small: all of each must arrive in this time.
inline constexpr unsigned kSmallDocumentDeadlineSeconds = 120;
// An item may be large, but must keep coming: less than this rate over the window breaks it.
inline constexpr unsigned kItemMinBytesPerSecond = 1024;
inline constexpr unsigned kItemRateWindowSeconds = 30;

// A small document: asked for compressed, at most `byteLimit` decoded bytes, within the deadline.
inline HttpRequestOptions SmallDocumentRequest(uint64_t byteLimit) {
    HttpRequestOptions options;
    options.acceptCompressed = true;
    options.maxBodyBytes = byteLimit;
    options.totalDeadlineSeconds = kSmallDocumentDeadlineSeconds;
    return options;
}

// An item: no more than its described size when the description gives one (0: not known), at the
// minimum rate.
inline HttpRequestOptions ItemRequest(uint64_t describedSize, HttpHeaders headers = {}) {
    HttpRequestOptions options;
    options.headers = std::move(headers);
    options.maxBodyBytes = describedSize;
    options.minBytesPerSecond = kItemMinBytesPerSecond;
    options.rateWindowSeconds = kItemRateWindowSeconds;
    return options;
}

// Items fetched at once over a run's connections: the default, and the most anyone may ask for.
inline constexpr int kDefaultConnections = 6;
inline constexpr int kMaxConnections = 16;
// Fetched items may wait for their turn to be committed at most this many per connection ahead.
inline constexpr int kItemsAheadPerConnection = 4;

// A number of connections as a player or an operator writes it; nothing unless it is 1 to kMaxConnections.
std::optional<int> ParseConnections(const std::string& text);
// The connections of a run: the player's wish (0: the default), lowered to the operator's
// "connections" value when the description gives a usable one.
int ConnectionsForRun(int requested, const std::string& operatorValue);

}  // namespace qr
