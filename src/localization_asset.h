// The script object "Localizer": the interface's way to the localization library. It keeps no
// localization state of its own; every method asks the library's process-wide instance, and
// every change of the library's language reaches the script as the event "language-changed".
#pragma once

#include <string>

#include "base_asset.h"
#include "sciter/value.h"

class LocalizationAsset : public BaseAsset<LocalizationAsset> {
public:
    // Connects to the library's change signal; the connection ends with the object or when
    // the main window empties `connections` at close.
    LocalizationAsset();

    som_passport_t* asset_get_passport() const override;

    // Script methods (the library's runtime errors reach the script as error values).
    sciter::value GetLanguages();
    std::wstring GetCurrentLanguage();
    void SetCurrentLanguage(const std::wstring& language);
    // An undefined context or "" translates without context; any other value's text is the
    // gettext context.
    std::wstring Localize(const std::wstring& text, sciter::value context);

private:
    void Init();
    void AttachSignals();
};
