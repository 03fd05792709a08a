#pragma once
// A model package: a folder (e.g. "phi3-mini-int4.mlpackage") holding a TorchScript
// file and "Manifest.json", which names that file (see docs/model-package.md).

#include <filesystem>
#include <string>

namespace nimbo::platform::ml {

inline constexpr const char* kManifestFileName = "Manifest.json";
inline constexpr int kPackageFormatVersion = 1;

struct ModelPackage {
    std::filesystem::path modelFile;  // the TorchScript file inside the package
    std::string name;                 // the manifest's "name", may be empty
};

// Reads and checks the package's manifest and that its model file is present.
// Throws MlError with a text naming the package and what is wrong.
ModelPackage readModelPackage(const std::filesystem::path& packageDir);

}  // namespace nimbo::platform::ml
