#include <gtest/gtest.h>

#include "platform/EcdsaDer.h"

namespace qr {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

EcdsaRawSignature RawOf(uint8_t rFirst, uint8_t sFirst, size_t leadingZeros = 0) {
    EcdsaRawSignature raw{};
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i + 1);
    for (size_t i = 0; i < leadingZeros; ++i) raw[i] = raw[kP256ScalarBytes + i] = 0;
    raw[leadingZeros] = rFirst;
    raw[kP256ScalarBytes + leadingZeros] = sFirst;
    return raw;
}

TEST(EcdsaDer, RoundTripsEveryShapeOfScalar) {
    // Top bit set (needs a 0x00 pad), clear, and short scalars with leading zero bytes.
    for (const auto& raw : {RawOf(0x80, 0xff), RawOf(0x7f, 0x01), RawOf(0x01, 0x80, 3), RawOf(0x05, 0x05, 31)}) {
        const std::string der = EcdsaRawToDer(raw);
        const auto back = EcdsaDerToRaw(der);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, raw);
    }
    const std::string padded = EcdsaRawToDer(RawOf(0x80, 0x01));
    EXPECT_EQ(padded.size(), 2u + 2 + 33 + 2 + 32);
    EXPECT_EQ(Bytes({0x30, 69, 0x02, 33, 0x00, 0x80}), padded.substr(0, 6));
    const std::string shortest = EcdsaRawToDer(RawOf(0x05, 0x05, 31));
    EXPECT_EQ(shortest, Bytes({0x30, 6, 0x02, 1, 5, 0x02, 1, 5}));
}

TEST(EcdsaDer, RefusesAnythingButOneStrictSequence) {
    const std::string good = Bytes({0x30, 6, 0x02, 1, 5, 0x02, 1, 7});
    ASSERT_TRUE(EcdsaDerToRaw(good));
    const std::string big(32, '\x11');
    const std::string tooBig = std::string("\x30\x46\x02\x21\x01", 5) + big + std::string("\x02\x21\x01", 3) + big;
    for (const std::string& bad : {
             std::string(), Bytes({0x30}), Bytes({0x30, 0}),
             good + Bytes({0}),                                   // trailing byte
             good.substr(0, good.size() - 1),                     // cut short
             Bytes({0x31, 6, 0x02, 1, 5, 0x02, 1, 7}),            // not a SEQUENCE
             Bytes({0x30, 7, 0x02, 1, 5, 0x02, 1, 7}),            // body length too long
             Bytes({0x30, 0x81, 6, 0x02, 1, 5, 0x02, 1, 7}),      // long-form length
             Bytes({0x30, 6, 0x03, 1, 5, 0x02, 1, 7}),            // not an INTEGER
             Bytes({0x30, 6, 0x02, 1, 0x85, 0x02, 1, 7}),         // negative r
             Bytes({0x30, 7, 0x02, 2, 0, 5, 0x02, 1, 7}),         // needless leading zero
             Bytes({0x30, 6, 0x02, 1, 0, 0x02, 1, 7}),            // r = 0
             Bytes({0x30, 6, 0x02, 1, 5, 0x02, 1, 0}),            // s = 0
             Bytes({0x30, 5, 0x02, 0, 0x02, 1, 7}),               // empty INTEGER
             Bytes({0x30, 6, 0x02, 1, 5, 0x02, 2, 7}),            // s runs past the end
             Bytes({0x30, 3, 0x02, 1, 5}),                        // one INTEGER only
             tooBig,                                               // 33 significant bytes
         }) {
        EXPECT_FALSE(EcdsaDerToRaw(bad)) << testing::PrintToString(bad);
    }
}

}  // namespace
}  // namespace qr
