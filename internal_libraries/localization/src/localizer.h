// The localization library's process-wide object: the configured languages, one standard
// locale per language used so far (each with its gettext catalogue), the current language and
// its saved-language file, and a signal raised on every change of the current language.
//
// Every operation is serialised by one recursive mutex; the signal is raised while it is held,
// so a slot may call back into the Localizer on the same thread. Failures are logged at error
// level and thrown as std::runtime_error; errors of the JSON library, the resource extractor and
// Boost.Locale pass through unlogged.
#pragma once

#include <boost/signals2/signal.hpp>
#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <locale>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Localization {

struct LocalizerConfig {
    std::string app_name;  // also the gettext domain of the catalogues
    bool read_localization_files_from_resources = true;
    std::wstring zipped_resource_name;
    int zipped_resource_type_id = 0;
    std::filesystem::path localization_files_dir_path;
    std::filesystem::path language_serialization_file_path;
};

class Localizer {
public:
    using LanguageChangedSignal = boost::signals2::signal<void(const std::string&)>;

    // The program's one instance, built on first use and destroyed at process exit.
    static Localizer& Instance();

    // The program uses Instance(); tests make their own to start from a clean state.
    Localizer() = default;
    Localizer(const Localizer&) = delete;
    Localizer& operator=(const Localizer&) = delete;

    // Once per process: reads the configuration, then starts in the saved language.
    void Init(const LocalizerConfig& config);

    // Slots are called in the order of attachment; the connection is the caller's to keep.
    boost::signals2::connection AttachOnLanguageChanged(
        const LanguageChangedSignal::slot_type& slot);

    // Throws "languages not initialized" while the list is empty.
    std::vector<std::string> GetLanguages();
    // Empty before Init has set a language.
    std::string GetCurrentLanguage();
    // Switches, saves and signals; throws "no language" for a name that is not configured.
    void SetCurrentLanguage(const std::string& language);

    // The text in the current language; an empty context means none. Throws "no std locale"
    // before a language has been made current.
    std::wstring Localize(const std::wstring& text, const std::wstring& context);

private:
    void SetCurrentLanguageInternal(const std::string& language, bool save);

    // The saved-language file.
    std::string LoadCurrentLanguage();
    void SaveCurrentLanguage(const std::string& language);

    // The configuration and the catalogues.
    void InitFromResources();
    void InitFromFilesystem();
    void InitInternal(const nlohmann::json& config);
    std::locale CreateStdLocale(const std::string& language);
    std::vector<char> MessagesInfoCallback(const std::string& language);
    std::vector<char> ReadFileContentFromResources(const std::string& file_name);
    std::vector<char> ReadFileContentFromFilesystem(const std::string& file_name);

    LocalizerConfig config;
    std::recursive_mutex mutex;
    LanguageChangedSignal language_changed_signal;
    std::vector<std::string> languages;
    std::unordered_map<std::string, std::locale> std_locales;
    std::string current_language;
};

}  // namespace Localization
