#include "src/app_asset.h"

#include <boost/program_options/variables_map.hpp>

#include <string>

#include "common/log_call.h"
#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "report/bug_report.h"
#include "report/file_names.h"
#include "report/send_bug_report.h"
#include "src/base_asset.h"
#include "src/command_line.h"
#include "src/globals.h"
#include "src/product_paths.h"

namespace {

// Holds the command line, parsed once when it is made. No events of its own, so `on` refuses
// every event. Lives on the heap, held by the engine's references from its registration to
// its release.
class AppAsset : public BaseAsset<AppAsset> {
public:
    AppAsset();

    // Logs the call, checks the crash identifier and hands the report to the report client.
    // Delivery shows in the log only; what the client or the folder lookups throw passes on.
    void SendReport(const std::wstring& email, const std::wstring& description);
    // The command line's "email", or "" without one.
    std::wstring GetEmail() const;

    static bool SCAPI SendReportThunk(som_asset_t* thing, UINT argc, const VALUE* argv,
                                      VALUE* result);
    static bool SCAPI GetEmailThunk(som_asset_t* thing, VALUE* result);

    som_passport_t* asset_get_passport() const override;

    const boost::program_options::variables_map options;

protected:
    ~AppAsset() override = default;
};

AppAsset::AppAsset() : BaseAsset<AppAsset>({}), options(ParseCommandLine()) {}

void AppAsset::SendReport(const std::wstring& email, const std::wstring& description) {
    LOG_AT(kLogTag, spdlog::level::debug, "send report. email={}. description={}. ",
           Utf16ToUtf8(email), Utf16ToUtf8(description));
    const std::string crash_uuid = GetOptionString(options, "crash-uuid");
    LOG_AT(kLogTag, spdlog::level::debug, "crash_uuid={}", crash_uuid);
    if (crash_uuid.empty()) {
        LOG_AT(kLogTag, spdlog::level::err, "no crash uuid");
        return;
    }
    // It names the dump and the archive inside the crash-files folder, so it must be a bare name.
    if (!IsBareFileName(crash_uuid)) {
        LOG_AT(kLogTag, spdlog::level::err, "invalid crash uuid. crash_uuid={}", crash_uuid);
        return;
    }
    BugReportRequest request;
    request.product_name = Utf8ToUtf16(GetOptionString(options, "product"));
    request.product_version = GetOptionString(options, "version");
    request.crash_info_dir_path = GetCrashInfoFolder();
    request.logs_dir_path = WideToPath(GetLogsFolder());
    request.attach_screenshot = false;
    request.attach_logs = true;
    request.crash_uuid = crash_uuid;
    request.tester_email = email;
    request.description = description;
    request.use_production_server = !IsDevMode();
    request.verify_peer = !IsPeerVerificationDisabled();
    request.user_agent = BuildProductIdentity();

    BugReportResult result;
    const bool delivered = SendBugReport(request, result);
    LOG_AT(kLogTag, spdlog::level::debug, "report bug result={}", delivered);
    if (!delivered) {
        LOG_AT(kLogTag, spdlog::level::err, "failed to report bug");
    }
}

std::wstring AppAsset::GetEmail() const { return Utf8ToUtf16(GetOptionString(options, "email")); }

bool SCAPI AppAsset::SendReportThunk(som_asset_t* thing, UINT argc, const VALUE* argv,
                                     VALUE* result) {
    return sciter::om::method_thunk<AppAsset, &AppAsset::SendReport>(thing, argc, argv, result);
}

bool SCAPI AppAsset::GetEmailThunk(som_asset_t* thing, VALUE* result) {
    return sciter::om::property_thunk<AppAsset, &AppAsset::GetEmail>(thing, result);
}

som_passport_t* AppAsset::asset_get_passport() const {
    static const auto tables = PassportTables(
        std::to_array<sciter::om::method_entry>({{"SendReport", 2, &SendReportThunk}}),
        std::to_array<sciter::om::property_entry>({{"Email", &GetEmailThunk, nullptr}}));
    static som_passport_t passport{};
    return tables.fill(passport, "Application");
}

}  // namespace

void CreateAppAsset() {
    auto* const app = new AppAsset();  // held by the engine's references once registered
    g_app_asset = {app, &app->connections};
    SAPI()->SciterSetGlobalAsset(app);
}
