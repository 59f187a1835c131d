#include "src/localization_asset.h"

#include <array>
#include <string>
#include <vector>

#include "common/log_call.h"
#include "common/text_conversion.h"
#include "internal_libraries/localization/src/localizer.h"
#include "sciter/om_passport.h"
#include "sciter/sapi.h"
#include "sciter/value.h"
#include "src/base_asset.h"
#include "src/globals.h"

namespace {

constexpr wchar_t kLanguageChanged[] = L"language-changed";

// Keeps no localization state of its own: every method asks the library's process-wide
// instance, and every change of the library's language reaches the script as the event
// "language-changed".
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

LocalizationAsset::LocalizationAsset() : BaseAsset<LocalizationAsset>({kLanguageChanged}) {
    LOG_AT(kLogTag, spdlog::level::debug, "ctor");
    Init();
}

void LocalizationAsset::Init() {
    LOG_AT(kLogTag, spdlog::level::debug, "init");
    AttachSignals();
}

void LocalizationAsset::AttachSignals() {
    LOG_AT(kLogTag, spdlog::level::debug, "attach signals");
    connections.emplace_back(Localization::Localizer::Instance().AttachOnLanguageChanged(
        [this](const std::string& language) {
            LOG_AT(kLogTag, spdlog::level::trace, "on LanguageChanged default handler. fire - {}",
                   Utf16ToUtf8(kLanguageChanged));
            FireEvent(kLanguageChanged, language);
        }));
}

sciter::value LocalizationAsset::GetLanguages() {
    LOG_AT(kLogTag, spdlog::level::debug, "get languages");
    const std::vector<std::string> languages = Localization::Localizer::Instance().GetLanguages();
    sciter::value array;
    for (std::size_t i = 0; i < languages.size(); ++i) {
        const sciter::value name = sciter::value::make_string(languages[i]);
        SAPI()->ValueNthElementValueSet(&array, static_cast<INT>(i), &name);
    }
    return array;
}

std::wstring LocalizationAsset::GetCurrentLanguage() {
    LOG_AT(kLogTag, spdlog::level::debug, "get current language");
    const std::string language = Localization::Localizer::Instance().GetCurrentLanguage();
    LOG_AT(kLogTag, spdlog::level::debug, "current_language={}", language);
    return Utf8ToUtf16(language);
}

void LocalizationAsset::SetCurrentLanguage(const std::wstring& language) {
    const std::string utf8 = Utf16ToUtf8(language);
    LOG_AT(kLogTag, spdlog::level::debug, "set current language. language={}", utf8);
    Localization::Localizer::Instance().SetCurrentLanguage(utf8);
}

std::wstring LocalizationAsset::Localize(const std::wstring& text, sciter::value context) {
    LOG_AT(kLogTag, spdlog::level::debug, "localize. text={}", Utf16ToUtf8(text));
    const std::wstring context_text = context.type() == T_UNDEFINED ? L"" : context.to_string();
    const std::wstring localized = Localization::Localizer::Instance().Localize(text, context_text);
    LOG_AT(kLogTag, spdlog::level::debug, "localized_text={}", Utf16ToUtf8(localized));
    return localized;
}

som_passport_t* LocalizationAsset::asset_get_passport() const {
    using sciter::om::method_thunk;
    static const auto tables = PassportTables(std::array<sciter::om::method_entry, 4>{{
        {"GetLanguages", 0, &method_thunk<LocalizationAsset, &LocalizationAsset::GetLanguages>},
        {"GetCurrentLanguage", 0,
         &method_thunk<LocalizationAsset, &LocalizationAsset::GetCurrentLanguage>},
        {"SetCurrentLanguage", 1,
         &method_thunk<LocalizationAsset, &LocalizationAsset::SetCurrentLanguage>},
        {"Localize", 2, &method_thunk<LocalizationAsset, &LocalizationAsset::Localize>},
    }});
    static som_passport_t passport{};
    return tables.fill(passport, "Localizer");
}

}  // namespace

void CreateLocalizationAsset() {
    auto* const localizer = new LocalizationAsset();  // held by the engine once registered
    g_localization_asset = {localizer, &localizer->connections};
    SAPI()->SciterSetGlobalAsset(localizer);
}
