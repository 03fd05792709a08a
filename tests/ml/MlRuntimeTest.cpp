// The machine-learning runtime over libtorch: packages, compile, load, describe, predict.

#include "MlTestSupport.h"

#include "platform/ml/MlModel.h"

#include <gtest/gtest.h>
#include <torch/cuda.h>

#include <sys/stat.h>

namespace nimbo::test {
namespace {
namespace fs = std::filesystem;
namespace ml = platform::ml;

std::string compileError(const fs::path& package) {
    try {
        ml::compileModel(package);
    } catch (const ml::MlError& error) {
        return error.what();
    }
    return "(compiled)";
}

std::unique_ptr<ml::Model> compileAndLoad(const fs::path& package) {
    const ml::CompiledModel compiled = ml::compileModel(package);
    return ml::Model::load(compiled.location(), {});
}

TEST(MlRuntime, CorruptOrMissingPackageFilesGiveClearErrors) {
    TempFolder folder;
    const fs::path package = folder.path() / "broken.mlpackage";
    EXPECT_EQ(compileError(package), "Model package " + package.string() + " is missing or is not a folder");
    fs::create_directories(package);
    EXPECT_EQ(compileError(package), "Model package " + package.string() + " has no Manifest.json");
    writeFile(package / "Manifest.json", "{ not json");
    EXPECT_EQ(compileError(package), "Model package " + package.string() + " has a Manifest.json that is not a JSON object");
    writeFile(package / "Manifest.json", R"({"format": "onnx", "formatVersion": 1, "modelFile": "model.pt"})");
    EXPECT_EQ(compileError(package),
              "Model package " + package.string() + " has an unsupported format (expected \"torchscript\", version 1)");
    writeFile(package / "Manifest.json", R"({"format": "torchscript", "formatVersion": 1, "modelFile": "../model.pt"})");
    EXPECT_EQ(compileError(package), "Model package " + package.string() + " names no valid model file in its manifest");
    writeFile(package / "Manifest.json", R"({"format": "torchscript", "formatVersion": 1, "modelFile": "model.pt"})");
    EXPECT_EQ(compileError(package), "Model package " + package.string() + " is missing its model file model.pt");
    writeFile(package / "model.pt", "this is not a TorchScript archive");
    const std::string corrupt = compileError(package);
    EXPECT_EQ(corrupt.rfind("Cannot read the TorchScript file " + (package / "model.pt").string() + ": ", 0), 0u)
        << corrupt;
    EXPECT_EQ(corrupt.find('\n'), std::string::npos) << corrupt;
}

TEST(MlRuntime, ModuleWithoutForwardIsRefused) {
    TempFolder folder;
    writePackage(folder.path() / "m.mlpackage", "def helper(self, x: int) -> int:\n    return x\n");
    EXPECT_EQ(compileError(folder.path() / "m.mlpackage"), "The model has no forward method");
}

TEST(MlRuntime, CompiledModelLivesInAPrivateFolderRemovedAfterUse) {
    TempFolder folder;
    writePackage(folder.path() / "m.mlpackage", "def forward(self, prompt: str) -> Dict[str, str]:\n    return {'a': prompt}\n");
    fs::path location;
    {
        const ml::CompiledModel compiled = ml::compileModel(folder.path() / "m.mlpackage");
        location = compiled.location();
        EXPECT_EQ(location.parent_path(), fs::temp_directory_path());
        struct stat info {};
        ASSERT_EQ(::stat(location.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_NE(ml::Model::load(location, {}), nullptr);
    }
    EXPECT_FALSE(fs::exists(location));
    try {
        ml::Model::load(location, {});
        ADD_FAILURE() << "loaded a removed model";
    } catch (const ml::MlError& error) {
        EXPECT_EQ(std::string(error.what()), "No compiled model at " + location.string());
    }
}

TEST(MlRuntime, DescribesInputsAndPredictsFromNamedFeatures) {
    TempFolder folder;
    writePackage(folder.path() / "m.mlpackage",
                 "def forward(self, prompt: str, count: int = 2, tone: str = '!') -> Dict[str, str]:\n"
                 "    return {'echo': prompt + str(count) + tone, 'size': str(len(prompt))}\n");
    const auto model = compileAndLoad(folder.path() / "m.mlpackage");
    EXPECT_EQ(model->runsOnGpu(), torch::cuda::is_available());
    const auto& inputs = model->inputDescriptions();
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].name, "prompt");
    EXPECT_EQ(inputs[0].type, ml::FeatureType::string);
    EXPECT_EQ(inputs[1].name, "count");
    EXPECT_EQ(inputs[1].type, ml::FeatureType::other);
    EXPECT_EQ(inputs[1].typeName, "int");
    EXPECT_EQ(inputs[2].type, ml::FeatureType::string);

    const ml::FeatureProvider outputs = model->prediction(ml::FeatureProvider(
        {{"prompt", ml::FeatureValue::string("ab")}, {"unused", ml::FeatureValue::string("x")}}));
    EXPECT_EQ(outputs.featureNames(), (std::vector<std::string>{"echo", "size"}));
    EXPECT_EQ(outputs.featureValue("echo")->stringValue(), "ab2!");
    EXPECT_EQ(outputs.featureValue("size")->stringValue(), "2");
    EXPECT_EQ(outputs.featureValue("missing"), nullptr);
}

TEST(MlRuntime, NonStringResultsAreNonStringFeatures) {
    TempFolder folder;
    writePackage(folder.path() / "d.mlpackage",
                 "def forward(self, prompt: str) -> Dict[str, Tensor]:\n    return {'logits': torch.zeros(2)}\n");
    writePackage(folder.path() / "t.mlpackage", "def forward(self, prompt: str) -> int:\n    return len(prompt)\n");
    const ml::FeatureProvider input({{"prompt", ml::FeatureValue::string("hi")}});
    const auto dictOutputs = compileAndLoad(folder.path() / "d.mlpackage")->prediction(input);
    EXPECT_EQ(dictOutputs.featureNames(), std::vector<std::string>{"logits"});
    EXPECT_FALSE(dictOutputs.featureValue("logits")->stringValue());
    EXPECT_EQ(dictOutputs.featureValue("logits")->typeName(), "Tensor");
    const auto plainOutputs = compileAndLoad(folder.path() / "t.mlpackage")->prediction(input);
    EXPECT_EQ(plainOutputs.featureNames(), std::vector<std::string>{"output"});
    EXPECT_EQ(plainOutputs.featureValue("output")->typeName(), "int");
}

TEST(MlRuntime, PredictionFailuresBecomeReadableErrors) {
    TempFolder folder;
    writePackage(folder.path() / "m.mlpackage",
                 "def forward(self, prompt: str, count: int) -> Dict[str, str]:\n    return {'a': prompt + str(count)}\n");
    const auto model = compileAndLoad(folder.path() / "m.mlpackage");
    auto failureOf = [&](const ml::FeatureProvider& inputs) -> std::string {
        try {
            model->prediction(inputs);
        } catch (const ml::MlError& error) {
            return error.what();
        }
        return "(no error)";
    };
    EXPECT_EQ(failureOf(ml::FeatureProvider({{"prompt", ml::FeatureValue::string("x")}})),
              "Input feature \"count\" is required but was not given");
    EXPECT_EQ(failureOf(ml::FeatureProvider({{"prompt", ml::FeatureValue::string("x")},
                                             {"count", ml::FeatureValue::string("3")}})),
              "Input feature \"count\" is a str value, but the model expects int");

    writePackage(folder.path() / "r.mlpackage",
                 "def forward(self, prompt: str) -> Dict[str, str]:\n"
                 "    return {'a': str(torch.ones(len(prompt)) + torch.ones(3))}\n");
    const auto raising = compileAndLoad(folder.path() / "r.mlpackage");
    try {
        raising->prediction(ml::FeatureProvider({{"prompt", ml::FeatureValue::string("fail")}}));
        ADD_FAILURE() << "no error";
    } catch (const ml::MlError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Model prediction failed: ", 0), 0u) << text;
        EXPECT_NE(text.find("must match the size of tensor b (3)"), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace nimbo::test
