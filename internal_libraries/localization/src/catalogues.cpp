// The configuration, the gettext catalogues and translation.
#include <boost/locale/generator.hpp>
#include <boost/locale/gnu_gettext.hpp>
#include <boost/locale/message.hpp>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/log_call.h"
#include "internal_libraries/localization/src/localizer.h"
#include "internal_libraries/localization/src/log_tag.h"
#include "internal_libraries/localization/src/resource_extractor.h"

namespace Localization {
namespace {
constexpr char kConfigFileName[] = "config.json";
// Languages are display names ("Chinese Simplified"), which ICU takes for locale ids and may
// crash on. The base locale only carries the facets beside the catalogue's, none of which
// translation uses, so one id that ICU knows serves every language.
constexpr char kBaseLocaleId[] = "en_US.UTF-8";
}  // namespace

void Localizer::InitFromResources() {
    LOG_AT(kLogTag, spdlog::level::debug, "init from resources");
    const std::vector<char> content = ReadFileContentFromResources(kConfigFileName);
    InitInternal(nlohmann::json::parse(content.begin(), content.end(), nullptr, true, false));
}

void Localizer::InitFromFilesystem() {
    LOG_AT(kLogTag, spdlog::level::debug, "init from filesystem");
    std::ifstream file(config.localization_files_dir_path / kConfigFileName);
    InitInternal(nlohmann::json::parse(file, nullptr, true, false));
}

void Localizer::InitInternal(const nlohmann::json& config) {
    LOG_AT(kLogTag, spdlog::level::debug, "init internal");
    if (!config.is_object() || !config.contains("languages")) {
        LOG_AT(kLogTag, spdlog::level::err, "no languages array in config");
        throw std::runtime_error("no languages array in config");
    }
    const nlohmann::json names = config["languages"];
    if (!names.is_array()) {
        LOG_AT(kLogTag, spdlog::level::err, "languages not an array");
        throw std::runtime_error("languages not an array");
    }
    for (const auto& name : names) {
        languages.push_back(name.get<std::string>());
    }
}

std::locale Localizer::CreateStdLocale(const std::string& language) {
    LOG_AT(kLogTag, spdlog::level::debug, "create std locale. language={}", language);
    namespace gettext = boost::locale::gnu_gettext;
    gettext::messages_info info;
    info.language = language;
    info.encoding = "UTF-8";
    info.locale_category = "LC_MESSAGES";
    info.domains.push_back(gettext::messages_info::domain(config.app_name));
    info.paths.push_back("");
    // With one path, one domain and no country or variant, Boost.Locale asks exactly once.
    info.callback = [this, language](const std::string& /*file_name*/,
                                     const std::string& /*encoding*/) {
        return MessagesInfoCallback(language);
    };

    const boost::locale::generator generator;
    const std::locale base = generator.generate(kBaseLocaleId);
    return std::locale(base, gettext::create_messages_facet<wchar_t>(info));
}

std::vector<char> Localizer::MessagesInfoCallback(const std::string& language) {
    LOG_AT(kLogTag, spdlog::level::debug, "messages info callback. language={}", language);
    const std::string file_name = language + ".mo";
    if (config.read_localization_files_from_resources) {
        return ReadFileContentFromResources(file_name);
    }
    return ReadFileContentFromFilesystem(file_name);
}

std::vector<char> Localizer::ReadFileContentFromResources(const std::string& file_name) {
    LOG_AT(kLogTag, spdlog::level::debug, "read file content from resources. file_name={}",
           file_name);
    return ResourceHelper::Extractor::Extract(config.zipped_resource_type_id,
                                              config.zipped_resource_name, file_name);
}

std::vector<char> Localizer::ReadFileContentFromFilesystem(const std::string& file_name) {
    LOG_AT(kLogTag, spdlog::level::debug, "read file content from filesystem. file_name={}",
           file_name);
    std::ifstream file(config.localization_files_dir_path / file_name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::wstring Localizer::Localize(const std::wstring& text, const std::wstring& context) {
    const std::lock_guard lock(mutex);
    const auto found = std_locales.find(current_language);
    if (found == std_locales.end()) {
        LOG_AT(kLogTag, spdlog::level::err, "no std locale");
        throw std::runtime_error("no std locale");
    }
    const boost::locale::basic_message<wchar_t> message =
        context.empty() ? boost::locale::basic_message<wchar_t>(text)
                        : boost::locale::basic_message<wchar_t>(context, text);
    return message.str(found->second);
}

}  // namespace Localization
