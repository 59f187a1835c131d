// The saved-language file: {"language": "<name>"} as pretty-printed JSON with CR LF line ends.
// Both operations run under the lock of their caller (Init or SetCurrentLanguageInternal).
#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "common/log_call.h"
#include "localizer.h"
#include "log_tag.h"

namespace Localization {
namespace {

// The file is the Windows text-mode form of the JSON library's output, whatever the platform.
std::string WithCrLf(const std::string& text) {
    std::string result;
    result.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

}  // namespace

std::string Localizer::LoadCurrentLanguage() {
    LOG_AT(kLogTag, spdlog::level::debug, "load current language");
    const auto& path = config.language_serialization_file_path;
    if (path.empty()) {
        LOG_AT(kLogTag, spdlog::level::err, "language serialization file path not set");
        throw std::runtime_error("language serialization file path not set");
    }

    std::optional<std::string> saved;
    try {
        std::error_code error;
        if (std::filesystem::exists(path, error)) {
            std::ifstream file(path);
            const auto json = nlohmann::json::parse(file, nullptr, true, false);
            const auto language = json.at("language").get<std::string>();
            LOG_AT(kLogTag, spdlog::level::debug, "current_language={}", language);
            if (std::find(languages.begin(), languages.end(), language) != languages.end()) {
                saved = language;
            } else {
                LOG_AT(kLogTag, spdlog::level::err, "language doesn't exist. current_language={}",
                       language);
            }
        }
    } catch (const std::exception& error) {
        LOG_AT(kLogTag, spdlog::level::err, "failed to load current language. error={}",
               error.what());
    }

    if (saved) {
        return *saved;
    }
    if (languages.empty()) {
        LOG_AT(kLogTag, spdlog::level::err, "no language to start with");
        throw std::runtime_error("no language to start with");
    }
    return languages.front();
}

void Localizer::SaveCurrentLanguage(const std::string& language) {
    LOG_AT(kLogTag, spdlog::level::debug, "save current language. language={}", language);
    try {
        const auto& path = config.language_serialization_file_path;
        std::error_code error;
        if (!std::filesystem::exists(path.parent_path(), error)) {
            std::filesystem::create_directories(path.parent_path(), error);
        }
        const nlohmann::json json = {{"language", language}};
        // Serialised before the file is opened, so that a name the JSON library refuses leaves
        // the previous file as it was.
        const std::string text = WithCrLf(json.dump(2, ' ', false));
        std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
        file << text;
    } catch (const std::exception& error) {
        LOG_AT(kLogTag, spdlog::level::err,
               "failed to save current language. error={}. language={}", error.what(), language);
    }
}

}  // namespace Localization
