#include "report/report_json.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "report/base64.h"
#include "report/file_reading.h"
#include "report/os_language.h"
#include "report/system_info_helper.h"

namespace {

void ReplaceAll(std::wstring& text, std::wstring_view from, std::wstring_view to) {
    for (auto at = text.find(from); at != std::wstring::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The ampersand goes first, so the ampersands of the later passes stay as they are.
std::wstring EscapeXml(std::wstring text) {
    ReplaceAll(text, L"&", L"&amp;");
    ReplaceAll(text, L"\"", L"&quot;");
    ReplaceAll(text, L"'", L"&apos;");
    ReplaceAll(text, L"<", L"&lt;");
    ReplaceAll(text, L">", L"&gt;");
    return text;
}

// Writes the Base64 text of the attached bytes at the end of `body`, after making room for it
// and for `rest` more characters.
using EncodeInto = std::function<void(std::string& body, std::size_t rest)>;

// The body is serialised with an empty "attach-data" and the Base64 text is written straight
// into its place: Base64 needs no JSON escapes, so the text is what the JSON library would
// give, while the encoded bytes are held once instead of three times over.
std::string WithAttachData(const nlohmann::json& body, const EncodeInto& encode) {
    constexpr std::string_view kEmptyAttachData = R"("attach-data":"")";
    const std::string text = body.dump();
    // "attach-data" is the first key written, whether at the top or in the first file.
    const auto at = text.find(kEmptyAttachData);
    if (at == std::string::npos) {
        throw std::logic_error("body without attach-data");
    }
    const auto value_start = at + kEmptyAttachData.size() - 1;  // at the closing quote
    std::string result(text, 0, value_start);
    encode(result, text.size() - value_start);
    result.append(text, value_start);
    return result;
}

// The archive is coded as it is read, a block at a time, so that its bytes are never held
// whole: fresh memory costs a page fault per page, as much as the coding of it. A block is
// a multiple of three bytes, so the blocks' texts put together are the text of the whole.
constexpr std::size_t kArchiveBlock = 3 * 1024 * 1024;
static_assert(kArchiveBlock % 3 == 0);

}  // namespace

std::filesystem::path MakeDumpPath(const std::filesystem::path& crash_info_dir_path,
                                   const std::string& crash_uuid) {
    return crash_info_dir_path / (crash_uuid + ".dmp");
}

std::string BuildReportJson(const BugReportRequest& request) {
    const std::string dump =
        ReadFileBinary(MakeDumpPath(request.crash_info_dir_path, request.crash_uuid));

    const std::wstring windows_version = SystemInfoHelper::GetWindowsVersion();
    const std::wstring cpu = SystemInfoHelper::GetCpuName();
    const std::int32_t ram = SystemInfoHelper::GetAvailableMemoryMb();
    const std::wstring installed_path = SystemInfoHelper::GetInstalledPath();
    const std::int32_t available_space = SystemInfoHelper::GetAvailableDiskSpaceGb();

    nlohmann::json report;
    report["title"] = Utf16ToUtf8(request.product_name) + " Crash Report";
    report["description"] = Utf16ToUtf8(EscapeXml(request.description));
    report["product-name"] = Utf16ToUtf8(request.product_name);
    report["product-version"] = request.product_version;
    report["tester-name"] = Utf16ToUtf8(request.tester_name);
    report["tester-email"] = Utf16ToUtf8(request.tester_email);
    report["windows-version"] = Utf16ToUtf8(windows_version);
    report["cpu"] = Utf16ToUtf8(cpu);
    report["ram"] = ram;
    report["installed-path"] = Utf16ToUtf8(installed_path);
    report["available-space"] = available_space;
    report["attach-name"] = "crash.dmp";
    report["attach-data"] = "";  // the dump's Base64, written in by WithAttachData
    report["os-language"] = Utf16ToUtf8(GetOsLanguage());
    return WithAttachData(report, [&dump](std::string& body, std::size_t rest) {
        body.reserve(body.size() + Base64Length(dump.size()) + rest);
        AppendBase64(body, dump.data(), dump.size());
    });
}

std::string BuildAttachmentJson(std::uint32_t bug_id, const BugReportRequest& request,
                                const std::wstring& archive_name, HANDLE archive) {
    nlohmann::json attachment;
    attachment["id"] = bug_id;
    attachment["product-name"] = Utf16ToUtf8(request.product_name);
    nlohmann::json file;
    file["file-name"] = Utf16ToUtf8(archive_name);
    file["attach-data"] = "";  // the archive's Base64, written in by WithAttachData
    attachment["files"] = nlohmann::json::array({file});
    return WithAttachData(attachment, [archive](std::string& body, std::size_t rest) {
        const std::size_t value_start = body.size();
        const bool read = ReadHandleBlocks(
            archive, kArchiveBlock,
            [&](std::uint64_t size) {
                if (size <= (body.max_size() - value_start - rest) / 4 * 3) {
                    body.reserve(value_start + Base64Length(static_cast<std::size_t>(size)) + rest);
                }
            },
            [&](const char* data, std::size_t length) { AppendBase64(body, data, length); });
        if (!read) {
            body.resize(value_start);  // as an archive that cannot be read: no bytes
        }
    });
}
