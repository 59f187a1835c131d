// The headless front's loading: the page through the host callback, then every file it refers
// to (stylesheets, scripts, module imports, images, recursively), each asked for once per load.
// A file that cannot be had is reported through the debug output, as an engine reports it.
#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <utility>

#include "platform/engine/src/browser_front.h"
#include "platform/engine/src/engine_window.h"
#include "platform/engine/src/text.h"

namespace engine_stand_in::detail {

namespace {

// The URL without its fragment and query.
std::u16string WithoutFragment(std::u16string url) {
    const auto cut = url.find_first_of(u"#?");
    if (cut != std::u16string::npos) {
        url.erase(cut);
    }
    return url;
}

bool HasScheme(const std::u16string& url) {
    const auto colon = url.find(u':');
    const auto slash = url.find(u'/');
    return colon != std::u16string::npos && colon > 0 &&
           (slash == std::u16string::npos || colon < slash);
}

// "this://app/a/./b/../c" -> "this://app/a/c": dot segments of the path go.
std::u16string Normalise(const std::u16string& url) {
    const auto authority = url.find(u"://");
    const std::size_t slash =
        authority == std::u16string::npos ? std::u16string::npos : url.find(u'/', authority + 3);
    if (slash == std::u16string::npos) {
        return url;
    }
    std::vector<std::u16string> segments;
    std::size_t at = slash + 1;
    for (;;) {
        const auto end = url.find(u'/', at);
        const std::u16string segment = url.substr(at, end == std::u16string::npos ? end : end - at);
        if (segment == u"..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (segment != u".") {
            segments.push_back(segment);
        }
        if (end == std::u16string::npos) {
            break;
        }
        at = end + 1;
    }
    std::u16string result = url.substr(0, slash + 1);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        result += (i == 0 ? u"" : u"/") + segments[i];
    }
    return result;
}

std::u16string Resolve(const std::u16string& base, const std::u16string& reference) {
    if (HasScheme(reference)) {
        return WithoutFragment(reference);
    }
    if (reference.starts_with(u"/")) {
        const auto authority = base.find(u"://");
        const auto origin_end = authority == std::u16string::npos ? std::u16string::npos
                                                                  : base.find(u'/', authority + 3);
        return Normalise(WithoutFragment(base.substr(0, origin_end) + reference));
    }
    return Normalise(WithoutFragment(base.substr(0, base.rfind(u'/') + 1) + reference));
}

struct Reference {
    std::string target;
    UINT data_type;
};

std::vector<Reference> ScriptReferences(const std::string& script);

std::vector<Reference> PageReferences(const std::string& page) {
    static const std::regex tag(R"(<(link|script|img)\b([^>]*)>)", std::regex::icase);
    static const std::regex attribute(R"(([A-Za-z-]+)\s*=\s*(?:"([^"]*)\"|'([^']*)'))");
    std::vector<Reference> references;
    for (std::sregex_iterator it(page.begin(), page.end(), tag), end; it != end; ++it) {
        std::string name = (*it)[1].str();
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const std::string attributes = (*it)[2].str();
        std::map<std::string, std::string> values;
        for (std::sregex_iterator a(attributes.begin(), attributes.end(), attribute); a != end;
             ++a) {
            values[(*a)[1].str()] = (*a)[2].matched ? (*a)[2].str() : (*a)[3].str();
        }
        if (name == "link" && values["rel"] == "stylesheet" && !values["href"].empty()) {
            references.push_back({values["href"], RT_DATA_STYLE});
        } else if (name == "script" && !values["src"].empty()) {
            references.push_back({values["src"], RT_DATA_SCRIPT});
        } else if (name == "img" && !values["src"].empty()) {
            references.push_back({values["src"], RT_DATA_IMAGE});
        }
    }
    // A script written into the page brings its imports along, as a file would.
    static const std::regex inline_script(R"(<script\b([^>]*)>([\s\S]*?)</script>)",
                                          std::regex::icase);
    for (std::sregex_iterator it(page.begin(), page.end(), inline_script), end; it != end; ++it) {
        if ((*it)[1].str().find("src") == std::string::npos) {
            for (Reference& imported : ScriptReferences((*it)[2].str())) {
                references.push_back(std::move(imported));
            }
        }
    }
    return references;
}

std::vector<Reference> StyleReferences(const std::string& style) {
    static const std::regex reference(
        R"re(@import\s+(?:url\(\s*)?["']?([^"')\s;]+)|url\(\s*["']?([^"')]+?)["']?\s*\))re");
    std::vector<Reference> references;
    for (std::sregex_iterator it(style.begin(), style.end(), reference), end; it != end; ++it) {
        if ((*it)[1].matched) {
            references.push_back({(*it)[1].str(), RT_DATA_STYLE});
        } else if (!(*it)[2].str().starts_with("data:")) {
            references.push_back({(*it)[2].str(), RT_DATA_IMAGE});
        }
    }
    return references;
}

std::vector<Reference> ScriptReferences(const std::string& script) {
    static const std::regex reference(
        // A static import or export from a module, or a dynamic import.
        R"re(\b(?:import|export)\s+(?:[\w*{}\s,$]+\s+from\s+)?["']([^"']+)["'])re"
        R"re(|\bimport\s*\(\s*["']([^"']+)["']\s*\))re");
    std::vector<Reference> references;
    for (std::sregex_iterator it(script.begin(), script.end(), reference), end; it != end; ++it) {
        references.push_back({(*it)[1].matched ? (*it)[1].str() : (*it)[2].str(), RT_DATA_SCRIPT});
    }
    return references;
}

// The subsystem and severity of a file that could not be had.
std::pair<UINT, UINT> MissingReport(UINT data_type) {
    switch (data_type) {
        case RT_DATA_STYLE:
            return {OT_CSS, OS_WARNING};
        case RT_DATA_SCRIPT:
            return {OT_TIS, OS_ERROR};
        case RT_DATA_IMAGE:
            return {OT_DOM, OS_WARNING};
        default:
            return {OT_DOM, OS_ERROR};
    }
}

// "560dip" or "560px" in pixels at the reported resolution; 0 when it is neither.
int LengthInPixels(const std::string& length) {
    static const std::regex shape(R"(\s*(\d+)\s*(dip|px)?\s*)");
    std::smatch match;
    if (!std::regex_match(length, match, shape)) {
        return 0;
    }
    const long value = std::stol(match[1].str());
    return match[2].str() == "px" ? static_cast<int>(value)
                                  : static_cast<int>(value * PixelsPerInch() / 96);
}

// What the engine loads by itself: local files.
std::optional<std::vector<BYTE>> OwnMeans(const std::u16string& url) {
    if (!url.starts_with(u"file://")) {
        return std::nullopt;
    }
    std::ifstream file(UnitsToUtf8(url.substr(7)), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), {});
}

class PageLoad {
public:
    explicit PageLoad(EngineWindow& window) : window_(window) {}

    // Answers the file's bytes, or none.
    std::optional<std::vector<BYTE>> Request(const std::u16string& url, UINT data_type,
                                             const std::u16string& referrer) {
        if (!asked_.insert(url).second) {
            return std::nullopt;
        }
        auto bytes = AskHost(window_, url, data_type);
        requests_.push_back({url, data_type, bytes.has_value(), bytes ? bytes->size() : 0});
        if (!bytes) {
            ReportMissing(url, data_type, referrer);
            return std::nullopt;
        }
        const std::string text(bytes->begin(), bytes->end());
        std::vector<Reference> references;
        if (data_type == RT_DATA_HTML) {
            references = PageReferences(text);
        } else if (data_type == RT_DATA_STYLE) {
            references = StyleReferences(text);
        } else if (data_type == RT_DATA_SCRIPT) {
            references = ScriptReferences(text);
        }
        for (const Reference& reference : references) {
            Request(Resolve(url, Utf8ToUnits(reference.target)), reference.data_type, url);
        }
        return bytes;
    }

    std::vector<FileRequest> requests() const { return requests_; }

private:
    EngineWindow& window_;
    std::set<std::u16string> asked_;
    std::vector<FileRequest> requests_;
};

}  // namespace

std::optional<std::vector<BYTE>> AskHost(EngineWindow& window, const std::u16string& url,
                                         UINT data_type) {
    window.asked_url = url;
    window.delivered.reset();
    SCN_LOAD_DATA request{
        SC_LOAD_DATA, window.hwnd,           window.asked_url.c_str(), nullptr, 0, data_type,
        nullptr,      window.root_element(), window.root_element()};
    const UINT answer = Notify(window, reinterpret_cast<SCITER_CALLBACK_NOTIFICATION*>(&request));
    auto delivered = std::exchange(window.delivered, std::nullopt);
    window.asked_url.clear();
    if (answer == LOAD_DISCARD) {
        return std::nullopt;
    }
    if (delivered) {
        return delivered;
    }
    if (request.out_data != nullptr && request.out_data_size != 0) {
        return std::vector<BYTE>(request.out_data, request.out_data + request.out_data_size);
    }
    return OwnMeans(url);
}

void ReportMissing(const std::u16string& url, UINT data_type, const std::u16string& referrer) {
    const auto [subsystem, severity] = MissingReport(data_type);
    std::u16string message = u"failed to load \"" + url + u"\"";
    if (!referrer.empty()) {
        message += u" referred to by \"" + referrer + u"\"";
    }
    EmitDebug(subsystem, severity, message);
}

// The size that the page's <html window-width window-height> asks for.
void SizeWindowAsThePageSays(HWND hwnd, const std::string& page) {
    static const std::regex html(R"(<html\b([^>]*)>)", std::regex::icase);
    static const std::regex width(R"(window-width\s*=\s*"([^"]*)\")");
    static const std::regex height(R"(window-height\s*=\s*"([^"]*)\")");
    std::smatch tag;
    if (!std::regex_search(page, tag, html)) {
        return;
    }
    const std::string attributes = tag[1].str();
    std::smatch w;
    std::smatch h;
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    int cx = rect.right - rect.left;
    int cy = rect.bottom - rect.top;
    if (std::regex_search(attributes, w, width) && LengthInPixels(w[1].str()) > 0) {
        cx = LengthInPixels(w[1].str());
    }
    if (std::regex_search(attributes, h, height) && LengthInPixels(h[1].str()) > 0) {
        cy = LengthInPixels(h[1].str());
    }
    SetWindowPos(hwnd, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
}

void LoadDocument(EngineWindow& window, const std::u16string& url) {
    if (window.front) {
        window.front->Load(WithoutFragment(url));  // Chromium asks for the rest itself
        ScenarioDocumentLoaded(window);
        return;
    }
    PageLoad load(window);
    const auto page = load.Request(WithoutFragment(url), RT_DATA_HTML, u"");
    window.last_load = load.requests();
    window.document_url = url;
    if (page) {
        SizeWindowAsThePageSays(window.hwnd, std::string(page->begin(), page->end()));
    }
    ScenarioDocumentLoaded(window);
}

}  // namespace engine_stand_in::detail
