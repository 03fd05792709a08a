#pragma once
// How the chat screen reaches the on-device model. The screen's hidden test action
// goes through this seam, so it can also run against a stand-in model.

#include "chat/ondevice/OnDeviceLlm.h"

#include <memory>
#include <string>

namespace nimbo {

class OnDeviceModel {
public:
    virtual ~OnDeviceModel() = default;
    // Makes sure the model archive is on disk. Throws on failure.
    virtual void ensureDownloaded() = 0;
    // Answers one prompt. Never throws.
    virtual OnDeviceInferResult generate(const std::string& prompt) = 0;

    // The process's model (OnDeviceLlm::shared()).
    static std::shared_ptr<OnDeviceModel> device();
};

}  // namespace nimbo
