// On-device model figures for the committed package: the first generateText of a
// process (compile + load + predict), a warm generateText, and the warm call against
// a bare libtorch forward of the same compiled module. Medians of 5 runs; a warm run
// is a block of calls, timed as a whole and divided, so that one scheduling hiccup on a
// busy machine does not decide the figure.

#include "chat/ondevice/OnDeviceLlm.h"
#include "platform/ml/MlModel.h"

#include <c10/core/InferenceMode.h>
#include <torch/script.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include <unistd.h>

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr int kCallsPerWarmRun = 20;
const std::string kPrompt = "Say hello in one short sentence.";

double millisecondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Mean time of one call over a block of calls.
double perCallMillisecondsOf(const std::function<void()>& call) {
    return millisecondsOf([&] {
               for (int i = 0; i < kCallsPerWarmRun; ++i) call();
           }) /
           kCallsPerWarmRun;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A model folder as the app has it after a download, with the package placed beside it.
fs::path prepareModelDirectory(const fs::path& scratch) {
    const fs::path modelDir = scratch / "OnDeviceLlm";
    fs::create_directories(modelDir);
    fs::copy_file(NIMBO_MODEL_ARCHIVE, modelDir / nimbo::OnDeviceLlm::modelFilename);
    fs::copy(NIMBO_MODEL_PACKAGE_DIR, modelDir / nimbo::OnDeviceLlm::packageName, fs::copy_options::recursive);
    return modelDir;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/nimbo-ml-bench-XXXXXX";
    const fs::path scratch = ::mkdtemp(pattern);
    ::setenv("TMPDIR", scratch.c_str(), 1);
    const fs::path modelDir = prepareModelDirectory(scratch);
    const std::string unusedUrl = "http://127.0.0.1:9/models/" + nimbo::OnDeviceLlm::modelFilename;

    std::vector<double> first;
    std::string answer;
    for (int i = 0; i < kRuns; ++i) {
        nimbo::OnDeviceLlm llm(unusedUrl, modelDir);
        first.push_back(millisecondsOf([&] { answer = llm.generateText(kPrompt).text; }));
    }

    nimbo::OnDeviceLlm warm(unusedUrl, modelDir);
    for (int i = 0; i < 3; ++i) warm.generateText(kPrompt);
    const nimbo::platform::ml::CompiledModel compiled =
        nimbo::platform::ml::compileModel(modelDir / nimbo::OnDeviceLlm::packageName);
    // The compiled form names no device; the runtime freezes and optimises it at load, and so does this.
    torch::jit::Module loaded = torch::jit::load((compiled.location() / nimbo::platform::ml::kCompiledModelFileName).string());
    loaded.eval();
    torch::jit::Module frozen = torch::jit::freeze(loaded);
    torch::jit::Module bare = torch::jit::optimize_for_inference(frozen);
    auto bareForward = [&] {
        c10::InferenceMode inferenceOnly;
        bare.forward({kPrompt});
    };
    for (int i = 0; i < 3; ++i) bareForward();

    // Interleaved, so that both see the same machine load.
    std::vector<double> warmRuns;
    std::vector<double> bareRuns;
    for (int i = 0; i < kRuns; ++i) {
        warmRuns.push_back(perCallMillisecondsOf([&] { warm.generateText(kPrompt); }));
        bareRuns.push_back(perCallMillisecondsOf(bareForward));
    }
    fs::remove_all(scratch);

    std::printf("on-device model (committed package), medians of %d runs (warm runs: %d calls each)\n", kRuns,
                kCallsPerWarmRun);
    std::printf("  answer to \"%s\": \"%s\"\n", kPrompt.c_str(), answer.c_str());
    std::printf("  first generateText (compile + load + predict): %8.2f ms\n", median(first));
    std::printf("  warm generateText:                             %8.2f ms\n", median(warmRuns));
    std::printf("  bare libtorch forward of the same module:      %8.2f ms\n", median(bareRuns));
    std::printf("  ratio warm generateText / bare forward:        %8.3f (target <= 1.10)\n",
                median(warmRuns) / median(bareRuns));
    return 0;
}
