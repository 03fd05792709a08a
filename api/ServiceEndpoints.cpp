#include "api/ServiceEndpoints.h"

#include "NimboConfig.h"

#include <mutex>

namespace nimbo::api {
namespace {
std::mutex mutex;
ServiceEndpoints& endpoints() {
    static ServiceEndpoints value{{config::productionApiBase, config::testApiBase}, config::webBase};
    return value;
}
}  // namespace

const ServiceEndpoints& ServiceEndpoints::current() {
    std::lock_guard lock(mutex);
    return endpoints();
}

void ServiceEndpoints::overrideForProcess(ServiceEndpoints replacement) {
    std::lock_guard lock(mutex);
    endpoints() = std::move(replacement);
}

}  // namespace nimbo::api
