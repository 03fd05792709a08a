#pragma once
// Asks for when-in-use location permission and hands the answer to one waiting
// completion. A status decided before the request is answered at once, so a waiting
// flow always resumes.

#include "platform/device/PermissionCenter.h"

#include <QObject>

#include <functional>

namespace nimbo {

class LocationPermissionDelegate : public QObject {
    Q_OBJECT

public:
    explicit LocationPermissionDelegate(QObject* parent = nullptr) : QObject(parent) {}

    // Stores `completion` (replacing a stored one) and asks for the permission.
    void requestWhenInUse(std::function<void(bool granted)> completion);
    // The permission's status changed (or was already decided): a decided status
    // takes the stored completion out and calls it; "not determined" keeps waiting.
    void locationManagerDidChangeAuthorization(platform::PermissionStatus status);

private:
    std::function<void(bool)> completion_;
};

}  // namespace nimbo
