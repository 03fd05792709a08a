#pragma once
// The error of every account, credit and chat operation of NimboApi.

#include <exception>
#include <optional>
#include <string>

namespace nimbo::api {

class NimboApiError : public std::exception {
public:
    enum class Kind { Api, Network, Empty, Unauthorized };

    static NimboApiError api(std::string message, int httpStatus);
    // `underlying` describes the transport failure; it is carried along, never shown.
    static NimboApiError network(std::string underlying);
    static NimboApiError empty(std::string path);
    static NimboApiError unauthorized();

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }  // Api: the message
    int httpStatus() const { return httpStatus_; }             // Api: the status, or -1
    const std::string& underlying() const { return detail_; }  // Network
    const std::string& path() const { return detail_; }        // Empty

    // The user-readable text of this error (always present for this type).
    std::string errorDescription() const;
    const char* what() const noexcept override { return description_.c_str(); }

private:
    NimboApiError(Kind kind, std::string message, int httpStatus, std::string detail);

    Kind kind_;
    std::string message_;
    int httpStatus_ = -1;
    std::string detail_;
    std::string description_;
};

inline constexpr const char* kNetworkErrorText = "Network error \u2014 check your connection and try again.";

// The NimboApiError held by `error`, if it holds one.
std::optional<NimboApiError> asNimboApiError(const std::exception_ptr& error);

}  // namespace nimbo::api
