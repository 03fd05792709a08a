// Feature values and providers, and compiled-model folders: shared by the app side
// and the runtime module.
#include "platform/ml/MlModel.h"

#include <system_error>

namespace nimbo::platform::ml {
namespace fs = std::filesystem;

CompiledModel::~CompiledModel() {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
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

}  // namespace nimbo::platform::ml
