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

}  // namespace

CompiledModel::~CompiledModel() {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
}

CompiledModel compileModel(const fs::path& packageDir) {
    const ModelPackage package = readModelPackage(packageDir);
    const std::string modelFile = package.modelFile.string();
    torch::jit::Module module = guarded("Cannot read the TorchScript file " + modelFile,
                                        [&] { return torch::jit::load(modelFile, torch::kCPU); });
    forwardOf(module);
    module.eval();
    torch::jit::Module optimised = guarded("Cannot optimise " + modelFile + " for inference", [&] {
        torch::jit::Module frozen = torch::jit::freeze(module);
        return torch::jit::optimize_for_inference(frozen);
    });
    CompiledModel compiled(makePrivateTempFolder(packageDir.stem().string()));
    guarded("Cannot save the compiled model",
            [&] { optimised.save((compiled.location() / kCompiledModelFileName).string()); });
    return compiled;
}

std::optional<std::string> FeatureValue::stringValue() const {
    if (type_ == FeatureType::string) return text_;
    return std::nullopt;
}

FeatureProvider::FeatureProvider(const std::map<std::string, FeatureValue>& dictionary)
    : features_(dictionary.begin(), dictionary.end()) {}

void FeatureProvider::set(const std::string& name, FeatureValue value) {
    for (auto& [existing, current] : features_) {
        if (existing == name) {
            current = std::move(value);
            return;
        }
    }
    features_.emplace_back(name, std::move(value));
}

std::vector<std::string> FeatureProvider::featureNames() const {
    std::vector<std::string> names;
    names.reserve(features_.size());
    for (const auto& feature : features_) names.push_back(feature.first);
    return names;
}

const FeatureValue* FeatureProvider::featureValue(const std::string& name) const {
    for (const auto& [existing, value] : features_)
        if (existing == name) return &value;
    return nullptr;
}

struct Model::Impl {
    torch::jit::Module module;
    std::vector<c10::Argument> arguments;  // of forward, without self
    std::vector<FeatureDescription> inputs;
    bool gpu = false;

    std::vector<c10::IValue> callArguments(const FeatureProvider& features) const;
};

std::vector<c10::IValue> Model::Impl::callArguments(const FeatureProvider& features) const {
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

Model::Model(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Model::~Model() = default;

std::unique_ptr<Model> Model::load(const fs::path& compiledModel, const ModelConfiguration& configuration) {
    const fs::path file = compiledModel / kCompiledModelFileName;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) throw MlError("No compiled model at " + compiledModel.string());
    auto impl = std::make_unique<Impl>();
    impl->gpu = configuration.computeUnits != ComputeUnits::cpuOnly && torch::cuda::is_available();
    const torch::Device device(impl->gpu ? torch::kCUDA : torch::kCPU);
    impl->module = guarded("Cannot load the compiled model " + file.string(),
                           [&] { return torch::jit::load(file.string(), device); });
    impl->module.eval();
    const std::vector<c10::Argument> schemaArguments = forwardOf(impl->module).function().getSchema().arguments();
    impl->arguments.assign(schemaArguments.begin() + (schemaArguments.empty() ? 0 : 1), schemaArguments.end());
    for (const c10::Argument& argument : impl->arguments) {
        const bool isString = argument.type()->kind() == c10::TypeKind::StringType;
        impl->inputs.push_back({argument.name(), isString ? FeatureType::string : FeatureType::other,
                                argument.type()->annotation_str()});
    }
    return std::unique_ptr<Model>(new Model(std::move(impl)));
}

const std::vector<FeatureDescription>& Model::inputDescriptions() const { return impl_->inputs; }

bool Model::runsOnGpu() const { return impl_->gpu; }

FeatureProvider Model::prediction(const FeatureProvider& inputs) const {
    return guarded("Model prediction failed", [&] {
        std::vector<c10::IValue> stack = impl_->callArguments(inputs);
        c10::InferenceMode inferenceOnly;
        return outputsOf(impl_->module.forward(std::move(stack)));
    });
}

}  // namespace nimbo::platform::ml
