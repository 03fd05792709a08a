// The runtime module: everything that needs libtorch. Loaded on first use by
// MlModel.cpp; its one exported symbol gives the entry points.
#include "platform/ml/MlModel.h"
#include "platform/ml/ModelPackage.h"

#include <cstdlib>
#include <system_error>

#include <c10/core/InferenceMode.h>
#include <torch/cuda.h>
#include <torch/script.h>

namespace nimbo::platform::ml {
namespace {
namespace fs = std::filesystem;

// The last line of a multi-line libtorch message (the interpreter puts its
// TorchScript traceback first and the error itself last).
std::string readable(const std::string& message) {
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const auto lastBreak = text.rfind('\n');
    return lastBreak == std::string::npos ? text : text.substr(lastBreak + 1);
}

// Runs `work`, turning any exception into an MlError that starts with `context`.
template <typename Work>
auto guarded(const std::string& context, Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const MlError&) {
        throw;
    } catch (const c10::Error& error) {
        throw MlError(context + ": " + readable(error.what_without_backtrace()));
    } catch (const std::exception& error) {
        throw MlError(context + ": " + readable(error.what()));
    } catch (...) {
        throw MlError(context + ": unknown error");
    }
}

fs::path makePrivateTempFolder(const std::string& stem) {
    return guarded("Cannot create a folder for the compiled model", [&] {
        std::string pattern = (fs::temp_directory_path() / ("nimbo-" + stem + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), pattern);
        return fs::path(pattern);
    });
}

torch::jit::Method forwardOf(const torch::jit::Module& module) {
    if (auto method = module.find_method("forward")) return *method;
    throw MlError("The model has no forward method");
}

FeatureValue featureOf(const c10::IValue& value) {
    if (value.isString()) return FeatureValue::string(value.toStringRef());
    return FeatureValue::other(value.type()->annotation_str());
}

// One feature per key of a Dict[str, V] result, else one feature "output".
FeatureProvider outputsOf(const c10::IValue& result) {
    FeatureProvider outputs;
    if (result.isGenericDict() && result.toGenericDict().keyType()->kind() == c10::TypeKind::StringType) {
        for (const auto& entry : result.toGenericDict()) outputs.set(entry.key().toStringRef(), featureOf(entry.value()));
    } else {
        outputs.set("output", featureOf(result));
    }
    return outputs;
}


// The compiled form is device-neutral: the checked module, saved unfrozen, so that no
// device is folded into its graph. Freezing happens at load, for the device chosen there.
CompiledModel compileTorchModel(const fs::path& packageDir) {
    const ModelPackage package = readModelPackage(packageDir);
    const std::string modelFile = package.modelFile.string();
    torch::jit::Module module = guarded("Cannot read the TorchScript file " + modelFile,
                                        [&] { return torch::jit::load(modelFile, torch::kCPU); });
    forwardOf(module);
    CompiledModel compiled(makePrivateTempFolder(packageDir.stem().string()));
    guarded("Cannot save the compiled model",
            [&] { module.save((compiled.location() / kCompiledModelFileName).string()); });
    return compiled;
}

class TorchModel final : public Model {
public:
    const std::vector<FeatureDescription>& inputDescriptions() const override { return inputs; }
    bool runsOnGpu() const override { return gpu; }
    FeatureProvider prediction(const FeatureProvider& features) const override;

    mutable torch::jit::Module module;  // forward() is not const in libtorch
    std::vector<c10::Argument> arguments;  // of forward, without self
    std::vector<FeatureDescription> inputs;
    bool gpu = false;

    std::vector<c10::IValue> callArguments(const FeatureProvider& features) const;
};

std::vector<c10::IValue> TorchModel::callArguments(const FeatureProvider& features) const {
    std::vector<c10::IValue> stack;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const FeatureDescription& input = inputs[i];
        const FeatureValue* value = features.featureValue(input.name);
        if (!value) {
            if (!arguments[i].default_value())
                throw MlError("Input feature \"" + input.name + "\" is required but was not given");
            stack.push_back(*arguments[i].default_value());
        } else if (value->type() == FeatureType::string && input.type == FeatureType::string) {
            stack.emplace_back(*value->stringValue());
        } else {
            throw MlError("Input feature \"" + input.name + "\" is a " + value->typeName() +
                          " value, but the model expects " + input.typeName);
        }
    }
    return stack;
}

std::unique_ptr<Model> loadTorchModel(const fs::path& compiledModel, const ModelConfiguration& configuration) {
    const fs::path file = compiledModel / kCompiledModelFileName;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) throw MlError("No compiled model at " + compiledModel.string());
    auto impl = std::make_unique<TorchModel>();
    impl->gpu = configuration.computeUnits != ComputeUnits::cpuOnly && torch::cuda::is_available();
    const torch::Device device(impl->gpu ? torch::kCUDA : torch::kCPU);
    // Loaded onto the device first, then frozen: whatever the graph reads from its
    // parameters (their device too) becomes a constant of the device it runs on.
    impl->module = guarded("Cannot load the compiled model " + file.string(), [&] {
        torch::jit::Module module = torch::jit::load(file.string(), device);
        module.eval();
        torch::jit::Module frozen = torch::jit::freeze(module);
        return torch::jit::optimize_for_inference(frozen);
    });
    const std::vector<c10::Argument> schemaArguments = forwardOf(impl->module).function().getSchema().arguments();
    impl->arguments.assign(schemaArguments.begin() + (schemaArguments.empty() ? 0 : 1), schemaArguments.end());
    for (const c10::Argument& argument : impl->arguments) {
        const bool isString = argument.type()->kind() == c10::TypeKind::StringType;
        impl->inputs.push_back({argument.name(), isString ? FeatureType::string : FeatureType::other,
                                argument.type()->annotation_str()});
    }
    return impl;
}

FeatureProvider TorchModel::prediction(const FeatureProvider& features) const {
    return guarded("Model prediction failed", [&] {
        std::vector<c10::IValue> stack = callArguments(features);
        c10::InferenceMode inferenceOnly;
        return outputsOf(module.forward(std::move(stack)));
    });
}

}  // namespace

}  // namespace nimbo::platform::ml

extern "C" __attribute__((visibility("default"))) const nimbo::platform::ml::RuntimeEntryPoints* nimbo_ml_runtime() {
    static const nimbo::platform::ml::RuntimeEntryPoints entryPoints{nimbo::platform::ml::compileTorchModel,
                                                                     nimbo::platform::ml::loadTorchModel};
    return &entryPoints;
}
