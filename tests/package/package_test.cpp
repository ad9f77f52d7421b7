// What `cmake --install` and the Debian package put on a machine, and that
// the packaged panel starts and ends on a real X display.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "panel_session.h"
#include "process.h"
#include "virtual_display.h"

namespace fs = std::filesystem;

namespace {

// What a desktop needs to find, start and show the panel, relative to the
// install prefix.
const char *const kDesktopFiles[] = {
    "bin/xq4620-panel",
    "share/applications/xq4620-panel.desktop",
    "share/icons/hicolor/48x48/apps/xq4620-panel.png",
    "share/icons/hicolor/scalable/apps/xq4620-panel.svg",
    "lib/udev/rules.d/60-xq4620-panel-i2c.rules",
    "lib/modules-load.d/xq4620-panel.conf",
};

const Millis kToolTimeout(120000);

bool Executable(const fs::path &path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// The value of `key` in the [Desktop Entry] group of a desktop file.
std::string DesktopValue(const std::string &text, const std::string &key) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, key.size() + 1, key + "=") == 0)
            return line.substr(key.size() + 1);
    }
    return {};
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/xq-package-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    ::testing::AssertionResult Tool(const std::vector<std::string> &argv,
                                    std::string *out = nullptr) {
        const CommandResult result = RunCommand(argv, Environment::Current(), kToolTimeout);
        if (!result.Succeeded())
            return ::testing::AssertionFailure() << result.Describe(argv) << "\n" << result.out;
        if (out)
            *out = result.out;
        return ::testing::AssertionSuccess();
    }

    // The desktop file is valid, and names a program and an icon that are
    // where it says.
    void ExpectADesktopThatFindsItsParts(const fs::path &prefix) {
        for (const char *file : kDesktopFiles)
            EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
        const fs::path desktop = prefix / "share/applications/xq4620-panel.desktop";
        EXPECT_TRUE(Tool({"desktop-file-validate", desktop.string()}));
        const std::string entry = ReadFile(desktop.string());
        EXPECT_TRUE(fs::is_regular_file(prefix / "bin" / DesktopValue(entry, "Exec")));
        const std::string icon = DesktopValue(entry, "Icon");
        EXPECT_TRUE(fs::exists(prefix / "share/icons/hicolor/48x48/apps" / (icon + ".png")));
        EXPECT_TRUE(fs::exists(prefix / "share/icons/hicolor/scalable/apps" / (icon + ".svg")));
        // The window names the same desktop file, which ties it to the icon.
        EXPECT_EQ(DesktopValue(entry, "StartupWMClass"), "xq4620-panel");

        std::string type;
        ASSERT_TRUE(Tool(
            {"file", "-b", (prefix / "share/icons/hicolor/48x48/apps/xq4620-panel.png").string()},
            &type));
        EXPECT_NE(type.find("PNG image data, 48 x 48"), std::string::npos) << type;
        EXPECT_TRUE(Executable(prefix / "bin/xq4620-panel"));
    }

    fs::path dir;
};

TEST_F(PackageTest, InstallLaysOutProgramDesktopFileIconsAndI2cAccess) {
    const fs::path prefix = dir / "prefix";
    ASSERT_TRUE(Tool({XQ_CMAKE_COMMAND, "--install", XQ_BUILD_DIR, "--prefix", prefix.string()}));
    ExpectADesktopThatFindsItsParts(prefix);
}

TEST_F(PackageTest, DebianPackageInstallsAndItsPanelRunsOnARealDisplay) {
    const fs::path out = dir / "out";
    ASSERT_TRUE(Tool({XQ_CPACK_COMMAND, "-G", "DEB", "--config",
                      std::string(XQ_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.string()}));
    fs::path deb;
    for (const fs::directory_entry &entry : fs::directory_iterator(out)) {
        if (entry.path().extension() == ".deb")
            deb = entry.path();
    }
    ASSERT_FALSE(deb.empty()) << "cpack made no .deb in " << out;

    std::string fields;
    ASSERT_TRUE(
        Tool({"dpkg-deb", "-f", deb.string(), "Package", "Maintainer", "Depends", "Description"},
             &fields));
    EXPECT_NE(fields.find("Package: xq4620-panel\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("Maintainer: "), std::string::npos) << fields;
    // Found by dpkg-shlibdeps from what the binary links, not written by hand.
    EXPECT_NE(fields.find("libqt6widgets6"), std::string::npos) << fields;
    EXPECT_NE(fields.find("libc6"), std::string::npos) << fields;
    EXPECT_NE(fields.find("Description: "), std::string::npos) << fields;

    // The maintainer script that makes the i2c group is there, runnable and
    // good shell.
    const fs::path control = dir / "control";
    ASSERT_TRUE(Tool({"dpkg-deb", "-e", deb.string(), control.string()}));
    EXPECT_TRUE(Executable(control / "postinst"));
    EXPECT_TRUE(Tool({"sh", "-n", (control / "postinst").string()}));

    const fs::path root = dir / "root";
    ASSERT_TRUE(Tool({"dpkg-deb", "-x", deb.string(), root.string()}));
    ExpectADesktopThatFindsItsParts(root / "usr");

    // The installed program, on the xcb platform of a real X server.
    VirtualDisplay display;
    std::string error;
    ASSERT_TRUE(display.Start(1280, 1024, (dir / "xvfb.log").string(), &error)) << error;
    PanelSession panel(display, dir.string());
    ASSERT_TRUE(panel.Start((root / "usr/bin/xq4620-panel").string()));
    ASSERT_TRUE(panel.Expect(StartUpCalls(), "start-up")) << panel.Output();
    ASSERT_TRUE(panel.Focus());
    EXPECT_TRUE(panel.EscapeEndsWithExitCodeZero());
}

} // namespace
