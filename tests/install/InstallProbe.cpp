// Copied by the install test into an installed prefix's bin folder, beside nimbochat and
// with nimbochat's RUNPATH: asks OnDeviceLlm for one answer from the model folder given as
// argument, as the app's hidden test does, and prints it and the runtime module it loaded.
#include "chat/ondevice/OnDeviceLlm.h"

#include <cstdio>
#include <cstring>

#include <link.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    nimbo::OnDeviceLlm llm("http://127.0.0.1:9/unused", argv[1]);
    const nimbo::OnDeviceInferResult result = llm.generateText("Say hello in one short sentence.");
    std::printf("%s\n", result.text.c_str());
    dl_iterate_phdr([](dl_phdr_info* info, size_t, void*) {
        if (std::strstr(info->dlpi_name, "libnimbo_ml_runtime")) std::printf("module: %s\n", info->dlpi_name);
        return 0;
    }, nullptr);
    return result.ok ? 0 : 1;
}
