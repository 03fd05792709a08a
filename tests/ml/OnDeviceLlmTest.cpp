// OnDeviceLlm against a loopback download server and real model packages.

#include "MlTestSupport.h"
#include "ScriptedServer.h"

#include "api/ServiceEndpoints.h"
#include "chat/ondevice/OnDeviceLlm.h"
#include "platform/http/HttpClient.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

#include <sys/stat.h>

namespace nimbo::test {
namespace {
namespace fs = std::filesystem;

const std::string kModelPath = "/models/phi3-mini-int4.mlpackage.zip";
const std::string kPrompt = "Say hello in one short sentence.";

unsigned permissionsOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

class OnDeviceLlmTest : public ::testing::Test {
protected:
    TempFolder folder;
    ScriptedServer server;
    fs::path modelDir = folder.path() / "OnDeviceLlm";
    OnDeviceLlm llm{server.base() + kModelPath, modelDir};

    void serveArchive(std::chrono::milliseconds delay = {}) {
        server.on("GET", kModelPath, ScriptedResponse{200, committedArchiveBytes(), "application/zip", {}, delay});
    }
    // The archive as downloaded, and a package placed beside it by other means.
    void placeArchiveAndPackage(const std::string& forwardSource = {}) {
        fs::create_directories(modelDir);
        writeFile(llm.archivePath(), committedArchiveBytes());
        if (forwardSource.empty()) copyCommittedPackage(llm.packagePath());
        else writePackage(llm.packagePath(), forwardSource);
    }
    OnDeviceLlmError errorOf(void (OnDeviceLlm::*operation)()) {
        try {
            (llm.*operation)();
        } catch (const OnDeviceLlmError& error) {
            return error;
        }
        ADD_FAILURE() << "expected an OnDeviceLlmError";
        return OnDeviceLlmError::predictionFailed("none");
    }
};

TEST_F(OnDeviceLlmTest, DownloadStoresThePrivateArchiveOnce) {
    serveArchive();
    llm.ensureModelDownloaded();
    EXPECT_EQ(readFile(llm.archivePath()), committedArchiveBytes());
    EXPECT_EQ(permissionsOf(modelDir), 0700u);
    EXPECT_EQ(permissionsOf(llm.archivePath()), 0600u);
    EXPECT_EQ(listing(modelDir), "phi3-mini-int4.mlpackage.zip");
    llm.ensureModelDownloaded();
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].path, kModelPath);
}

TEST_F(OnDeviceLlmTest, NonSuccessStatusIsDownloadFailedAndWritesNoArchive) {
    server.on("GET", kModelPath, ScriptedResponse{404, "no such model", "text/plain"});
    const OnDeviceLlmError error = errorOf(&OnDeviceLlm::ensureModelDownloaded);
    EXPECT_EQ(error.kind(), OnDeviceLlmError::Kind::downloadFailed);
    EXPECT_EQ(error.payload(), "HTTP 404");
    EXPECT_EQ(std::string(error.what()), "On-device model download failed: HTTP 404");
    EXPECT_EQ(listing(modelDir), "");
}

TEST_F(OnDeviceLlmTest, TransportFailuresAreThrownUnchangedAndLeaveNoPartialArchive) {
    server.on("GET", kModelPath,
              ScriptedResponse{200, committedArchiveBytes(), "application/zip", {}, {}, /*cutBodyMidway=*/true});
    EXPECT_THROW(llm.ensureModelDownloaded(), platform::http::TransportError);
    EXPECT_EQ(listing(modelDir), "");

    OnDeviceLlm unreachable(refusingBase() + kModelPath, modelDir);
    EXPECT_THROW(unreachable.ensureModelDownloaded(), platform::http::TransportError);
    EXPECT_EQ(listing(modelDir), "");
}

TEST_F(OnDeviceLlmTest, LoadingWithoutArchiveIsModelNotFound) {
    EXPECT_EQ(errorOf(&OnDeviceLlm::ensureModelLoaded).kind(), OnDeviceLlmError::Kind::modelNotFound);
    const OnDeviceInferResult result = llm.generateText(kPrompt);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text, "On-device model file not found (download first)");
    EXPECT_GE(result.elapsedMs, 0.0);
}

TEST_F(OnDeviceLlmTest, ArchiveWithoutPackageFailsWithTheArchiveRule) {
    serveArchive();
    llm.ensureModelDownloaded();
    const OnDeviceInferResult result = llm.generateText(kPrompt);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text,
              "On-device model compile failed: Model archive at " + llm.archivePath().string() +
                  " is a zip file, and this POC build has no on-device zip extraction wired up yet (see "
                  "OnDeviceLlm's unzip() doc comment). Production path: serve the .mlpackage directory "
                  "pre-extracted so MLModel.compileModel(at:) can load it directly -- tracked in the status doc "
                  "as a follow-up, not silently faked here.");
    EXPECT_EQ(errorOf(&OnDeviceLlm::ensureModelLoaded).kind(), OnDeviceLlmError::Kind::compileFailed);
}

TEST_F(OnDeviceLlmTest, BrokenTorchScriptIsCompileFailedWithTheRuntimeText) {
    placeArchiveAndPackage();
    writeFile(llm.packagePath() / "model.pt", "PK\x03\x04 truncated");
    const OnDeviceInferResult result = llm.generateText(kPrompt);
    EXPECT_FALSE(result.ok);
    const std::string prefix = "On-device model compile failed: Cannot read the TorchScript file " +
                               (llm.packagePath() / "model.pt").string() + ": ";
    EXPECT_EQ(result.text.rfind(prefix, 0), 0u) << result.text;
    EXPECT_GT(result.text.size(), prefix.size());
    EXPECT_EQ(listing(fs::temp_directory_path()), "");
}

TEST_F(OnDeviceLlmTest, CommittedModelGreetsAndLaterCallsNeitherDownloadNorCompile) {
    placeArchiveAndPackage();
    const OnDeviceInferResult first = llm.generateText(kPrompt);
    ASSERT_TRUE(first.ok) << first.text;
    EXPECT_NE(first.text.find("Hello"), std::string::npos) << first.text;
    EXPECT_GT(first.elapsedMs, 0.0);
    EXPECT_EQ(listing(fs::temp_directory_path()), "");  // the compiled folder is gone once loaded

    // With the files gone, only the loaded model can answer.
    fs::remove_all(modelDir);
    const OnDeviceInferResult second = llm.generateText(kPrompt);
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(second.text, first.text);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(fs::exists(modelDir));
}

TEST_F(OnDeviceLlmTest, PromptGoesToTheStringInputAndTheStringOutputIsTheAnswer) {
    placeArchiveAndPackage("def forward(self, question: str) -> Dict[str, str]:\n    return {'reply': 'You said: ' + question}\n");
    const OnDeviceInferResult result = llm.generateText("ping");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, "You said: ping");
}

TEST_F(OnDeviceLlmTest, ModelWithOnlyNonStringInputsReportsTheRuntimeFailure) {
    placeArchiveAndPackage("def forward(self, count: int) -> Dict[str, str]:\n    return {'reply': str(count)}\n");
    const OnDeviceInferResult result = llm.generateText(kPrompt);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text, "Input feature \"count\" is required but was not given");
}

TEST_F(OnDeviceLlmTest, NonStringOutputsAreNamedInTheAnswer) {
    placeArchiveAndPackage("def forward(self, prompt: str) -> Dict[str, int]:\n"
                           "    return {'length': len(prompt), 'words': len(prompt.split())}\n");
    const OnDeviceInferResult result = llm.generateText(kPrompt);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, "(model produced a non-string output: [\"length\", \"words\"])");

    OnDeviceLlm empty(server.base() + kModelPath, folder.path() / "empty");
    fs::create_directories(empty.modelDirectory());
    writeFile(empty.archivePath(), "zip");
    writePackage(empty.packagePath(), "def forward(self, prompt: str) -> Dict[str, str]:\n    return {}\n");
    EXPECT_EQ(empty.generateText(kPrompt).text, "(model produced a non-string output: [])");
}

TEST_F(OnDeviceLlmTest, OverlappingDownloadsFetchTheArchiveOnce) {
    serveArchive(std::chrono::milliseconds(200));
    std::vector<std::future<void>> calls;
    for (int i = 0; i < 3; ++i) calls.push_back(std::async(std::launch::async, [&] { llm.ensureModelDownloaded(); }));
    for (auto& call : calls) call.get();
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(readFile(llm.archivePath()), committedArchiveBytes());
}

TEST_F(OnDeviceLlmTest, OverlappingCallsShareOneLoadedModel) {
    placeArchiveAndPackage();
    std::vector<std::future<OnDeviceInferResult>> answers;
    for (int i = 0; i < 3; ++i)
        answers.push_back(std::async(std::launch::async, [&] { return llm.generateText(kPrompt); }));
    auto loading = std::async(std::launch::async, [&] { llm.ensureModelLoaded(); });
    auto downloading = std::async(std::launch::async, [&] { llm.ensureModelDownloaded(); });
    loading.get();
    downloading.get();
    const OnDeviceInferResult first = answers[0].get();
    ASSERT_TRUE(first.ok) << first.text;
    for (std::size_t i = 1; i < answers.size(); ++i) EXPECT_EQ(answers[i].get().text, first.text);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(listing(fs::temp_directory_path()), "");
}

TEST(OnDeviceLlmShared, UsesTheProductionHostAndTheApplicationSupportFolder) {
    ScriptedServer production;
    api::ServiceEndpoints::overrideForProcess({{production.base(), refusingBase()}, production.base()});
    production.on("GET", kModelPath, ScriptedResponse{200, "archive", "application/zip"});
    OnDeviceLlm& llm = OnDeviceLlm::shared();
    EXPECT_EQ(&llm, &OnDeviceLlm::shared());
    EXPECT_EQ(llm.modelURL(), production.base() + kModelPath);
    EXPECT_EQ(llm.modelDirectory(), scratchDir() / "data" / "NimboChat" / "OnDeviceLlm");
    llm.ensureModelDownloaded();
    EXPECT_EQ(readFile(llm.archivePath()), "archive");
    EXPECT_EQ(permissionsOf(scratchDir() / "data" / "NimboChat"), 0700u);
}

}  // namespace
}  // namespace nimbo::test
