#include "common/log_call.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include <sstream>

#include "common/log_tag.h"

namespace {

TEST(GetSourceTag, JoinsTagAndFileNameOnceAndCachesIt) {
    const std::string& first = GetSourceTag("tallorin", "/src/app/main.cpp");
    EXPECT_EQ(first, "tallorin:main.cpp");
    EXPECT_EQ(GetSourceTag("localization_lib_mt", "C:\\build\\src\\localizer.cpp"),
              "localization_lib_mt:localizer.cpp");
    EXPECT_EQ(GetSourceTag("x", "bare.cpp"), "x:bare.cpp");
    // Keyed by path alone: the cached text, at the same address, whatever tag comes second.
    const std::string& again = GetSourceTag("cpr-helper-lib-mt", "/src/app/main.cpp");
    EXPECT_EQ(&again, &first);
    EXPECT_EQ(again, "tallorin:main.cpp");
}

TEST(QualifiedFunctionName, StripsReturnTypeAndParameters) {
    struct Case {
        const char* pretty;
        const char* name;
    };
    const Case cases[] = {
        {"int uimain(std::function<int()>)", "uimain"},
        {"void Localization::Localizer::Init(const LocalizerConfig&)",
         "Localization::Localizer::Init"},
        {"Localization::Localizer::Localizer()", "Localization::Localizer::Localizer"},
        {"const std::string& GetSourceTag(const std::string&, const std::string&)", "GetSourceTag"},
        {"std::map<std::basic_string<char>, int> {anonymous}::AppAsset::Options() const",
         "{anonymous}::AppAsset::Options"},
        {"bool sciter::event_handler::handle_key(HELEMENT, KEY_PARAMS&)",
         "sciter::event_handler::handle_key"},
        {"void Foo<T>::Bar(T) [with T = int]", "Foo<T>::Bar"},
        {"bool Comparer::operator()(int, int) const", "Comparer::operator()"},
        {"static CprHelper::ProxyResolver* CprHelper::ProxyResolver::Get()",
         "CprHelper::ProxyResolver::Get"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pretty);
        EXPECT_EQ(logging::QualifiedFunctionName(c.pretty), c.name);
    }
}

struct Counted {
    int* formatted;
};

}  // namespace

template <>
struct fmt::formatter<Counted> : fmt::formatter<int> {
    auto format(const Counted& counted, format_context& context) const {
        ++*counted.formatted;
        return fmt::formatter<int>::format(*counted.formatted, context);
    }
};

namespace {

class LogCall : public ::testing::Test {
protected:
    LogCall() {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_st>(stream_);
        sink->set_pattern("[%l] [%@][%!]: %v");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("log-call-test", sink));
    }
    ~LogCall() override { spdlog::set_default_logger(std::make_shared<spdlog::logger>("reset")); }

    std::ostringstream stream_;
};

void NamedCaller(int value) { LOG_AT(kLogTag, spdlog::level::info, "value={}", value); }

TEST_F(LogCall, WritesTagFileLineAndQualifiedFunction) {
    NamedCaller(7);
    const std::string record = stream_.str();
    EXPECT_TRUE(record.starts_with("[info] [tallorin:log_call_test.cpp:")) << record;
    EXPECT_TRUE(record.ends_with("][{anonymous}::NamedCaller]: value=7\n")) << record;
}

TEST_F(LogCall, DoesNotFormatBelowTheThreshold) {
    int formatted = 0;
    spdlog::default_logger()->set_level(spdlog::level::warn);
    LOG_AT(kLogTag, spdlog::level::debug, "init localization {}", Counted{&formatted});
    EXPECT_EQ(formatted, 0);
    EXPECT_TRUE(stream_.str().empty());
    LOG_AT(kLogTag, spdlog::level::warn, "counted {}", Counted{&formatted});
    EXPECT_EQ(formatted, 1);
    EXPECT_NE(stream_.str().find("counted 1"), std::string::npos);
}

}  // namespace
