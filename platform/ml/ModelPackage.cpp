#include "platform/ml/ModelPackage.h"

#include "platform/ml/MlModel.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>

namespace nimbo::platform::ml {
namespace {
namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxManifestBytes = 64 * 1024;

[[noreturn]] void fail(const fs::path& packageDir, const std::string& problem) {
    throw MlError("Model package " + packageDir.string() + " " + problem);
}

nlohmann::json readManifest(const fs::path& packageDir) {
    const fs::path path = packageDir / kManifestFileName;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) fail(packageDir, std::string("has no ") + kManifestFileName);
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxManifestBytes) fail(packageDir, std::string("has an unreadable ") + kManifestFileName);
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) fail(packageDir, std::string("has an unreadable ") + kManifestFileName);
    nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
    if (!manifest.is_object()) fail(packageDir, std::string("has a ") + kManifestFileName + " that is not a JSON object");
    return manifest;
}

std::string stringField(const nlohmann::json& manifest, const char* key) {
    const auto it = manifest.find(key);
    return it != manifest.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A bare file name: no folders, so the manifest cannot point outside its package.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

ModelPackage readModelPackage(const fs::path& packageDir) {
    std::error_code ec;
    if (!fs::is_directory(packageDir, ec)) fail(packageDir, "is missing or is not a folder");
    const nlohmann::json manifest = readManifest(packageDir);
    const auto version = manifest.find("formatVersion");
    if (stringField(manifest, "format") != "torchscript" || version == manifest.end() ||
        !version->is_number_integer() || version->get<long long>() != kPackageFormatVersion)
        fail(packageDir, "has an unsupported format (expected \"torchscript\", version 1)");
    const std::string modelFile = stringField(manifest, "modelFile");
    if (!isPlainFileName(modelFile)) fail(packageDir, "names no valid model file in its manifest");
    ModelPackage package{packageDir / modelFile, stringField(manifest, "name")};
    if (!fs::is_regular_file(package.modelFile, ec)) fail(packageDir, "is missing its model file " + modelFile);
    return package;
}

}  // namespace nimbo::platform::ml
