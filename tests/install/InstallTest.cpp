// Installs into a temporary prefix, moves the prefix, and runs what was installed from its
// new place; builds the Debian packages and checks what each holds and depends on.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>

namespace {
namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string output;
};

// Runs a shell command for at most `seconds`; its exit status (124 on time-out) and output.
Outcome run(const std::string& command, int seconds = 600) {
    FILE* pipe = ::popen(("timeout " + std::to_string(seconds) + " " + command + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class Install : public ::testing::Test {
protected:
    char pattern[32] = "/tmp/nimbo-install-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    ~Install() override { fs::remove_all(dir); }
};

TEST_F(Install, MovedPrefixRunsTheAppAndLoadsItsOwnRuntimeModule) {
    ASSERT_EQ(run(NIMBO_CMAKE " --install " NIMBO_BUILD_DIR " --strip --prefix " + (dir / "staged").string()).status, 0);
    const fs::path prefix = dir / "moved";
    fs::rename(dir / "staged", prefix);
    const fs::path module = prefix / NIMBO_PKGLIBDIR / "libnimbo_ml_runtime.so";
    for (const fs::path& file : {prefix / "bin/nimbochat", prefix / "bin/nimbo-service", module,
                                 prefix / "share/icons/hicolor/scalable/apps/app.nimbo.chat.svg",
                                 prefix / "share/icons/hicolor/16x16/apps/app.nimbo.chat.png",
                                 prefix / "share/icons/hicolor/512x512/apps/app.nimbo.chat.png",
                                 prefix / "lib/systemd/user/nimbo-service@.service", prefix / "share/doc/nimbochat/copyright"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_EQ(run("grep -rlF " NIMBO_BUILD_DIR " " + prefix.string()).output, "");  // nothing refers to the build tree
    EXPECT_EQ(run("desktop-file-validate " + (prefix / "share/applications/app.nimbo.chat.desktop").string()).output, "");
    EXPECT_EQ(run("appstreamcli validate --no-net " + (prefix / "share/metainfo/app.nimbo.chat.metainfo.xml").string()).status, 0);

    // The installed app starts offscreen and draws its first frame (where the hook ends it).
    const std::string home = " XDG_CONFIG_HOME=" + (dir / "config").string() + " XDG_DATA_HOME=" + (dir / "data").string();
    const Outcome app = run("env QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software LD_PRELOAD=" NIMBO_FIRST_FRAME_HOOK + home +
                            " " + (prefix / "bin/nimbochat").string(), 120);
    EXPECT_EQ(app.status, 0) << app.output;

    // Beside it, a program with the same RUNPATH runs the on-device model: the runtime module
    // comes from this prefix; without it, the app's own error says so.
    fs::copy_file(NIMBO_PROBE, prefix / "bin/probe");
    fs::create_directories(dir / "models");
    fs::copy(NIMBO_MODEL_PACKAGE_DIR, dir / "models/phi3-mini-int4.mlpackage", fs::copy_options::recursive);
    std::ofstream(dir / "models/phi3-mini-int4.mlpackage.zip") << "zip";
    const std::string probe = (prefix / "bin/probe").string() + " " + (dir / "models").string();
    const Outcome answer = run(probe, 120);
    ASSERT_EQ(answer.status, 0) << answer.output;
    EXPECT_NE(answer.output.find("Hello"), std::string::npos) << answer.output;
    const std::size_t line = answer.output.find("module: ");
    ASSERT_NE(line, std::string::npos) << answer.output;
    const std::string loaded = answer.output.substr(line + 8, answer.output.find('\n', line) - line - 8);
    EXPECT_EQ(fs::weakly_canonical(loaded), module);
    fs::remove(module);
    EXPECT_EQ(run(probe, 120).output.rfind("On-device model compile failed: The machine-learning runtime could not be "
                                           "loaded: libnimbo_ml_runtime.so: cannot open shared object file", 0), 0u);
}

TEST_F(Install, DebianPackagesKeepLibtorchOutOfTheAppPackage) {
    ASSERT_EQ(run(NIMBO_CPACK " -G DEB --config " NIMBO_BUILD_DIR "/CPackConfig.cmake -B " + dir.string()).status, 0);
    const auto deb = [&](const std::string& package, const std::string& what) {
        return run("dpkg-deb " + what + " " + (dir / package).string() + "_*.deb").output;
    };
    EXPECT_NE(deb("nimbochat", "-f").find("libqt6qml6"), std::string::npos);
    EXPECT_NE(deb("nimbochat", "-f").find("qml6-module-qtquick-controls"), std::string::npos);
    EXPECT_EQ(deb("nimbochat", "-f").find("libtorch"), std::string::npos);
    EXPECT_NE(deb("nimbochat", "-c").find("./usr/share/applications/app.nimbo.chat.desktop"), std::string::npos);
    EXPECT_NE(deb("nimbochat-ondevice", "-f").find("libtorch"), std::string::npos);
    EXPECT_NE(deb("nimbochat-ondevice", "-c").find("/nimbochat/libnimbo_ml_runtime.so"), std::string::npos);
    EXPECT_NE(deb("nimbo-service", "-f").find("libsodium"), std::string::npos);
    EXPECT_NE(deb("nimbo-service", "-c").find("./usr/lib/systemd/user/nimbo-service@.service"), std::string::npos);
}

}  // namespace
