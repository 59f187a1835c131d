#include "report/report_json.h"

#include <platform/testing.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/path_conversion.h"
#include "common/scoped_handle.h"
#include "common/text_conversion.h"
#include "report/base64.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using nlohmann::json;

class ReportJson : public ::testing::Test {
protected:
    ReportJson() {
        request_.product_name = L"Velmora Antivirus";
        request_.product_version = "14.3.43577.3505";
        request_.crash_info_dir_path = folder_ / "crash_info";
        request_.logs_dir_path = folder_ / "logs";
        request_.crash_uuid = "3f0c2b7e-9a41-4c55-8d2e-51b0f6a9c1d4";
        request_.tester_email = L"user@example.com";
        request_.description = L"it crashed";
        request_.user_agent = "Quorbelin-Velmora Antivirus-14.3.43577.3505";
        platform::testing::SetUserDefaultLCID(0x0807);
    }
    ~ReportJson() override { platform::testing::Reset(); }

    void WriteDump(const std::string& bytes) {
        test_support::WriteFile(MakeDumpPath(request_.crash_info_dir_path, request_.crash_uuid),
                                bytes);
    }

    test_support::TempDir folder_;
    BugReportRequest request_;
};

TEST_F(ReportJson, WritesEveryKeyOnceInOrderCompactly) {
    OSVERSIONINFOEXW version{};
    version.dwMajorVersion = 10;
    version.dwBuildNumber = 19045;
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    version.wProductType = VER_NT_WORKSTATION;
    platform::testing::SetVersionRecord(version);
    WriteDump("MDMP");

    const auto text = BuildReportJson(request_);
    const auto report = json::parse(text);
    EXPECT_EQ(report.dump(), text);  // compact, keys ascending, the library's own escapes
    std::vector<std::string> keys;
    for (const auto& item : report.items()) {
        keys.push_back(item.key());
    }
    const std::vector<std::string> expected = {
        "attach-data", "attach-name",    "available-space", "cpu", "description",  "installed-path",
        "os-language", "product-name",   "product-version", "ram", "tester-email", "tester-name",
        "title",       "windows-version"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(text.rfind(R"({"attach-data":"TURNUA==","attach-name":"crash.dmp",)", 0), 0u);

    EXPECT_EQ(report["title"], "Velmora Antivirus Crash Report");
    EXPECT_EQ(report["product-name"], "Velmora Antivirus");
    EXPECT_EQ(report["product-version"], "14.3.43577.3505");
    EXPECT_EQ(report["tester-name"], "");
    EXPECT_EQ(report["tester-email"], "user@example.com");
    EXPECT_EQ(report["description"], "it crashed");
    EXPECT_EQ(report["windows-version"], "Microsoft Windows 10  (build 19045), 64-bit");
    EXPECT_EQ(report["installed-path"], test_support::BinaryFolder().string());
    EXPECT_EQ(report["os-language"], "de");
    EXPECT_TRUE(report["ram"].is_number_integer());
    EXPECT_GT(report["ram"].get<std::int64_t>(), 0);
    EXPECT_TRUE(report["available-space"].is_number_integer());
    EXPECT_TRUE(report["cpu"].is_string());
}

TEST_F(ReportJson, EscapesTheDescriptionOnly) {
    struct Case {
        const wchar_t* description;
        const char* sent;
    };
    constexpr Case kCases[] = {
        {L"&\"'<>", "&amp;&quot;&apos;&lt;&gt;"},
        {L"&lt;", "&amp;lt;"},
        {L"a < b && c", "a &lt; b &amp;&amp; c"},
        {L"first line\nsecond line", "first line\nsecond line"},
        {L"Grüße, ça plante", "Grüße, ça plante"},
        {L"", ""},
    };
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        request_.description = kCases[index].description;
        EXPECT_EQ(json::parse(BuildReportJson(request_))["description"], kCases[index].sent);
    }

    request_.description = L"first line\nsecond line \"quoted\" Grüße";
    request_.product_name = L"A&B <Tools>";
    request_.tester_email = L"";
    const auto text = BuildReportJson(request_);
    // The JSON escape of a line feed; non-ASCII text in UTF-8 as it is.
    EXPECT_NE(text.find(R"("description":"first line\nsecond line &quot;quoted&quot; Grüße")"),
              std::string::npos);
    const auto report = json::parse(text);
    EXPECT_EQ(report["title"], "A&B <Tools> Crash Report");
    EXPECT_EQ(report["product-name"], "A&B <Tools>");
    EXPECT_EQ(report["tester-email"], "");
}

TEST_F(ReportJson, TitleOfAnEmptyProductNameStartsWithTheBlank) {
    request_.product_name.clear();
    EXPECT_EQ(json::parse(BuildReportJson(request_))["title"], " Crash Report");
}

TEST_F(ReportJson, CarriesTheDumpInBase64) {
    // No dump: the report is still made, with empty data under the usual name.
    auto report = json::parse(BuildReportJson(request_));
    EXPECT_EQ(report["attach-data"], "");
    EXPECT_EQ(report["attach-name"], "crash.dmp");

    std::string dump(100, '\0');
    for (std::size_t i = 0; i < dump.size(); ++i) {
        dump[i] = static_cast<char>(255 - i * 3);
    }
    WriteDump(dump);
    report = json::parse(BuildReportJson(request_));
    const auto data = report["attach-data"].get<std::string>();
    EXPECT_EQ(data.size(), 136u);
    EXPECT_EQ(data, Base64Encode(dump.data(), dump.size()));

    WriteDump("");
    EXPECT_EQ(json::parse(BuildReportJson(request_))["attach-data"], "");
}

// The archive as the attachment step holds it: a handle of the file it wrote.
ScopedHandle OpenArchive(const std::filesystem::path& archive) {
    return ScopedHandle(CreateFileW(PathToWide(archive).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST_F(ReportJson, AttachmentListsTheArchiveFirst) {
    const auto archive = request_.crash_info_dir_path / (request_.crash_uuid + ".zip");
    test_support::WriteFile(archive, "PK\x05\x06");
    const ScopedHandle file = OpenArchive(archive);
    ASSERT_TRUE(file);
    const std::wstring name = Utf8ToUtf16(request_.crash_uuid + ".zip");
    const auto text = BuildAttachmentJson(4294967295u, request_, name, file.get());
    EXPECT_EQ(text, R"({"files":[{"attach-data":"UEsFBg==","file-name":")" + request_.crash_uuid +
                        R"(.zip"}],"id":4294967295,"product-name":"Velmora Antivirus"})");
    // Read from the start, wherever the handle stands.
    EXPECT_EQ(BuildAttachmentJson(4294967295u, request_, name, file.get()), text);

    // An archive that cannot be read gives empty data; the rest stays.
    const auto missing =
        json::parse(BuildAttachmentJson(0, request_, L"gone.zip", INVALID_HANDLE_VALUE));
    EXPECT_EQ(missing["files"][0]["attach-data"], "");
    EXPECT_EQ(missing["files"][0]["file-name"], "gone.zip");
    EXPECT_EQ(missing["id"], 0);

    const auto named = json::parse(BuildAttachmentJson(0, request_, L"крах-é.zip", file.get()));
    EXPECT_EQ(named["files"][0]["file-name"], "крах-é.zip");
}

// The archive is coded as it is read, block by block: a large one, of a length that is no
// multiple of three, comes whole; one whose reading fails comes as no bytes, also when the
// blocks before the failing one were coded already.
TEST_F(ReportJson, AttachmentCarriesALargeArchiveWholeOrNothing) {
    const auto archive = request_.crash_info_dir_path / (request_.crash_uuid + ".zip");
    std::string bytes(7 * 1024 * 1024 + 1, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 9);
    }
    test_support::WriteFile(archive, bytes);
    const ScopedHandle file = OpenArchive(archive);
    ASSERT_TRUE(file);
    const auto whole = json::parse(BuildAttachmentJson(7, request_, L"a.zip", file.get()));
    EXPECT_TRUE(whole["files"][0]["attach-data"].get<std::string>() ==
                Base64Encode(bytes.data(), bytes.size()));

    for (const int skip : {0, 1, 2}) {
        SCOPED_TRACE(skip);
        platform::testing::FailCall("ReadFile", ERROR_ACCESS_DENIED, 1, skip);
        const auto failed = json::parse(BuildAttachmentJson(7, request_, L"a.zip", file.get()));
        platform::testing::ClearFailures();
        EXPECT_EQ(failed["files"][0]["attach-data"], "");
        EXPECT_EQ(failed["id"], 7);
    }
}

TEST(MakeDumpPath, NamesTheDumpByTheCrash) {
    EXPECT_EQ(MakeDumpPath("/data/crash_info", "abc"),
              std::filesystem::path("/data/crash_info/abc.dmp"));
}

}  // namespace
