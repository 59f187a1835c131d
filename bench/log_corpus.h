// Seeded text in the program's log format, shared by the benchmarks that zip or send logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace bench {

// Lines in the program's log pattern "[%D %H:%M:%S %e] [%^%l%$] [%t] [%@][%!]: %v".
inline std::string LogCorpus(std::size_t size, std::uint32_t seed) {
    static const char* const kLevels[] = {"trace", "debug", "info", "warning", "error"};
    static const char* const kSources[] = {
        "tallorin:main.cpp:57][wWinMain",
        "tallorin:app_asset.cpp:88][`anonymous-namespace'::AppAsset::SendReport",
        "tallorin:main_window.cpp:141][MainWindow::handle_key",
        "localization_lib_mt:localizer.cpp:212][Localization::Localizer::Localize",
        "cpr-helper-lib-mt:proxies.cpp:77][CprHelper::GetProxies",
        "impersonation_helper_lib_mt:impersonate.cpp:64][ImpersonationHelper::Impersonate::"
        "Impersonate",
        "tallorin:bug_report.cpp:301][SendBugReport",
    };
    static const char* const kMessages[] = {
        "crash_uuid={}",
        "set current language. language={}",
        "report bug result={}",
        "failed to get proxies. error={}",
        "send attachments. bug_id={}",
        "engine: {}",
        "load file. url=this://app/{}.html",
        "impersonate user. session_id={}",
    };
    std::mt19937 random(seed);
    std::string text;
    text.reserve(size + 256);
    int second = 0;
    while (text.size() < size) {
        second += static_cast<int>(random() % 3);
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "[03/04/21 %02d:%02d:%02d %03u] ",
                      10 + second / 3600 % 12, second / 60 % 60, second % 60,
                      static_cast<unsigned>(random() % 1000));
        text += stamp;
        text += std::string("[") + kLevels[random() % 5] + "] [" +
                std::to_string(4000 + random() % 8) + "] [";
        text += kSources[random() % 7];
        text += "]: ";
        std::string message = kMessages[random() % 8];
        const auto hole = message.find("{}");
        std::string value;
        switch (random() % 3) {
            case 0:
                value = std::to_string(random());
                break;
            case 1: {
                static const char kHex[] = "0123456789abcdef";
                for (int i = 0; i < 36; ++i)
                    value += (i == 8 || i == 13 || i == 18 || i == 23) ? '-' : kHex[random() % 16];
                break;
            }
            default:
                value = random() % 2 ? "true" : "en-US";
        }
        message.replace(hole, 2, value);
        text += message + "\n";
    }
    text.resize(size);
    return text;
}

}  // namespace bench
