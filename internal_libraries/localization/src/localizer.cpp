// The instance, its initialisation and the current language.
#include "internal_libraries/localization/src/localizer.h"

#include <algorithm>
#include <stdexcept>

#include "common/log_call.h"
#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "internal_libraries/localization/src/log_tag.h"

namespace Localization {

Localizer& Localizer::Instance() {
    LOG_AT(kLogTag, spdlog::level::trace, "instance");
    static Localizer instance;
    return instance;
}

void Localizer::Init(const LocalizerConfig& config) {
    LOG_AT(kLogTag, spdlog::level::debug,
           "init. app_name={}. read_localization_files_from_resources={}. zipped_resource_name={}. "
           "zipped_resource_type_id={}. localization_files_dir_path={}",
           config.app_name, config.read_localization_files_from_resources,
           Utf16ToUtf8(config.zipped_resource_name), config.zipped_resource_type_id,
           Utf16ToUtf8(PathToWide(config.localization_files_dir_path)));
    const std::lock_guard lock(mutex);
    this->config = config;
    if (this->config.read_localization_files_from_resources) {
        InitFromResources();
    } else {
        InitFromFilesystem();
    }
    SetCurrentLanguageInternal(LoadCurrentLanguage(), false);
}

boost::signals2::connection Localizer::AttachOnLanguageChanged(
    const LanguageChangedSignal::slot_type& slot) {
    LOG_AT(kLogTag, spdlog::level::debug, "attach on language changed");
    return language_changed_signal.connect(slot, boost::signals2::at_back);
}

std::vector<std::string> Localizer::GetLanguages() {
    LOG_AT(kLogTag, spdlog::level::debug, "get languages");
    const std::lock_guard lock(mutex);
    if (languages.empty()) {
        LOG_AT(kLogTag, spdlog::level::err, "languages not initialized");
        throw std::runtime_error("languages not initialized");
    }
    return languages;
}

std::string Localizer::GetCurrentLanguage() {
    LOG_AT(kLogTag, spdlog::level::debug, "get current language");
    const std::lock_guard lock(mutex);
    return current_language;
}

void Localizer::SetCurrentLanguage(const std::string& language) {
    LOG_AT(kLogTag, spdlog::level::debug, "set current language. language={}", language);
    SetCurrentLanguageInternal(language, true);
}

void Localizer::SetCurrentLanguageInternal(const std::string& language, bool save) {
    LOG_AT(kLogTag, spdlog::level::debug, "set current language internal. language={}. save={}",
           language, save);
    const std::lock_guard lock(mutex);
    if (language == current_language) {
        LOG_AT(kLogTag, spdlog::level::err, "same language already set. language={}", language);
        return;
    }
    if (!std_locales.contains(language)) {
        if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
            LOG_AT(kLogTag, spdlog::level::err, "no language. language={}", language);
            throw std::runtime_error("no language");
        }
        // Built before the entry is made, so that a failure caches nothing.
        std::locale locale = CreateStdLocale(language);
        std_locales.emplace(language, std::move(locale));
    }
    current_language = language;
    if (save) {
        SaveCurrentLanguage(language);
    }
    language_changed_signal(language);
}

}  // namespace Localization
