// Translation through the catalogues that the program carries.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/text_conversion.h"
#include "tests/localization/localization_fixture.h"

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
        Check(ResourceConfig(), begin, end);
    }
    void Check(const Localization::LocalizerConfig& config, const Translation* begin,
               const Translation* end) {
        localizer_.Init(config);
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

// Every text of the crash window in every language: the French, German and Spanish
// catalogues translate all but "Email" and "OK"; the English one mends one paragraph.
TEST_F(Catalogues, TranslateTheCrashWindowsTexts) {
    struct WindowText {
        std::wstring id;
        std::wstring context;
        std::wstring english;
        std::wstring french;
        std::wstring german;
        std::wstring spanish;
    };
    const WindowText table[] = {
        {L"Critical Error", L"", L"Critical Error", L"Erreur critique", L"Kritischer Fehler",
         L"Error cr\u00edtico"},
        {kSorry, L"description", kSorry,
         L"Nous sommes d\u00e9sol\u00e9s, mais les informations sur lesquelles vous travailliez "
         L"risquent d\u2019\u00eatre perdues.",
         L"Es tut uns leid! Die Informationen, an denen Sie gearbeitet haben, k\u00f6nnten "
         L"verloren gehen.",
         L"Lo sentimos, la informaci\u00f3n en la que estaba trabajando podr\u00eda perderse."},
        {kUponClosing, L"description",
         L"Upon closing, a crash report was generated. Please send it to us with description of "
         L"a problem in a form below to help us to fix it and improve this software.",
         L"\u00c0 la fermeture, un rapport d\u2019arr\u00eat intempestif a \u00e9t\u00e9 "
         L"g\u00e9n\u00e9r\u00e9. Veuillez nous le transmettre avec une description du "
         L"probl\u00e8me dans le formulaire ci-dessous pour nous aider \u00e0 le r\u00e9soudre "
         L"et \u00e0 am\u00e9liorer ce logiciel.",
         L"Beim Schlie\u00dfen wurde ein Absturzbericht erstellt. Senden Sie uns bitte den "
         L"Bericht mit einer Beschreibung des Problems im nachstehenden Formular. So helfen Sie "
         L"uns, das Problem zu beheben und diese Software zu verbessern.",
         L"Se gener\u00f3 un informe de fallo al momento del cierre. Env\u00edenos el informe "
         L"con una descripci\u00f3n del problema en el formulario que aparece a "
         L"continuaci\u00f3n para ayudarnos a solucionarlo y mejorar este software."},
        {L"Please give us as much details as possible", L"",
         L"Please give us as much details as possible",
         L"Veuillez nous donner autant de d\u00e9tails que possible",
         L"Geben Sie bitte so viele Details wie m\u00f6glich an",
         L"Br\u00edndenos tantos detalles como sea posible"},
        {L"Email must be in form of " + kAddress, L"", L"Email must be in form of " + kAddress,
         L"L'e-mail doit \u00eatre sous la forme " + kAddress,
         L"Die E-Mail muss das Format '" + kAddress + L"' haben",
         L"La direcci\u00f3n de correo debe tener la forma de '" + kAddress + L"'"},
        // Spanish: a Cyrillic es, then Latin letters.
        {L"cancel", L"", L"cancel", L"ANNULER", L"ABBRECHEN", L"\u0441ancelar"},
        {L"send", L"", L"send", L"envoyer", L"senden", L"enviar"},
        {L"Thank You for Submitting!", L"", L"Thank You for Submitting!",
         L"Merci de votre rapport!", L"Danke f\u00fcr Ihren Bericht!",
         L"\u00a1Gracias por su colaboraci\u00f3n!"},
        {L"Email", L"", L"Email", L"Email", L"Email", L"Email"},
        {L"OK", L"", L"OK", L"OK", L"OK", L"OK"},
    };
    std::vector<Translation> cases;
    for (const auto& row : table) {
        cases.push_back({"English", row.id, row.context, row.english});
        cases.push_back({"French", row.id, row.context, row.french});
        cases.push_back({"German", row.id, row.context, row.german});
        cases.push_back({"Spanish", row.id, row.context, row.spanish});
    }
    Check(cases.data(), cases.data() + cases.size());
}

// Neighbours of the window's texts that other entries, or no entry, answer.
TEST_F(Catalogues, SelectTheEntryByContextAndCase) {
    const Translation cases[] = {
        {"English", kUponClosing, L"", kUponClosing},
        {"French", kSorry, L"", kSorry},  // the entry exists under its context only
        {"German", L"Cancel", L"", L"Abbrechen"},
        {"Spanish", L"close", L"", L"\u0441errar"},
        // "Ok" and "ok" have entries of their own, which do not serve "OK".
        {"French", L"Ok", L"", L"D'accord"},
        {"French", L"ok", L"", L"d'accord"},
    };
    Check(std::begin(cases), std::end(cases));
}

TEST_F(Catalogues, LeaveTheEmptyTextAsItIs) {
    std::vector<Translation> cases;
    for (const char* language : {"English", "French", "German", "Spanish"}) {
        cases.push_back({language, L"", L"", L""});
    }
    Check(cases.data(), cases.data() + cases.size());
}

// A maintainer names a language as people read it: no locale id, and none that ICU takes.
TEST_F(Catalogues, ServeLanguagesWhoseNamesAreNoLocaleIds) {
    auto config = ResourceConfig();
    config.zipped_resource_name = L"names";
    const Translation cases[] = {
        {"Chinese Simplified", L"Critical Error", L"", L"\u4e25\u91cd\u9519\u8bef"},
        {"Chinese Simplified", kSorry, L"description",
         L"\u5f88\u62b1\u6b49\uff0c\u60a8\u6b63\u5728\u5904\u7406\u7684\u4fe1\u606f\u53ef"
         L"\u80fd\u5df2\u4e22\u5931\u3002"},
        {"Norwegian Bokmal", L"Critical Error", L"", L"Kritisk feil"},
        {"Norwegian Bokmal", kSorry, L"description",
         L"Beklager, informasjonen du arbeidet med, kan g\u00e5 tapt."},
        {"Norwegian Bokmal", kSorry, L"", kSorry},
        {"PortugueseBR", L"cancel", L"", L"cancelar"},
        {"PortugueseBR", L"Critical Error", L"", L"Erro cr\u00edtico"},
        {"PortugueseBR", L"send", L"", L"send"},
        {"Chinese Simplified", L"cancel", L"", L"\u53d6\u6d88"},
    };
    Check(config, std::begin(cases), std::end(cases));
    EXPECT_EQ(Count("create std locale."), 3u);
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
