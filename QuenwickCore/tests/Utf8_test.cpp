#include "QuenwickCore/Utf8.h"

#include <gtest/gtest.h>

#include "QuenwickCore/ByteFormat.h"

namespace utf8 = quenwick::utf8;

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
    EXPECT_EQ(utf8::display("plain"), "plain");
    EXPECT_EQ(utf8::display("a\xFF"
                            "b"),
              "a" + kFffd + "b");
    EXPECT_EQ(utf8::display("\xE2\x82"), kFffd);  // truncated 3-byte sequence
    EXPECT_EQ(utf8::display("\xE2\x82"
                            "x"),
              kFffd + "x");
    EXPECT_EQ(utf8::display("\xC0\xAF"), kFffd + kFffd);                          // overlong
    EXPECT_EQ(utf8::display("\xED\xA0\x80"), kFffd + kFffd + kFffd);              // surrogate
    EXPECT_EQ(utf8::display("\xF4\x90\x80\x80"), kFffd + kFffd + kFffd + kFffd);  // > U+10FFFF
    EXPECT_TRUE(utf8::isValid("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(utf8::isValid("\xF0\x9F\x98"));
    EXPECT_TRUE(utf8::isValid(utf8::display("\x80\x80\xFE")));
}

TEST(Utf8, CanonicalEquivalenceOnlyForValidText) {
    EXPECT_TRUE(utf8::canonicallyEqual("caf\xC3\xA9", "cafe\xCC\x81"));
    EXPECT_FALSE(utf8::canonicallyEqual("cafe", "caf\xC3\xA9"));
    EXPECT_FALSE(utf8::canonicallyEqual("\xFF", "\xFE"));
    EXPECT_TRUE(utf8::canonicallyEqual("\xFF", "\xFF"));
    EXPECT_EQ(utf8::nfc("\xFF"), std::nullopt);
}

TEST(Utf8, Base64RoundTripsEveryLengthAndRejectsGarbage) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        const auto encoded = utf8::base64(bytes);
        EXPECT_EQ(encoded.size() % 4, 0u);
        EXPECT_EQ(utf8::fromBase64(encoded), bytes);
        bytes += static_cast<char>(i * 37);
    }
    EXPECT_EQ(utf8::base64("\xFF\xFE"), "//4=");
    EXPECT_EQ(utf8::fromBase64("abc"), std::nullopt);
    EXPECT_EQ(utf8::fromBase64("a=bc"), std::nullopt);
    EXPECT_EQ(utf8::fromBase64("ab!c"), std::nullopt);
}

TEST(ByteFormat, DecimalUnitsWithOneDecimal) {
    EXPECT_EQ(quenwick::formatBytes(0), "0 bytes");
    EXPECT_EQ(quenwick::formatBytes(1), "1 byte");
    EXPECT_EQ(quenwick::formatBytes(999), "999 bytes");
    EXPECT_EQ(quenwick::formatBytes(1000), "1.0 kB");
    EXPECT_EQ(quenwick::formatBytes(4096), "4.1 kB");
    EXPECT_EQ(quenwick::formatBytes(999'950), "1.0 MB");
    EXPECT_EQ(quenwick::formatBytes(1'234'567'890), "1.2 GB");
    EXPECT_EQ(quenwick::formatBytes(UINT64_MAX), "18.4 EB");
}

TEST(ByteFormat, BinaryUnitsRoundIntoTheNextUnitAndExactCountsStayWhole) {
    using quenwick::ByteUnits;
    EXPECT_EQ(quenwick::formatBytes(1000, ByteUnits::binary), "1000 bytes");
    EXPECT_EQ(quenwick::formatBytes(4096, ByteUnits::binary), "4.0 KiB");
    EXPECT_EQ(quenwick::formatBytes(1536 * 1024, ByteUnits::binary), "1.5 MiB");
    EXPECT_EQ(quenwick::formatBytes(1024 * 1024 - 10, ByteUnits::binary), "1.0 MiB");
    EXPECT_EQ(quenwick::formatBytes(UINT64_MAX, ByteUnits::binary), "16.0 EiB");
    EXPECT_EQ(quenwick::formatBytes(UINT64_MAX, ByteUnits::exact), "18446744073709551615");
    EXPECT_EQ(quenwick::formatBytes(4096, ByteUnits::decimal), "4.1 kB");
}

}  // namespace
