#include "chat/OnDeviceModel.h"

namespace nimbo {
namespace {

class DeviceModel final : public OnDeviceModel {
public:
    void ensureDownloaded() override { OnDeviceLlm::shared().ensureModelDownloaded(); }
    OnDeviceInferResult generate(const std::string& prompt) override {
        return OnDeviceLlm::shared().generateText(prompt);
    }
};

}  // namespace

std::shared_ptr<OnDeviceModel> OnDeviceModel::device() {
    static const std::shared_ptr<OnDeviceModel> model = std::make_shared<DeviceModel>();
    return model;
}

}  // namespace nimbo
