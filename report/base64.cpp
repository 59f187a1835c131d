#include "base64.h"

#include <cryptopp/base64.h>
#include <cryptopp/cryptlib.h>

#include <algorithm>
#include <stdexcept>

namespace {

// The coder is fed and drained in pieces, so its own queue never holds the whole text.
constexpr std::size_t kChunkSize = 3 * 1024 * 1024;

void Drain(CryptoPP::Base64Encoder& encoder, std::string& text) {
    const auto ready = static_cast<std::size_t>(encoder.MaxRetrievable());
    if (ready == 0) {
        return;
    }
    const auto old_size = text.size();
    text.resize(old_size + ready);
    encoder.Get(reinterpret_cast<CryptoPP::byte*>(text.data() + old_size), ready);
}

}  // namespace

void AppendBase64(std::string& text, const char* data, std::size_t length) {
    try {
        // No line breaks: the line length (72) then has no effect.
        CryptoPP::Base64Encoder encoder(nullptr, false, 72);
        text.reserve(text.size() + Base64Length(length));
        const auto* bytes = reinterpret_cast<const CryptoPP::byte*>(data);
        for (std::size_t offset = 0; offset < length; offset += kChunkSize) {
            encoder.Put(bytes + offset, std::min(kChunkSize, length - offset));
            Drain(encoder, text);
        }
        encoder.MessageEnd();
        Drain(encoder, text);
    } catch (const CryptoPP::Exception& error) {
        throw std::runtime_error(error.what());
    }
}

std::string Base64Encode(const char* data, std::size_t length) {
    std::string text;
    AppendBase64(text, data, length);
    return text;
}
