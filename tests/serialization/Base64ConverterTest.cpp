#include "serialization/Base64Converter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "simulation/EnvironmentCodeWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using LumetraSerialization::Base64Converter::decode;

std::string failureOf(const std::string& text) {
    try {
        decode(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no failure";
}

TEST(Base64Decoding, DecodesPaddedGroups) {
    EXPECT_EQ(decode("QQ=="), (Bytes{0x41}));
    EXPECT_EQ(decode("QUI="), (Bytes{0x41, 0x42}));
    EXPECT_EQ(decode("QUJD"), (Bytes{0x41, 0x42, 0x43}));
}

TEST(Base64Decoding, ReadsAnUnpaddedTailAsPaddedAndIgnoresALoneLastCharacter) {
    EXPECT_EQ(decode("QQ"), (Bytes{0x41}));
    EXPECT_EQ(decode("QUI"), (Bytes{0x41, 0x42}));
    EXPECT_EQ(decode("QUJDR"), (Bytes{0x41, 0x42, 0x43}));
    EXPECT_TRUE(decode("").empty());
    EXPECT_TRUE(decode("Q").empty());
}

TEST(Base64Decoding, PaddingEndsOnlyItsOwnGroup) {
    EXPECT_EQ(decode("QQ==QUI="), (Bytes{0x41, 0x41, 0x42}));
    EXPECT_TRUE(decode("Q===").empty());
    EXPECT_EQ(decode("QQ=!"), (Bytes{0x41}));  // nothing after the first "=" is examined
}

TEST(Base64Decoding, RejectsAGroupStartingWithPaddingAndCharactersOutsideTheAlphabet) {
    EXPECT_EQ(failureOf("=AAA"), "LumetraSerialization error itemsCountToProcess <= ProcessingRawBufferBytesCount");
    EXPECT_EQ(failureOf("Q!=="), "Wrong base64 string");
    EXPECT_EQ(failureOf("QUJD QQ"), "Wrong base64 string");
}

TEST(Base64Decoding, AcceptsTheUrlSafeAlphabet) {
    EXPECT_EQ(decode("-_-_"), decode("+/+/"));
    EXPECT_EQ(decode("-_-_"), (Bytes{0xFB, 0xFF, 0xBF}));
}

TEST(Base64Decoding, InvertsStandardEncodingForEveryTailLength) {
    Bytes bytes;
    for (unsigned i = 0; i < 64; ++i) {
        EXPECT_EQ(decode(LumetraTest::encodeBase64(bytes)), bytes) << "length " << bytes.size();
        bytes.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    }
}

}  // namespace
