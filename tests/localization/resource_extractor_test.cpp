#include "internal_libraries/localization/src/resource_extractor.h"

#include <platform/testing.h>
#include <zlib.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ResourceHelper::Extractor::Extract;

std::string ExtractText(const std::wstring& resource, const std::string& file) {
    const auto bytes = Extract(10, resource, file);
    return {bytes.begin(), bytes.end()};
}

// The message of the runtime error that `call` throws, and what it left on standard error.
template <typename Call>
std::pair<std::string, std::string> Failure(Call call) {
    testing::internal::CaptureStderr();
    std::string message = "(no error)";
    try {
        call();
    } catch (const std::runtime_error& error) {
        message = error.what();
    }
    return {message, testing::internal::GetCapturedStderr()};
}

TEST(Extract, GivesTheConfigurationOutOfTheProgramsResource) {
    const std::string config = ExtractText(L"localization", "config.json");
    EXPECT_EQ(config.size(), 127u);
    EXPECT_EQ(config.find('\n'), config.find("\r\n") + 1);  // CR LF line ends
    EXPECT_EQ(config.back(), '}');
    const auto json = nlohmann::json::parse(config);
    EXPECT_EQ(json.at("languages"),
              nlohmann::json::array({"English", "French", "German", "Spanish"}));
    EXPECT_EQ(json.at("version"), 1);
    // The stored name is upper case; names are found without regard to case.
    EXPECT_EQ(ExtractText(L"LOCALIZATION", "config.json"), config);
}

TEST(Extract, CataloguesCarryTheirHeaderFields) {
    const std::pair<const char*, const char*> catalogues[] = {
        {"English.mo", "Language: \n"},
        {"French.mo", "Language: fr\n"},
        {"German.mo", "Language: de\n"},
        {"Spanish.mo", "Language: es\n"},
    };
    for (const auto& [file, language] : catalogues) {
        SCOPED_TRACE(file);
        const std::string mo = ExtractText(L"localization", file);
        ASSERT_GE(mo.size(), 4u);
        EXPECT_EQ(mo.substr(0, 4), std::string("\xde\x12\x04\x95", 4));  // little-endian MO
        for (const char* field :
             {"MIME-Version: 1.0\n", "Content-Type: text/plain; charset=UTF-8\n",
              "Content-Transfer-Encoding: 8bit\n", language}) {
            EXPECT_NE(mo.find(field), std::string::npos) << field;
        }
        EXPECT_EQ(mo.find("Plural-Forms"), std::string::npos);
    }
}

TEST(Extract, ReportsEachFailureWithItsOwnText) {
    struct Case {
        const char* name;
        std::wstring resource;
        std::string file;
        const char* failing_call;  // made to fail with error 8, or null
        std::string message;
    };
    const Case cases[] = {
        {"italian catalogue", L"localization", "Italian.mo", nullptr, "no item in archive"},
        {"name with other case", L"localization", "english.mo", nullptr, "no item in archive"},
        {"unknown resource", L"no-such-resource", "config.json", nullptr,
         "failed to find resource"},
        {"no module", L"localization", "config.json", "GetModuleHandleW",
         "failed to get module handle"},
        {"load", L"localization", "config.json", "LoadResource", "failed to load resource"},
        {"lock", L"localization", "config.json", "LockResource", "failed to lock resource"},
        {"size", L"localization", "config.json", "SizeofResource",
         "failed to get size of resource. error=8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.failing_call != nullptr) {
            platform::testing::FailCall(c.failing_call, ERROR_NOT_ENOUGH_MEMORY, 1);
        }
        const auto [message, standard_error] = Failure([&] { Extract(10, c.resource, c.file); });
        platform::testing::ClearFailures();
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(standard_error, "");
    }
}

TEST(Extract, BytesThatAreNoZipLeaveOneWrapperMessage) {
    const auto [message, standard_error] =
        Failure([] { Extract(10, L"not_a_zip", "config.json"); });
    EXPECT_EQ(message, "failed to create zip archive from buffer");
    EXPECT_TRUE(standard_error.starts_with("can't open zip from source: ")) << standard_error;
    EXPECT_EQ(standard_error.find('\n'), standard_error.size() - 1) << standard_error;
}

TEST(Extract, AnEmptyEntryGivesAnEmptyVector) {
    EXPECT_TRUE(Extract(10, L"EMPTY_ENTRY", "empty.txt").empty());
}

// The localization zip, read byte by byte: stored entries, version 2.0, no flags, no extras.
TEST(LocalizationZip, HasTheLayoutTheProgramShipsWith) {
    const HRSRC resource = FindResourceW(nullptr, L"localization", RT_RCDATA);
    ASSERT_NE(resource, nullptr);
    const auto zip =
        ResourceHelper::Extractor::LoadResourceBytes(GetModuleHandleW(nullptr), resource);
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(zip.at(at)) |
                                          static_cast<unsigned char>(zip.at(at + 1)) << 8);
    };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::vector<std::string> names = {"config.json", "English.mo", "French.mo", "German.mo",
                                            "Spanish.mo"};

    std::size_t at = 0;
    std::vector<std::uint32_t> offsets;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        offsets.push_back(static_cast<std::uint32_t>(at));
        ASSERT_EQ(u32(at), 0x04034b50u);
        EXPECT_EQ(u16(at + 4), 20u);  // version needed
        EXPECT_EQ(u16(at + 6), 0u);   // flags
        EXPECT_EQ(u16(at + 8), 0u);   // stored
        const std::uint32_t size = u32(at + 22);
        EXPECT_EQ(u32(at + 18), size);  // compressed size
        EXPECT_EQ(u16(at + 28), 0u);    // extra field
        const std::size_t name_length = u16(at + 26);
        EXPECT_EQ(std::string(&zip[at + 30], name_length), name);
        const char* data = &zip[at + 30 + name_length];
        EXPECT_EQ(u32(at + 14), crc32(0, reinterpret_cast<const Bytef*>(data), size));
        EXPECT_EQ(std::vector<char>(data, data + size), Extract(10, L"localization", name));
        at += 30 + name_length + size;
    }
    const std::size_t directory = at;
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        ASSERT_EQ(u32(at), 0x02014b50u);
        EXPECT_EQ(u16(at + 6), 20u);
        EXPECT_EQ(u16(at + 8), 0u);
        EXPECT_EQ(u16(at + 10), 0u);
        EXPECT_EQ(u16(at + 30), 0u);  // extra field
        EXPECT_EQ(u16(at + 32), 0u);  // comment
        EXPECT_EQ(u32(at + 42), offsets[i]);
        EXPECT_EQ(std::string(&zip[at + 46], u16(at + 28)), names[i]);
        at += 46 + u16(at + 28);
    }
    ASSERT_EQ(u32(at), 0x06054b50u);
    EXPECT_EQ(u16(at + 10), names.size());
    EXPECT_EQ(u32(at + 12), at - directory);
    EXPECT_EQ(u32(at + 16), directory);
    EXPECT_EQ(u16(at + 20), 0u);  // archive comment
    EXPECT_EQ(at + 22, zip.size());
}

}  // namespace
