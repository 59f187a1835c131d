// The engine's debug messages in the log, sent as the stand-in engine sends them.
#include "src/sciter_logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "engine_stand_in/windows.h"
#include "tests/app/engine_fixture.h"

namespace {

class SciterLoggerTest : public EngineFixture {};

TEST_F(SciterLoggerTest, LogsEachMessageWithItsNamesAtItsLevel) {
    const SciterLogger logger;
    struct Case {
        UINT subsystem;
        UINT severity;
        const char* line;
    };
    const Case cases[] = {
        {OT_CSS, OS_WARNING, "[warning] .* WARNING: CSS: text 0"},
        {OT_DOM, OS_INFO, "[info] .* INFO: DOM: text 1"},
        {OT_CSSS, OS_ERROR, "[error] .* ERROR: CSSS: text 2"},
        {OT_TIS, OS_ERROR, "[error] .* ERROR: SCRIPT: text 3"},
        {9, 7, "[error] .* UNKNOWN-SEVERITY: UNKNOWN-SUBSYSTEM: text 4"},
        {4, 3, "[error] .* UNKNOWN-SEVERITY: UNKNOWN-SUBSYSTEM: text 5"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::u16string text = u"text " + std::u16string(1, static_cast<char16_t>(u'0' + i));
        engine_stand_in::EmitDebugMessage(cases[i].subsystem, cases[i].severity, text.c_str(),
                                          static_cast<UINT>(text.size()));
    }
    const std::string log = Log();
    // The logger's own record carries the application's tag; the engine's messages carry the
    // compiler's full path of the source file, with no tag.
    EXPECT_TRUE(std::regex_search(
        log,
        std::regex(
            R"(\] \[tallorin:sciter_logger\.cpp:\d+\]\[SciterLogger::SciterLogger\]: created\n)")))
        << log;
    const std::regex output_record(R"(\] \[\d+\] \[([^\n]*):\d+\]\[SciterLogger::output\]: )");
    std::size_t outputs = 0;
    for (auto match = std::sregex_iterator(log.begin(), log.end(), output_record);
         match != std::sregex_iterator(); ++match, ++outputs) {
        EXPECT_EQ((*match)[1].str(), TALLORIN_SOURCE_DIR "/src/sciter_logger.cpp");
    }
    EXPECT_EQ(outputs, std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        std::string pattern = cases[i].line;
        pattern = "\\[" + pattern.substr(1, pattern.find(']') - 1) + "\\]" +
                  pattern.substr(pattern.find(']') + 1);
        EXPECT_TRUE(std::regex_search(log, std::regex(pattern + "\n"))) << log;
    }
    EXPECT_NE(log.find("][SciterLogger::output]: WARNING: CSS: text 0"), std::string::npos);
}

TEST_F(SciterLoggerTest, TakesExactlyTheLengthItIsGiven) {
    const SciterLogger logger;
    const char16_t text[] = u"abcdef";  // not terminated after "abc"
    engine_stand_in::EmitDebugMessage(OT_TIS, OS_ERROR, text, 3);
    const char16_t smile[] = u"\U0001F600 ok";
    engine_stand_in::EmitDebugMessage(OT_TIS, OS_ERROR, smile, 5);
    engine_stand_in::EmitDebugMessage(OT_DOM, OS_ERROR, text, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("ERROR: SCRIPT: abc\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: SCRIPT: \xF0\x9F\x98\x80 ok\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: DOM: \n"), std::string::npos) << log;
}

TEST_F(SciterLoggerTest, InformationStaysOutOfTheFileAtWarn) {
    const SciterLogger logger;
    spdlog::default_logger()->set_level(spdlog::level::warn);
    const std::u16string info = u"quiet";
    const std::u16string warning = u"loud";
    engine_stand_in::EmitDebugMessage(OT_DOM, OS_INFO, info.c_str(), 5);
    engine_stand_in::EmitDebugMessage(OT_DOM, OS_WARNING, warning.c_str(), 4);
    const std::string log = Log();
    EXPECT_EQ(log.find("quiet"), std::string::npos);
    EXPECT_NE(log.find("WARNING: DOM: loud"), std::string::npos);
}

}  // namespace
