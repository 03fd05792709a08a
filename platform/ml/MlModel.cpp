#include "platform/ml/MlModel.h"

#include <dlfcn.h>

#include <mutex>
#include <system_error>

namespace nimbo::platform::ml {
namespace fs = std::filesystem;
namespace {

// The runtime module, loaded once, on first use; a failure to load it is kept and
// reported by every later call. It is looked up by file name, like a shared library:
// through the program's RUNPATH, which points at the build tree's lib folder there, and
// once installed at <libdir>/nimbochat relative to the executable ($ORIGIN), so that an
// installed, even moved, program finds its own module and never the build tree's.
const RuntimeEntryPoints& runtime() {
    static const RuntimeEntryPoints* entryPoints = nullptr;
    static std::string failure;
    static std::once_flag once;
    std::call_once(once, [] {
        void* module = ::dlopen(NIMBO_ML_RUNTIME_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* reason = ::dlerror();
            failure = reason ? reason : NIMBO_ML_RUNTIME_MODULE;
            return;
        }
        using EntryFunction = const RuntimeEntryPoints* (*)();
        auto entry = reinterpret_cast<EntryFunction>(::dlsym(module, "nimbo_ml_runtime"));
        if (entry) entryPoints = entry();
        else failure = "no entry point in " NIMBO_ML_RUNTIME_MODULE;
    });
    if (!entryPoints) throw MlError("The machine-learning runtime could not be loaded: " + failure);
    return *entryPoints;
}

}  // namespace

CompiledModel compileModel(const fs::path& packageDir) { return runtime().compileModel(packageDir); }

std::unique_ptr<Model> Model::load(const fs::path& compiledModel, const ModelConfiguration& configuration) {
    return runtime().loadModel(compiledModel, configuration);
}

}  // namespace nimbo::platform::ml
