// Reading whole HTTP bodies through the adaptor in tests, and bodies to serve.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/HttpClient.h"

namespace qr::test {

inline std::string RandomBody(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

struct Body {
    std::string bytes;
    ReadStatus last = ReadStatus::Error;
    size_t largestChunk = 0;
};

// Reads until End or Error, asking for more than a chunk so the adaptor's own limit shows.
inline Body ReadAll(HttpResponse& response) {
    Body body;
    char buffer[3 * kHttpChunkSize];
    for (;;) {
        ReadResult r = response.Read(buffer, sizeof buffer);
        body.last = r.status;
        if (r.status != ReadStatus::Data) return body;
        if (r.count == 0) ADD_FAILURE() << "Data with no bytes";
        body.largestChunk = std::max(body.largestChunk, r.count);
        body.bytes.append(buffer, r.count);
    }
}

}  // namespace qr::test
