// Translation through the catalogues that the program carries.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/text_conversion.h"
#include "localization_fixture.h"

namespace {

using localization_test::LocalizationTest;

const std::wstring kSorry = L"We\u2019re sorry, the information you were working on might be lost.";
const std::wstring kUponClosing =
    L"Upon closing, a crash report was generated. Please send it to us with a describing a "
    L"problem in a form below to help us to fix it and improve this software.";
const std::wstring kAddress = Utf8ToUtf16(EXAMPLE_EMAIL_ADDRESS);

struct Translation {
    const char* language;
    std::wstring text;
    std::wstring context;
    std::wstring expected;
};

class Catalogues : public LocalizationTest {
protected:
    void Check(const Translation* begin, const Translation* end) {
        localizer_.Init(ResourceConfig());
        for (auto t = begin; t != end; ++t) {
            SCOPED_TRACE(std::string(t->language) + ": " + Utf16ToUtf8(t->text) + " | " +
                         Utf16ToUtf8(t->context));
            if (localizer_.GetCurrentLanguage() != t->language) {
                localizer_.SetCurrentLanguage(t->language);
            }
            EXPECT_EQ(localizer_.Localize(t->text, t->context), t->expected);
        }
    }
};

TEST_F(Catalogues, TranslateTheCrashWindowsTexts) {
    const Translation cases[] = {
        {"English", L"Critical Error", L"", L"Critical Error"},
        {"English", kSorry, L"description", kSorry},
        {"English", kUponClosing, L"description",
         L"Upon closing, a crash report was generated. Please send it to us with description of a "
         L"problem in a form below to help us to fix it and improve this software."},
        {"English", kUponClosing, L"", kUponClosing},
        {"French", L"Critical Error", L"", L"Erreur critique"},
        {"French", kSorry, L"", kSorry},  // the entry exists under its context only
        {"French", kSorry, L"description",
         L"Nous sommes d\u00e9sol\u00e9s, mais les informations sur lesquelles vous travailliez "
         L"risquent d\u2019\u00eatre perdues."},
        {"French", L"Email must be in form of " + kAddress, L"",
         L"L'e-mail doit \u00eatre sous la forme " + kAddress},
        {"French", L"cancel", L"", L"ANNULER"},
        {"German", L"Critical Error", L"", L"Kritischer Fehler"},
        {"German", L"cancel", L"", L"ABBRECHEN"},
        {"German", L"Cancel", L"", L"Abbrechen"},
        {"German", L"Email must be in form of " + kAddress, L"",
         L"Die E-Mail muss das Format '" + kAddress + L"' haben"},
        {"German", L"Thank You for Submitting!", L"", L"Danke f\u00fcr Ihren Bericht!"},
        {"Spanish", L"Critical Error", L"", L"Error cr\u00edtico"},
        {"Spanish", L"cancel", L"", L"\u0441ancelar"},  // Cyrillic es, then Latin
        {"Spanish", L"close", L"", L"\u0441errar"},
        {"Spanish", L"send", L"", L"enviar"},
        {"Spanish", L"Email must be in form of " + kAddress, L"",
         L"La direcci\u00f3n de correo debe tener la forma de '" + kAddress + L"'"},
    };
    Check(std::begin(cases), std::end(cases));
}

TEST_F(Catalogues, LeaveOkEmailAndTheEmptyTextAsTheyAre) {
    std::vector<Translation> cases;
    for (const char* language : {"English", "French", "German", "Spanish"}) {
        for (const wchar_t* text : {L"OK", L"Email", L""}) {
            cases.push_back({language, text, L"", text});
        }
    }
    // "Ok" and "ok" have entries of their own, which do not serve "OK".
    cases.push_back({"French", L"Ok", L"", L"D'accord"});
    cases.push_back({"French", L"ok", L"", L"d'accord"});
    Check(cases.data(), cases.data() + cases.size());
}

TEST_F(Catalogues, NeedALanguageFirst) {
    try {
        localizer_.Localize(L"Critical Error", L"");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "no std locale");
    }
    EXPECT_EQ(Count("[error] "), 1u);
    EXPECT_EQ(Count("[Localization::Localizer::Localize]: no std locale"), 1u);
}

}  // namespace
