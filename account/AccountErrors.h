#pragma once
// How the account screens word failures.

#include <QString>

#include <exception>

namespace nimbo::account {

// The sign-in screen's wording of a failed sign-in.
QString friendlyError(const std::exception_ptr& error);
// The error's own description for a NimboApiError, otherwise `fallback`.
QString describeError(const std::exception_ptr& error, const QString& fallback);

}  // namespace nimbo::account
