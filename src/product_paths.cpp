#include "src/product_paths.h"

#include <shlobj.h>

#include <array>
#include <sstream>
#include <stdexcept>

#include "common/path_conversion.h"
#include "common/system_message.h"
#include "common/text_conversion.h"
#include "src/product_info.h"

namespace {

bool MarkerExists(const std::filesystem::path& path) {
    std::error_code error;  // access denied and the like count as absent
    return std::filesystem::exists(path, error);
}

}  // namespace

std::wstring GetSpecialFolderPath(int csidl) {
    std::array<wchar_t, MAX_PATH> buffer{};
    const HRESULT result =
        SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer.data());
    if (FAILED(result)) {
        throw std::runtime_error("failed to get special folder path. error=" +
                                 SystemMessage(static_cast<DWORD>(result)) +
                                 ". csidl=" + std::to_string(csidl));
    }
    return buffer.data();
}

std::filesystem::path GetProductDataFolder() {
    return WideToPath(GetSpecialFolderPath(CSIDL_COMMON_APPDATA)) / WideToPath(kMakerName) /
           WideToPath(kProductName);
}

std::wstring GetLogsFolder() { return PathToWide(GetProductDataFolder() / "logs"); }

std::filesystem::path GetCrashInfoFolder() { return GetProductDataFolder() / "crash_info"; }

bool IsDevMode() { return MarkerExists(GetProductDataFolder() / "dev-mode"); }

bool IsPeerVerificationDisabled() {
    return MarkerExists(GetProductDataFolder() / "settings" / "verify-peer");
}

std::wstring GetLanguageFilePath() {
    return PathToWide(WideToPath(GetSpecialFolderPath(CSIDL_APPDATA)) / WideToPath(kMakerName) /
                      WideToPath(kProductName) / "settings" / "language");
}

std::string BuildProductIdentity() {
    const std::string maker = Utf16ToUtf8(kMakerName);
    const std::string product = Utf16ToUtf8(kProductName);

    std::istringstream version_in(kProgramVersion);
    std::uint16_t major = 0, minor = 0, build = 0, revision = 0;
    char separator = 0;
    version_in >> major >> separator >> minor >> separator >> build >> separator >> revision;

    std::ostringstream dotted;
    dotted << major << "." << minor << "." << build << "." << revision;
    return maker + "-" + product + "-" + dotted.str();
}
