#pragma once
// What every Qt-based test program gets from nimbo_test_main: a QGuiApplication on
// the offscreen platform, private temporary XDG folders, and two scripted servers
// that the process-wide service addresses point at (production first, then test).

#include "ScriptedServer.h"

#include "api/Json.h"
#include "api/NimboApiError.h"

#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace nimbo::test {

// Scripted servers (programs linking nimbo_test_main).
ScriptedServer& productionServer();
ScriptedServer& testServer();
// The real stand-in service (programs linking nimbo_e2e_main): the production
// instance's base; a second instance on the same data serves as the test base.
std::string serviceBase();
// Resets both servers' scripts and records, and empties the cookie store.
void resetServers();
// The temporary folder that XDG_DATA_HOME and XDG_CONFIG_HOME point into.
std::filesystem::path scratchDir();
// The latest request `server` recorded, or a test failure and an empty request when
// there is none; lastBody() is its body parsed as JSON (a failure and null when the
// body is not JSON).
RecordedRequest lastRequest(const ScriptedServer& server);
api::Json lastBody(const ScriptedServer& server);

// Runs the Qt event loop until `condition` holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs the Qt event loop for `duration`.
void spinFor(std::chrono::milliseconds duration);

// The NimboApiError that `call` throws (a test failure when it throws none).
template <class Call>
api::NimboApiError failureOf(Call&& call) {
    try {
        call();
    } catch (const api::NimboApiError& e) {
        return e;
    }
    ADD_FAILURE() << "expected a NimboApiError";
    return api::NimboApiError::api("no error", 0);
}

}  // namespace nimbo::test
