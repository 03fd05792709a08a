#pragma once
// The service addresses the process talks to. Compiled in (see cmake/ServiceConfig.cmake);
// a test program may point the process at loopback servers before first use.

#include <string>
#include <vector>

namespace nimbo::api {

struct ServiceEndpoints {
    std::vector<std::string> apiBases;  // production first, then test
    std::string webBase;

    // The addresses in force for this process.
    static const ServiceEndpoints& current();
    // Replaces the addresses for the rest of the process. Only for test and
    // benchmark programs, before any shared client is first used.
    static void overrideForProcess(ServiceEndpoints endpoints);
};

}  // namespace nimbo::api
