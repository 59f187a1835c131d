// The interface script's global "Application": the e-mail address of the command line (the
// read-only property Email) and SendReport, the window's one action. It holds the command
// line, parsed once when it is created. No events of its own, so `on` refuses every event.
// Lives on the heap, held by the engine's references from its registration to its release.
#pragma once

#include <boost/program_options/variables_map.hpp>

#include <string>

#include "base_asset.h"

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
