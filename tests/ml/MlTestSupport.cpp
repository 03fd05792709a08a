#include "MlTestSupport.h"

#include "platform/http/HttpClient.h"

#include <gtest/gtest.h>
#include <torch/script.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace nimbo::test {
namespace {
fs::path scratch;
}

fs::path scratchDir() { return scratch; }

TempFolder::TempFolder() {
    std::string pattern = (scratch / "case-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
}

TempFolder::~TempFolder() { fs::remove_all(path_); }

fs::path committedPackage() { return NIMBO_MODEL_PACKAGE_DIR; }

std::string committedArchiveBytes() { return readFile(NIMBO_MODEL_ARCHIVE); }

void writePackage(const fs::path& packageDir, const std::string& source) {
    fs::create_directories(packageDir);
    torch::jit::Module module("TestModel");
    module.define(source);
    module.save((packageDir / "model.pt").string());
    writeFile(packageDir / "Manifest.json",
              R"({"format": "torchscript", "formatVersion": 1, "modelFile": "model.pt", "name": "test"})");
}

void copyCommittedPackage(const fs::path& packageDir) {
    fs::create_directories(packageDir);
    fs::copy(committedPackage(), packageDir, fs::copy_options::recursive);
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : " ") + name;
    return text;
}

}  // namespace nimbo::test

// Private data and temporary folders for the whole program.
int main(int argc, char** argv) {
    char pattern[] = "/tmp/nimbo-ml-test-XXXXXX";
    nimbo::test::scratch = ::mkdtemp(pattern);
    fs::create_directories(nimbo::test::scratch / "tmp");
    ::setenv("XDG_DATA_HOME", (nimbo::test::scratch / "data").c_str(), 1);
    ::setenv("TMPDIR", (nimbo::test::scratch / "tmp").c_str(), 1);
    nimbo::platform::http::initialise();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    fs::remove_all(nimbo::test::scratch);
    return result;
}
