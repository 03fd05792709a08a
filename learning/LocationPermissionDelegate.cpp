#include "learning/LocationPermissionDelegate.h"

#include <utility>

namespace nimbo {

void LocationPermissionDelegate::requestWhenInUse(std::function<void(bool granted)> completion) {
    completion_ = std::move(completion);
    platform::PermissionCenter::current().request(platform::Permission::Location, this,
                                                  [this](platform::PermissionStatus status) {
                                                      locationManagerDidChangeAuthorization(status);
                                                  });
}

void LocationPermissionDelegate::locationManagerDidChangeAuthorization(platform::PermissionStatus status) {
    if (status == platform::PermissionStatus::NotDetermined || !completion_) return;
    const auto completion = std::exchange(completion_, nullptr);
    completion(status == platform::PermissionStatus::Authorized);
}

}  // namespace nimbo
