#include "tests/zip/deflate_harness.h"

#include <algorithm>
#include <cstring>

namespace test_support {
namespace {

struct Sink {
    const std::string* input;
    std::size_t offset;
    std::size_t chunk;
    std::string output;
};

std::uint32_t Read(void* context, std::uint8_t* buffer, std::uint32_t size) {
    auto& sink = *static_cast<Sink*>(context);
    std::size_t count = std::min<std::size_t>(size, sink.input->size() - sink.offset);
    if (sink.chunk != 0) {
        count = std::min(count, sink.chunk);
    }
    std::memcpy(buffer, sink.input->data() + sink.offset, count);
    sink.offset += count;
    return static_cast<std::uint32_t>(count);
}

void Flush(void* context, const std::uint8_t* buffer, std::uint32_t& count) {
    static_cast<Sink*>(context)->output.append(reinterpret_cast<const char*>(buffer), count);
    count = 0;
}

}  // namespace

Compressed Compressor::Run(const std::string& input, int level, std::size_t chunk) {
    Sink sink{&input, 0, chunk, {}};
    const zip_deflate::Io io{&sink, Read, Flush, output_.data()};
    Compressed result{};
    std::uint16_t internal = 0;
    result.result = zip_deflate::Compress(*state_, io, level, result.flags, internal, result.size);
    result.bytes = std::move(sink.output);
    const char* const error = zip_deflate::LastError(*state_);
    result.error = error == nullptr ? "" : error;
    return result;
}

std::string RandomBytes(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::string LogText(std::size_t size) {
    std::string text;
    std::mt19937 random(7);
    for (int line = 0; text.size() < size; ++line) {
        text += "[03/04/21 10:15:" + std::to_string(10 + line % 50) + " " +
                std::to_string(100 + random() % 900) +
                "] [debug] [4242] [tallorin:zip.cpp:" + std::to_string(random() % 400) +
                "][SendAttachments]: crash_uuid=" + std::to_string(random()) + "\n";
    }
    text.resize(size);
    return text;
}

std::string Mix(std::mt19937& random, std::size_t size) {
    std::string out;
    while (out.size() < size) {
        switch (random() % 4) {
            case 0:
                out += RandomBytes(random, 1 + random() % 600);
                break;
            case 1:
                out.append(1 + random() % 700, static_cast<char>(random()));
                break;
            case 2:
                out += LogText(1 + random() % 2000);
                break;
            default:
                if (!out.empty()) {
                    const std::size_t from = random() % out.size();
                    const std::size_t length =
                        std::min<std::size_t>(1 + random() % 1000, out.size() - from);
                    out += out.substr(from, length);
                }
        }
    }
    out.resize(size);
    return out;
}

}  // namespace test_support
