#include "tests/localization/localization_fixture.h"

#include <spdlog/spdlog.h>

#include "src/logging.h"

namespace localization_test {

namespace fs = std::filesystem;

LocalizationTest::LocalizationTest() {
    LoggerSettings settings;
    settings.log_dir_path = (root_ / "logs").wstring();
    settings.level = 0;
    settings.max_file_size = 20 * 1024 * 1024;
    SetupDefaultLogger(settings);
    fs::create_directories(files_);
}

LocalizationTest::~LocalizationTest() {
    spdlog::set_default_logger(std::make_shared<spdlog::logger>("reset"));
}

Localization::LocalizerConfig LocalizationTest::ResourceConfig() const {
    Localization::LocalizerConfig config;
    config.app_name = "Velmora Antivirus";
    config.read_localization_files_from_resources = true;
    config.zipped_resource_name = L"localization";
    config.zipped_resource_type_id = 10;
    config.language_serialization_file_path = language_file_;
    return config;
}

Localization::LocalizerConfig LocalizationTest::FolderConfig(const std::string& config_json) const {
    test_support::WriteFile(files_ / "config.json", config_json);
    auto config = ResourceConfig();
    config.read_localization_files_from_resources = false;
    config.localization_files_dir_path = files_;
    return config;
}

std::string LocalizationTest::Log() const {
    std::string content;
    for (const auto& entry : fs::directory_iterator(root_ / "logs")) {
        content += test_support::ReadFile(entry.path());
    }
    return content;
}

std::size_t LocalizationTest::Count(std::string_view text) const {
    const std::string log = Log();
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

}  // namespace localization_test
