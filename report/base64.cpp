#include "report/base64.h"

#include <cryptopp/base64.h>
#include <cryptopp/cryptlib.h>
#include <cryptopp/filters.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The coder runs at about 100 MB/s, which for a dump or an archive of tens of megabytes is a
// good part of the time the window stays frozen. Base64 turns every three bytes into four
// letters on their own, so pieces cut at multiples of three bytes are coded apart, each into
// its own place in the text, and the pieces put together are the text of one pass; only the
// last piece may end in padding. Several threads code the pieces of a large input.
constexpr std::size_t kPieceSize = 3 * 64 * 1024;  // a multiple of three
static_assert(kPieceSize % 3 == 0);
constexpr unsigned kMostThreads = 8;

// Codes `length` bytes into `out`, which holds exactly Base64Length(length) characters. The
// encoder writes straight there: no queue of its own holds the text.
void EncodeInto(const CryptoPP::byte* bytes, std::size_t length, char* out) {
    // No line breaks: the line length (72) then has no effect.
    CryptoPP::Base64Encoder encoder(
        new CryptoPP::ArraySink(reinterpret_cast<CryptoPP::byte*>(out), Base64Length(length)),
        false, 72);
    encoder.Put(bytes, length);
    encoder.MessageEnd();
}

// The first failure of any piece, rethrown on the caller's thread.
class FirstFailure {
public:
    void Keep(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        if (!failure_) {
            failure_ = std::move(failure);
        }
    }
    bool Any() const {
        const std::lock_guard lock(mutex_);
        return failure_ != nullptr;
    }
    void Rethrow() const {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

private:
    mutable std::mutex mutex_;
    std::exception_ptr failure_;
};

void EncodePieces(const CryptoPP::byte* bytes, std::size_t length, char* out) {
    const std::size_t pieces = (length + kPieceSize - 1) / kPieceSize;
    std::atomic<std::size_t> next{0};
    FirstFailure failure;
    const auto work = [&] {
        for (std::size_t piece = next++; piece < pieces && !failure.Any(); piece = next++) {
            const std::size_t offset = piece * kPieceSize;
            try {
                EncodeInto(bytes + offset, std::min(kPieceSize, length - offset),
                           out + offset / 3 * 4);
            } catch (...) {
                failure.Keep(std::current_exception());
            }
        }
    };
    const unsigned threads = std::min<std::size_t>(
        {std::max(1u, std::thread::hardware_concurrency()), kMostThreads, pieces});
    std::vector<std::jthread> helpers;
    for (unsigned index = 1; index < threads; ++index) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads now: the ones there, and this one, do all the pieces
        }
    }
    work();
    helpers.clear();  // joins
    failure.Rethrow();
}

}  // namespace

void AppendBase64(std::string& text, const char* data, std::size_t length) {
    if (length == 0) {
        return;
    }
    const std::size_t old_size = text.size();
    text.resize(old_size + Base64Length(length));
    try {
        EncodePieces(reinterpret_cast<const CryptoPP::byte*>(data), length, text.data() + old_size);
    } catch (const CryptoPP::Exception& error) {
        text.resize(old_size);
        throw std::runtime_error(error.what());
    } catch (...) {
        text.resize(old_size);
        throw;
    }
}

std::string Base64Encode(const char* data, std::size_t length) {
    std::string text;
    AppendBase64(text, data, length);
    return text;
}
