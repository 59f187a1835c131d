#include "report/base64.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Base64Encode, GivesTheTextOfRfc4648) {
    struct Case {
        std::string bytes;
        const char* text;
    };
    const Case kCases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xfb\xff\x00", 3), "+/8A"},  // the last two letters of the alphabet
    };
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(Base64Encode(kCases[index].bytes.data(), kCases[index].bytes.size()),
                  kCases[index].text);
    }
}

TEST(Base64Encode, WritesLongInputOnOneLineThatDecodesBack) {
    // Longer than one piece of the coder's feed, and not a multiple of three.
    std::string bytes(7 * 1024 * 1024 + 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7919) >> 3);
    }
    const auto text = Base64Encode(bytes.data(), bytes.size());
    EXPECT_EQ(text.size(), Base64Length(bytes.size()));
    EXPECT_EQ(
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
        std::string::npos);

    CryptoPP::Base64Decoder decoder;
    decoder.Put(reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
    decoder.MessageEnd();
    std::string decoded(static_cast<std::size_t>(decoder.MaxRetrievable()), '\0');
    decoder.Get(reinterpret_cast<CryptoPP::byte*>(decoded.data()), decoded.size());
    EXPECT_TRUE(decoded == bytes);
}

// Large input is coded in pieces, on several threads: put together, they are the text one
// pass of Crypto++'s coder gives, whatever length remains after the last whole piece.
TEST(Base64Encode, GivesTheTextOfOnePassOfTheCoder) {
    constexpr std::size_t kPiece = 3 * 64 * 1024;
    const std::size_t lengths[] = {kPiece - 1, kPiece,         kPiece + 1,
                                   kPiece + 2, 5 * kPiece + 1, 20 * 1024 * 1024 + 2};
    for (const std::size_t length : lengths) {
        SCOPED_TRACE(length);
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
        }
        std::string one_pass;
        CryptoPP::StringSource(
            bytes, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(one_pass), false));
        EXPECT_TRUE(Base64Encode(bytes.data(), bytes.size()) == one_pass);
    }
}

TEST(AppendBase64, KeepsWhatTheTextHeld) {
    std::string text = "prefix:";
    AppendBase64(text, "foobar", 6);
    EXPECT_EQ(text, "prefix:Zm9vYmFy");
}

}  // namespace
