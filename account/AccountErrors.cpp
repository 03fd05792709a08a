#include "account/AccountErrors.h"

#include "api/NimboApiError.h"

namespace nimbo::account {
using api::NimboApiError;

QString friendlyError(const std::exception_ptr& error) {
    const auto apiError = api::asNimboApiError(error);
    if (!apiError) return QString::fromUtf8(api::kNetworkErrorText);
    switch (apiError->kind()) {
    case NimboApiError::Kind::Api: return QString::fromStdString(apiError->message());
    case NimboApiError::Kind::Network: return QString::fromUtf8(api::kNetworkErrorText);
    case NimboApiError::Kind::Empty: return QStringLiteral("Sign-in failed.");
    case NimboApiError::Kind::Unauthorized: return QStringLiteral("Invalid email or password.");
    }
    return QString::fromUtf8(api::kNetworkErrorText);
}

QString describeError(const std::exception_ptr& error, const QString& fallback) {
    const auto apiError = api::asNimboApiError(error);
    return apiError ? QString::fromStdString(apiError->errorDescription()) : fallback;
}

}  // namespace nimbo::account
