// The platform layers every client shares: private files and opening URLs.
#include "platform/device/KeyValueStore.h"
#include "platform/url/UrlOpener.h"

#include "TestEnvironment.h"

#include <fstream>
#include <set>
#include <unistd.h>

using namespace nimbo;
namespace fs = std::filesystem;

namespace {

TEST(PrivateFiles, OpeningTheFolderTightensItClearsStaleTemporariesAndKeepsEveryUnreadableCopy) {
    const fs::path dir = test::scratchDir() / "loose", file = dir / "preferences.json";
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms(0755));
    const std::string live = "preferences.json.tmp." + std::to_string(::getpid()) + ".Ab12Cd";  // being written now
    for (const std::string name : {"preferences.json.tmp123", "preferences.json.tmp.999999999.Xy34Zw", live.c_str()})
        std::ofstream(dir / name) << "{\"half\":";
    std::ofstream(file) << "first unreadable";
    EXPECT_FALSE(platform::FileKeyValueStore(file).boolForKey("a"));
    std::ofstream(file) << "second";
    platform::FileKeyValueStore(file).setBool("a", true);  // written as the store goes away
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"preferences.json", "preferences.json.unreadable", "preferences.json.unreadable.2", live}));
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::file_size(dir / "preferences.json.unreadable"), 16u);  // "first unreadable"
    EXPECT_TRUE(platform::FileKeyValueStore(file).boolForKey("a"));
}

TEST(UrlOpening, OnlyWebPagesReachTheOpenerAndLinksAddOneMailAddress) {
    struct Accepting : platform::UrlOpener {
        bool open(const QString&) override { return true; }
    } accepting;
    platform::UrlOpener::install(&accepting);  // so a URL that reaches the opener reports true
    const struct { const char* url; bool opens; bool opensAsLink; } cases[] = {
        {"https://store.example/nimbo", true, true}, {"HTTP://127.0.0.1:8780/account/billing", true, true},
        {"file:///etc/passwd", false, false}, {"smb://host/share", false, false}, {"ftp://host/x", false, false},
        {"javascript:alert(1)", false, false}, {"mailto:a@b.c", false, true}, {"MAILTO:a@b.c", false, true},
        {"mailto:a@b.c?bcc=x@y.z", false, false}, {"mailto:a@b.c,x@y.z", false, false},
        {"mailto:a@b.c#x", false, false}, {"mailto:ab.c", false, false}, {"mailto:", false, false},
        {"mailto://a@b.c", false, false}, {"data:text/html,x", false, false}, {"x-nimbo://open", false, false},
        {"store.example/nimbo", false, false}, {"https://", false, false}, {"https:///path", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::UrlOpener::current().open(c.url), c.opens) << c.url;
        EXPECT_EQ(platform::UrlOpener::links().open(c.url), c.opensAsLink) << c.url;
    }
    platform::UrlOpener::install(nullptr);
}

}  // namespace
