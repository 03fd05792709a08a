#include "chat/ondevice/OnDeviceLlm.h"

#include "api/ServiceEndpoints.h"
#include "platform/files/AppPaths.h"
#include "platform/http/HttpClient.h"
#include "platform/ml/MlModel.h"

#include <chrono>
#include <map>
#include <system_error>
#include <vector>

namespace nimbo {
namespace {
namespace fs = std::filesystem;
namespace ml = platform::ml;

constexpr std::chrono::milliseconds kDownloadTimeout = std::chrono::minutes(10);
constexpr std::size_t kMaxArchiveBytes = std::size_t{4} << 30;

std::string describe(OnDeviceLlmError::Kind kind, const std::string& payload) {
    switch (kind) {
    case OnDeviceLlmError::Kind::downloadFailed: return "On-device model download failed: " + payload;
    case OnDeviceLlmError::Kind::compileFailed: return "On-device model compile failed: " + payload;
    case OnDeviceLlmError::Kind::predictionFailed: return "On-device inference failed: " + payload;
    case OnDeviceLlmError::Kind::modelNotFound: return "On-device model file not found (download first)";
    }
    return payload;
}

// The localized description of the exception being handled.
std::string currentErrorDescription() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

// Runs one step of loading; any failure becomes compileFailed with its description.
template <typename Step>
auto asCompileFailure(Step&& step) -> decltype(step()) {
    try {
        return step();
    } catch (...) {
        throw OnDeviceLlmError::compileFailed(currentErrorDescription());
    }
}

// A set of names as the platform prints one: ["a", "b"].
std::string renderNames(const std::vector<std::string>& names) {
    std::string text = "[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += ", ";
        text += '"';
        for (const char c : names[i]) {
            if (c == '"' || c == '\\') text += '\\';
            text += c;
        }
        text += '"';
    }
    return text + "]";
}

}  // namespace

OnDeviceLlmError::OnDeviceLlmError(Kind kind, std::string payload)
    : kind_(kind), payload_(std::move(payload)), description_(describe(kind_, payload_)) {}

OnDeviceLlm& OnDeviceLlm::shared() {
    static OnDeviceLlm* const instance = [] {
        const auto& bases = api::ServiceEndpoints::current().apiBases;
        const std::string base = bases.empty() ? std::string() : bases.front();
        return new OnDeviceLlm(base + "/models/" + modelFilename, platform::applicationSupportDir() / "OnDeviceLlm");
    }();
    return *instance;
}

OnDeviceLlm::OnDeviceLlm(std::string modelUrl, fs::path modelDirectory)
    : modelUrl_(std::move(modelUrl)), modelDirectory_(std::move(modelDirectory)) {}

OnDeviceLlm::~OnDeviceLlm() = default;

void OnDeviceLlm::ensureModelDownloaded() {
    std::lock_guard lock(mutex_);
    downloadLocked();
}

void OnDeviceLlm::ensureModelLoaded() {
    std::lock_guard lock(mutex_);
    loadLocked();
}

void OnDeviceLlm::downloadLocked() {
    platform::createPrivateDirectories(modelDirectory_);
    std::error_code ec;
    if (fs::exists(archivePath(), ec)) return;
    // The body goes to a private file first, so a failed or cut-off transfer never
    // leaves a partial archive at the archive path.
    platform::PendingFile download(archivePath());
    const long status = platform::http::download(modelUrl_, download.path(), kDownloadTimeout, kMaxArchiveBytes);
    if (status < 200 || status > 299)
        throw OnDeviceLlmError::downloadFailed("HTTP " + std::to_string(status > 0 ? status : -1));
    if (fs::exists(fs::symlink_status(archivePath()))) fs::remove_all(archivePath());
    download.commit();
}

void OnDeviceLlm::loadLocked() {
    if (compiledModel_) return;
    std::error_code ec;
    if (!fs::exists(archivePath(), ec)) throw OnDeviceLlmError::modelNotFound();
    if (!fs::exists(packagePath(), ec)) unzip(archivePath(), modelDirectory_);
    // The compiled form lives in a temporary folder that goes once the model is loaded.
    const ml::CompiledModel compiled = asCompileFailure([&] { return ml::compileModel(packagePath()); });
    ml::ModelConfiguration configuration;
    configuration.computeUnits = ml::ComputeUnits::all;
    compiledModel_ = asCompileFailure([&] { return ml::Model::load(compiled.location(), configuration); });
}

void OnDeviceLlm::unzip(const fs::path& archive, const fs::path& /*destination*/) {
    std::error_code ec;
    if (fs::is_directory(archive, ec)) return;
    throw OnDeviceLlmError::compileFailed(
        "Model archive at " + archive.string() +
        " is a zip file, and this POC build has no on-device zip extraction wired up yet (see OnDeviceLlm's "
        "unzip() doc comment). Production path: serve the .mlpackage directory pre-extracted so "
        "MLModel.compileModel(at:) can load it directly -- tracked in the status doc as a follow-up, not "
        "silently faked here.");
}

OnDeviceInferResult OnDeviceLlm::generateText(const std::string& prompt) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsedMs = [start] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    std::lock_guard lock(mutex_);
    try {
        loadLocked();
    } catch (...) {
        return {false, currentErrorDescription(), elapsedMs()};
    }
    if (!compiledModel_)
        return {false, OnDeviceLlmError::predictionFailed("model is nil after load").errorDescription(), elapsedMs()};

    ml::FeatureProvider outputs;
    try {
        std::map<std::string, ml::FeatureValue> inputs;
        for (const ml::FeatureDescription& input : compiledModel_->inputDescriptions())
            if (input.type == ml::FeatureType::string) inputs.emplace(input.name, ml::FeatureValue::string(prompt));
        outputs = compiledModel_->prediction(ml::FeatureProvider(inputs));
    } catch (...) {
        return {false, currentErrorDescription(), elapsedMs()};
    }
    const double elapsed = elapsedMs();

    const std::vector<std::string> names = outputs.featureNames();
    const std::string name = names.empty() ? "output" : names.front();
    const ml::FeatureValue* value = outputs.featureValue(name);
    if (value && value->stringValue()) return {true, *value->stringValue(), elapsed};
    return {true, "(model produced a non-string output: " + renderNames(names) + ")", elapsed};
}

}  // namespace nimbo
