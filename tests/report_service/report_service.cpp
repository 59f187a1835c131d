#include "tests/report_service/report_service.h"

#include <cryptopp/base64.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

namespace test_support {
namespace {

namespace fs = std::filesystem;

struct Certificate {
    fs::path certificate;
    fs::path key;
};

// Made once per test program by openssl: a fresh self-signed certificate for each kind.
const Certificate& CertificateOf(CertificateFor kind) {
    static std::mutex mutex;
    static TempDir folder;
    static std::map<CertificateFor, Certificate> made;
    const std::lock_guard lock(mutex);
    if (const auto found = made.find(kind); found != made.end()) {
        return found->second;
    }
    const bool loopback = kind == CertificateFor::kLoopback;
    const std::string name = loopback ? "loopback" : "other-host";
    Certificate certificate{folder / (name + ".pem"), folder / (name + ".key")};
    ChildOptions options;
    options.arguments = {"req",
                         "-x509",
                         "-newkey",
                         "ec",
                         "-pkeyopt",
                         "ec_paramgen_curve:prime256v1",
                         "-nodes",
                         "-days",
                         "2",
                         "-keyout",
                         certificate.key.string(),
                         "-out",
                         certificate.certificate.string(),
                         "-subj",
                         loopback ? "/CN=127.0.0.1" : "/CN=reports.other-host.invalid",
                         "-addext",
                         loopback ? "subjectAltName=IP:127.0.0.1,DNS:localhost"
                                  : "subjectAltName=DNS:reports.other-host.invalid"};
    const auto result = RunChild(TALLORIN_OPENSSL, options);
    if (result.exit_code != 0) {
        throw std::runtime_error("openssl failed: " + result.output);
    }
    return made.emplace(kind, certificate).first->second;
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    const auto lower = [](std::string_view text) {
        std::string result(text);
        std::transform(result.begin(), result.end(), result.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return result;
    };
    for (const auto& [key, value] : headers) {
        if (lower(key) == lower(name)) {
            return value;
        }
    }
    return std::nullopt;
}

ReportService::ReportService(const ReportServiceOptions& options) {
    const auto& certificate = CertificateOf(options.certificate);
    process_ = std::make_unique<BackgroundProcess>(
        TALLORIN_PYTHON3,
        std::vector<std::string>{TALLORIN_REPORT_SERVICE_SCRIPT, "--state", state_.path().string(),
                                 "--cert", certificate.certificate.string(), "--key",
                                 certificate.key.string(), "--production-port",
                                 std::to_string(options.production_port), "--staging-port",
                                 std::to_string(options.staging_port), "--bind-patience",
                                 std::to_string(options.bind_patience.count())},
        state_ / "output.txt");
    // The double waits up to ten minutes for another run's hold on a fixed port, then for
    // another program to free it, then ends.
    const bool fixed = options.production_port != 0 || options.staging_port != 0;
    const auto patience =
        fixed ? std::chrono::minutes(11) + options.bind_patience : std::chrono::seconds(60);
    if (!WaitForFile(state_ / "ready", *process_, patience)) {
        std::string output;
        try {
            output = ReadFile(state_ / "output.txt");
        } catch (const std::exception&) {
        }
        throw std::runtime_error("the report service did not start: " + output);
    }
    const auto ports = nlohmann::json::parse(ReadFile(state_ / "ready"));
    production_port_ = ports.at("production").get<int>();
    staging_port_ = ports.at("staging").get<int>();
}

ReportService::~ReportService() = default;

std::string ReportService::BaseUrl(int port) {
    return "https://127.0.0.1:" + std::to_string(port) + "/api";
}

void ReportService::SetReply(std::string_view endpoint, const ServiceReply& reply) {
    const nlohmann::json text = {
        {"status", reply.status},   {"body", reply.body},
        {"gzip", reply.gzip},       {"location", reply.location},
        {"stall", reply.stall},     {"trickle_ms", reply.trickle.count()},
        {"endless", reply.endless}, {"read_bps", reply.read_bytes_per_second}};
    const auto file = state_ / "replies" / (std::string(endpoint) + ".json");
    WriteFile(fs::path(file.string() + ".tmp"), text.dump());
    fs::rename(file.string() + ".tmp", file);
}

void ReportService::HoldReplies(std::string_view endpoint, std::chrono::seconds limit) {
    const nlohmann::json text = {{"limit", limit.count()}};
    const auto file = state_ / "holds" / (std::string(endpoint) + ".json");
    WriteFile(fs::path(file.string() + ".tmp"), text.dump());
    fs::rename(file.string() + ".tmp", file);
}

bool ReportService::WaitUntilHeld(std::string_view endpoint,
                                  std::chrono::milliseconds timeout) const {
    const auto held = state_ / "held" / std::string(endpoint);
    return fs::exists(held) || WaitForFile(held, *process_, timeout);
}

void ReportService::Release(std::string_view endpoint) {
    WriteFile(state_ / "release" / std::string(endpoint), "");
}

bool ReportService::HoldExpired(std::string_view endpoint) const {
    return fs::exists(state_ / "held" / (std::string(endpoint) + ".expired"));
}

std::vector<RecordedRequest> ReportService::Requests() const {
    std::vector<fs::path> records;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(state_ / "requests", error)) {
        if (entry.path().extension() == ".json") {
            records.push_back(entry.path());
        }
    }
    std::sort(records.begin(), records.end());
    std::vector<RecordedRequest> requests;
    for (const auto& record : records) {
        const auto meta = nlohmann::json::parse(ReadFile(record));
        RecordedRequest request;
        request.path = meta.at("path").get<std::string>();
        request.port = meta.at("port").get<int>();
        request.method = meta.at("method").get<std::string>();
        for (const auto& header : meta.at("headers")) {
            request.headers.emplace_back(header.at(0).get<std::string>(),
                                         header.at(1).get<std::string>());
        }
        request.body = ReadFile(fs::path(record).replace_extension(".body"));
        requests.push_back(std::move(request));
    }
    return requests;
}

int PortOfUrl(std::string_view url) {
    const auto host = url.find("://");
    const auto start = host == std::string_view::npos ? 0 : host + 3;
    const auto end = url.find('/', start);
    const auto authority =
        url.substr(start, end == std::string_view::npos ? url.npos : end - start);
    const auto colon = authority.rfind(':');
    return colon == std::string_view::npos ? 443
                                           : std::stoi(std::string(authority.substr(colon + 1)));
}

FixedPortsHeld::FixedPortsHeld(std::vector<int> ports) {
    std::sort(ports.begin(), ports.end());  // the double's order: no two holders deadlock
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    for (const int port : ports) {
        const std::string path = "/tmp/tallorin-port-" + std::to_string(port) + ".lock";
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            throw std::runtime_error("cannot open " + path);
        }
        descriptors_.push_back(descriptor);
        ::fchmod(descriptor, 0666);  // other users' runs must open it too
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
        while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                Release();
                throw std::runtime_error("port " + std::to_string(port) +
                                         " stays locked by another test run: " + path);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

FixedPortsHeld::~FixedPortsHeld() { Release(); }

void FixedPortsHeld::Release() {
    for (const int descriptor : descriptors_) {
        ::close(descriptor);  // and with it the lock
    }
    descriptors_.clear();
}

std::optional<std::string> WhyNotOnLoopback(std::string_view production_url,
                                            std::string_view staging_url) {
    const std::regex loopback(R"(https://127\.0\.0\.1:[1-9][0-9]{0,4}(/.*)?)");
    for (const auto url : {production_url, staging_url}) {
        if (!std::regex_match(url.begin(), url.end(), loopback) || PortOfUrl(url) > 65535) {
            return "this build's base URL " + std::string(url) +
                   " is not on loopback with a port, where the report-service double runs";
        }
    }
    if (PortOfUrl(production_url) == PortOfUrl(staging_url)) {
        return "this build's base URLs share one port, so the double cannot tell them apart";
    }
    return std::nullopt;
}

ReportServiceOptions OnPortsOf(std::string_view production_url, std::string_view staging_url) {
    return {.production_port = PortOfUrl(production_url), .staging_port = PortOfUrl(staging_url)};
}

std::vector<RecordedRequest> RequestsTo(const std::vector<RecordedRequest>& requests,
                                        const std::string& path) {
    std::vector<RecordedRequest> found;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(found),
                 [&](const RecordedRequest& request) { return request.path == path; });
    return found;
}

std::string DecodeBase64(const std::string& text) {
    CryptoPP::Base64Decoder decoder;
    decoder.Put(reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
    decoder.MessageEnd();
    std::string bytes(static_cast<std::size_t>(decoder.MaxRetrievable()), '\0');
    decoder.Get(reinterpret_cast<CryptoPP::byte*>(bytes.data()), bytes.size());
    return bytes;
}

}  // namespace test_support
