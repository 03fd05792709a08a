#pragma once
// The on-device language model: downloads the packaged model once into the app's
// private storage, compiles and loads it with the machine-learning runtime, and
// answers one prompt at a time.
//
// Every operation blocks; callers run them on a worker (nimbo::runAsync). Calls that
// overlap are serialised here, so the loaded model is never read while it is written.

#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace nimbo::platform::ml {
class Model;
}

namespace nimbo {

struct OnDeviceInferResult {
    bool ok = false;
    std::string text;       // the answer when ok, else the failure's description
    double elapsedMs = 0;   // the whole request, loading and compiling included
};

class OnDeviceLlmError : public std::exception {
public:
    enum class Kind { downloadFailed, compileFailed, predictionFailed, modelNotFound };

    static OnDeviceLlmError downloadFailed(std::string detail) { return {Kind::downloadFailed, std::move(detail)}; }
    static OnDeviceLlmError compileFailed(std::string detail) { return {Kind::compileFailed, std::move(detail)}; }
    static OnDeviceLlmError predictionFailed(std::string detail) { return {Kind::predictionFailed, std::move(detail)}; }
    static OnDeviceLlmError modelNotFound() { return {Kind::modelNotFound, {}}; }

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    OnDeviceLlmError(Kind kind, std::string payload);
    Kind kind_;
    std::string payload_;
    std::string description_;
};

class OnDeviceLlm {
public:
    static inline const std::string modelFilename = "phi3-mini-int4.mlpackage.zip";
    static inline const std::string packageName = "phi3-mini-int4.mlpackage";

    // The process-wide instance (production host, application-support folder).
    // Created on first use, never destroyed.
    static OnDeviceLlm& shared();

    // An instance over another address and folder; the app uses shared() only.
    OnDeviceLlm(std::string modelUrl, std::filesystem::path modelDirectory);
    ~OnDeviceLlm();
    OnDeviceLlm(const OnDeviceLlm&) = delete;
    OnDeviceLlm& operator=(const OnDeviceLlm&) = delete;

    const std::string& modelURL() const { return modelUrl_; }
    const std::filesystem::path& modelDirectory() const { return modelDirectory_; }
    std::filesystem::path archivePath() const { return modelDirectory_ / modelFilename; }
    std::filesystem::path packagePath() const { return modelDirectory_ / packageName; }

    // Makes sure the archive is on disk. Throws OnDeviceLlmError, the download's
    // TransportError, or std::filesystem::filesystem_error.
    void ensureModelDownloaded();
    // Makes sure the model is compiled and loaded. Throws OnDeviceLlmError or
    // std::filesystem::filesystem_error.
    void ensureModelLoaded();
    // Answers `prompt`, loading the model when needed. Never throws.
    OnDeviceInferResult generateText(const std::string& prompt);

private:
    void downloadLocked();
    void loadLocked();
    // There is no archive extraction: only an archive location that is already a
    // folder (an unpacked package) is accepted; anything else fails with a text
    // saying so. `destination` is not used.
    void unzip(const std::filesystem::path& archive, const std::filesystem::path& destination);

    const std::string modelUrl_;
    const std::filesystem::path modelDirectory_;
    std::mutex mutex_;  // serialises every operation
    std::unique_ptr<platform::ml::Model> compiledModel_;
};

}  // namespace nimbo
