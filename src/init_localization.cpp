#include "src/init_localization.h"

#include "common/log_call.h"
#include "common/log_tag.h"
#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "internal_libraries/localization/src/localizer.h"
#include "src/product_info.h"
#include "src/product_paths.h"

void InitLocalization() {
    LOG_AT(kLogTag, spdlog::level::debug, "init localization");
    Localization::LocalizerConfig config;
    config.app_name = Utf16ToUtf8(kProductName);
    config.read_localization_files_from_resources = true;
    config.zipped_resource_name = L"localization";
    config.zipped_resource_type_id = 10;  // RT_RCDATA
    config.language_serialization_file_path = WideToPath(GetLanguageFilePath());
    Localization::Localizer::Instance().Init(config);
}
