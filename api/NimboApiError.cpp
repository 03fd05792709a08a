#include "api/NimboApiError.h"

namespace nimbo::api {

NimboApiError::NimboApiError(Kind kind, std::string message, int httpStatus, std::string detail)
    : kind_(kind), message_(std::move(message)), httpStatus_(httpStatus), detail_(std::move(detail)) {
    description_ = errorDescription();
}

NimboApiError NimboApiError::api(std::string message, int httpStatus) {
    return NimboApiError(Kind::Api, std::move(message), httpStatus, {});
}
NimboApiError NimboApiError::network(std::string underlying) {
    return NimboApiError(Kind::Network, {}, -1, std::move(underlying));
}
NimboApiError NimboApiError::empty(std::string path) {
    return NimboApiError(Kind::Empty, {}, -1, std::move(path));
}
NimboApiError NimboApiError::unauthorized() {
    return NimboApiError(Kind::Unauthorized, {}, -1, {});
}

std::string NimboApiError::errorDescription() const {
    switch (kind_) {
    case Kind::Api: return message_;
    case Kind::Network: return kNetworkErrorText;
    case Kind::Empty: return "Empty response from " + detail_ + ".";
    case Kind::Unauthorized: return "Invalid email or password.";
    }
    return {};
}

std::optional<NimboApiError> asNimboApiError(const std::exception_ptr& error) {
    if (!error) return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const NimboApiError& e) {
        return e;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace nimbo::api
