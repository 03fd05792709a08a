#pragma once
// The machine-learning runtime: TorchScript model packages compiled, loaded and run
// through libtorch. Shaped like the phone's runtime: a package is compiled into a
// compiled-model location, loaded with a compute-unit choice, described by its
// inputs, and asked for predictions from named features.
//
// Every failure, libtorch's included, is thrown as MlError with a readable text.
//
// libtorch itself lives in a separate runtime module that is loaded on first use, so
// that a process which never runs a model (the app, most of the time) does not pay
// for loading it at start-up.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace nimbo::platform::ml {

class MlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The TorchScript file inside a compiled-model location.
inline constexpr const char* kCompiledModelFileName = "model.pt";

// A compiled model in a fresh private temporary folder, removed with this object.
class CompiledModel {
public:
    explicit CompiledModel(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~CompiledModel();
    CompiledModel(CompiledModel&& other) noexcept : folder_(std::exchange(other.folder_, {})) {}
    CompiledModel& operator=(CompiledModel&&) = delete;
    CompiledModel(const CompiledModel&) = delete;
    CompiledModel& operator=(const CompiledModel&) = delete;

    const std::filesystem::path& location() const { return folder_; }

private:
    std::filesystem::path folder_;
};

// Reads the package at `packageDir`, checks its TorchScript module and saves it into a
// fresh temporary folder. The compiled form names no device: Model::load freezes and
// optimises it for inference on the device it chooses.
CompiledModel compileModel(const std::filesystem::path& packageDir);

// Where a loaded model runs. cpuAndGpu and all use a GPU when libtorch has one.
enum class ComputeUnits { cpuOnly = 0, cpuAndGpu = 1, all = 2 };

struct ModelConfiguration {
    ComputeUnits computeUnits = ComputeUnits::all;
};

enum class FeatureType { string, other };

struct FeatureDescription {
    std::string name;
    FeatureType type = FeatureType::other;
    std::string typeName;  // the TorchScript type, e.g. "str", "int", "Tensor"
};

// One named value: a string, or a value of another type known only by its type name.
class FeatureValue {
public:
    static FeatureValue string(std::string value) { return FeatureValue(FeatureType::string, std::move(value)); }
    static FeatureValue other(std::string typeName) { return FeatureValue(FeatureType::other, std::move(typeName)); }

    FeatureType type() const { return type_; }
    // The text of a string feature; absent for any other type.
    std::optional<std::string> stringValue() const;
    std::string typeName() const { return type_ == FeatureType::string ? "str" : text_; }

private:
    FeatureValue(FeatureType type, std::string text) : type_(type), text_(std::move(text)) {}
    FeatureType type_;
    std::string text_;
};

// Named feature values in a fixed order (a dictionary's key order, or a model's output order).
class FeatureProvider {
public:
    FeatureProvider() = default;
    explicit FeatureProvider(const std::map<std::string, FeatureValue>& dictionary);

    // Adds `name`, or replaces its value while keeping its place.
    void set(const std::string& name, FeatureValue value);
    std::vector<std::string> featureNames() const;
    const FeatureValue* featureValue(const std::string& name) const;

private:
    std::vector<std::pair<std::string, FeatureValue>> features_;
};

class Model {
public:
    // Loads a compiled model. Throws MlError.
    static std::unique_ptr<Model> load(const std::filesystem::path& compiledModel,
                                       const ModelConfiguration& configuration);
    virtual ~Model() = default;
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // The arguments of `forward`, in order.
    virtual const std::vector<FeatureDescription>& inputDescriptions() const = 0;
    virtual bool runsOnGpu() const = 0;

    // Calls `forward` with the named inputs (an argument with a default may be left
    // out). A Dict[str, V] result gives one feature per key; any other result gives
    // one feature named "output". Throws MlError.
    virtual FeatureProvider prediction(const FeatureProvider& inputs) const = 0;

protected:
    Model() = default;
};

// What the runtime module provides; reached through compileModel and Model::load.
struct RuntimeEntryPoints {
    CompiledModel (*compileModel)(const std::filesystem::path& packageDir);
    std::unique_ptr<Model> (*loadModel)(const std::filesystem::path& compiledModel,
                                        const ModelConfiguration& configuration);
};

}  // namespace nimbo::platform::ml
