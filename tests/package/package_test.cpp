// SPDX-License-Identifier: MIT
// What `cmake --install` and the Debian package put on a machine, that the
// packaged panel starts and ends on a real X display, and that the package
// meets the distribution's standards: lintian, AppStream and the desktop file
// validators, manual pages that render cleanly, the licence and changelog.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "panel_session.h"
#include "process.h"
#include "virtual_display.h"

namespace fs = std::filesystem;

namespace {

#define XQ_APP_ID "example.c_seed_85bf7051.xq4620_panel"

// What a desktop needs to find, start and show the panel, and what a
// distribution wants beside it, relative to the install prefix.
const char *const kDesktopFiles[] = {
    "bin/xq4620-panel",
    "share/applications/" XQ_APP_ID ".desktop",
    "share/metainfo/" XQ_APP_ID ".metainfo.xml",
    "share/icons/hicolor/48x48/apps/xq4620-panel.png",
    "share/icons/hicolor/scalable/apps/xq4620-panel.svg",
    "lib/udev/rules.d/60-xq4620-panel-i2c.rules",
    "lib/modules-load.d/xq4620-panel.conf",
    "share/man/man1/xq4620-panel.1.gz",
    "bin/xq4620",
    "share/man/man1/xq4620.1.gz",
    "share/bash-completion/completions/xq4620",
    "share/doc/xq4620-panel/copyright",
    "share/doc/xq4620-panel/changelog.Debian.gz",
    "share/lintian/overrides/xq4620-panel",
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

// Text with every run of white space made one space, and no space at the
// ends.
std::string Squeezed(const std::string &text) {
    std::string out;
    std::istringstream words(text);
    for (std::string word; words >> word;)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

// The text of the "License: NAME" stand-alone paragraph of a Debian
// machine-readable copyright file, its " ." lines as blank lines.
std::string CopyrightLicenceText(const std::string &copyright, const std::string &name) {
    std::istringstream in(copyright);
    std::string text;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            inside = false;
        } else if (line == "License: " + name) {
            inside = true;
            text.clear();
        } else if (inside && line[0] == ' ') {
            text += (line == " ." ? "" : line.substr(1)) + "\n";
        } else {
            inside = false;
        }
    }
    return text;
}

::testing::AssertionResult Tool(const std::vector<std::string> &argv, std::string *out = nullptr,
                                std::string *err = nullptr) {
    const CommandResult result = RunCommand(argv, Environment::Current(), kToolTimeout);
    if (!result.Succeeded())
        return ::testing::AssertionFailure() << result.Describe(argv) << "\n" << result.out;
    if (out)
        *out = result.out;
    if (err)
        *err = result.err;
    return ::testing::AssertionSuccess();
}

fs::path MakeTempDir() {
    char pattern[] = "/tmp/xq-package-XXXXXX";
    return mkdtemp(pattern) ? fs::path(pattern) : fs::path();
}

class PackageTest : public ::testing::Test {
protected:
    // cpack runs once for the whole suite; each test looks at the same .deb.
    static void SetUpTestSuite() {
        s_dir = MakeTempDir();
        const fs::path out = s_dir / "out";
        const std::vector<std::string> cpack = {XQ_CPACK_COMMAND,
                                                "-G",
                                                "DEB",
                                                "--config",
                                                std::string(XQ_BUILD_DIR) + "/CPackConfig.cmake",
                                                "-B",
                                                out.string()};
        const CommandResult made = RunCommand(cpack, Environment::Current(), kToolTimeout);
        if (!made.Succeeded()) {
            s_packageError = made.Describe(cpack) + "\n" + made.out;
            return;
        }
        // One build, two packages: the panel's and the Python module's.
        for (const fs::directory_entry &entry : fs::directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("xq4620-panel_", 0) == 0 && entry.path().extension() == ".deb")
                s_deb = entry.path();
            if (name.rfind("python3-xq4620_", 0) == 0 && entry.path().extension() == ".deb")
                s_pythonDeb = entry.path();
        }
        if (s_deb.empty() || s_pythonDeb.empty())
            s_packageError = "cpack made no xq4620-panel or python3-xq4620 .deb in " + out.string();
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(s_dir, ignored);
    }

    void SetUp() override {
        dir = MakeTempDir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // The package's files unpacked under `dir`/root; its /usr.
    ::testing::AssertionResult Unpacked(fs::path *usr, const fs::path &deb = s_deb) {
        if (deb.empty())
            return ::testing::AssertionFailure() << s_packageError;
        const fs::path root = dir / "root";
        const ::testing::AssertionResult unpacked =
            Tool({"dpkg-deb", "-x", deb.string(), root.string()});
        *usr = root / "usr";
        return unpacked;
    }

    // The desktop file is valid, and names a program and an icon that are
    // where it says.
    void ExpectADesktopThatFindsItsParts(const fs::path &prefix) {
        for (const char *file : kDesktopFiles)
            EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
        const fs::path desktop = prefix / "share/applications/" XQ_APP_ID ".desktop";
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
    static fs::path s_dir;
    static fs::path s_deb;
    static fs::path s_pythonDeb;
    static std::string s_packageError;
};

fs::path PackageTest::s_dir;
fs::path PackageTest::s_deb;
fs::path PackageTest::s_pythonDeb;
std::string PackageTest::s_packageError;

TEST_F(PackageTest, InstallLaysOutProgramDesktopFileIconsAndI2cAccess) {
    const fs::path prefix = dir / "prefix";
    ASSERT_TRUE(Tool({XQ_CMAKE_COMMAND, "--install", XQ_BUILD_DIR, "--prefix", prefix.string()}));
    ExpectADesktopThatFindsItsParts(prefix);
}

TEST_F(PackageTest, DebianPackageInstallsAndItsPanelRunsOnARealDisplay) {
    ASSERT_FALSE(s_deb.empty()) << s_packageError;
    const std::string deb = s_deb.string();

    std::string fields;
    ASSERT_TRUE(Tool(
        {"dpkg-deb", "-f", deb, "Package", "Maintainer", "Depends", "Recommends", "Description"},
        &fields));
    EXPECT_NE(fields.find("Package: xq4620-panel\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("Maintainer: "), std::string::npos) << fields;
    // Found by dpkg-shlibdeps from what the binary links, not written by hand.
    EXPECT_NE(fields.find("libqt6widgets6"), std::string::npos) << fields;
    EXPECT_NE(fields.find("libc6"), std::string::npos) << fields;
    // i2cdetect is how a user finds the adapter's bus and sees the chip.
    EXPECT_NE(fields.find("Recommends: i2c-tools\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("Description: "), std::string::npos) << fields;

    // The maintainer script that makes the i2c group is there, runnable and
    // good shell.
    const fs::path control = dir / "control";
    ASSERT_TRUE(Tool({"dpkg-deb", "-e", deb, control.string()}));
    EXPECT_TRUE(Executable(control / "postinst"));
    EXPECT_TRUE(Tool({"sh", "-n", (control / "postinst").string()}));

    fs::path usr;
    ASSERT_TRUE(Unpacked(&usr));
    ExpectADesktopThatFindsItsParts(usr);

    // The installed program, on the xcb platform of a real X server.
    VirtualDisplay display;
    std::string error;
    ASSERT_TRUE(display.Start(1280, 1024, (dir / "xvfb.log").string(), &error)) << error;
    PanelSession panel(display, dir.string());
    ASSERT_TRUE(panel.Start((usr / "bin/xq4620-panel").string()));
    ASSERT_TRUE(panel.Expect(StartUpCalls(), "start-up")) << panel.Output();
    ASSERT_TRUE(panel.Focus());
    EXPECT_TRUE(panel.EscapeEndsWithExitCodeZero());
}

// lintian is the distribution's judge of a package: no error and no warning
// in either package, and every override it is told to accept says why on
// the line above.
TEST_F(PackageTest, LintianFindsNoErrorOrWarning) {
    ASSERT_FALSE(s_deb.empty() || s_pythonDeb.empty()) << s_packageError;
    for (const auto &[deb, name] :
         {std::pair{s_deb, "xq4620-panel"}, std::pair{s_pythonDeb, "python3-xq4620"}}) {
        std::string report;
        EXPECT_TRUE(Tool(
            {"lintian", "--fail-on", "error,warning", "--tag-display-limit", "0", deb.string()},
            &report))
            << report;
        EXPECT_EQ(report.find("E: "), std::string::npos) << report;
        EXPECT_EQ(report.find("W: "), std::string::npos) << report;

        fs::path usr;
        ASSERT_TRUE(Unpacked(&usr, deb));
        std::istringstream overrides(ReadFile((usr / "share/lintian/overrides" / name).string()));
        std::string previous;
        for (std::string line; std::getline(overrides, line); previous = line) {
            if (line.empty() || line[0] == '#')
                continue;
            EXPECT_EQ(line.rfind(std::string(name) + ": ", 0), 0u) << line;
            EXPECT_TRUE(previous.size() > 2 && previous[0] == '#') << "no reason above: " << line;
        }
    }
}

// The Python package puts the module where Debian's python3 finds it, with
// the entry point that makes pytest load its plugin, and depends on the one
// python3 its extension was built for.
TEST_F(PackageTest, PythonPackageImportsFromDebiansPathWithItsPlugin) {
    ASSERT_FALSE(s_pythonDeb.empty()) << s_packageError;
    std::string fields;
    ASSERT_TRUE(Tool({"dpkg-deb", "-f", s_pythonDeb.string(), "Package", "Depends"}, &fields));
    EXPECT_NE(fields.find("Package: python3-xq4620\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("python3 (>= 3."), std::string::npos) << fields;
    EXPECT_NE(fields.find("libstdc++6"), std::string::npos) << fields;

    fs::path usr;
    ASSERT_TRUE(Unpacked(&usr, s_pythonDeb));
    const fs::path site = usr / "lib/python3/dist-packages";
    EXPECT_NE(
        ReadFile((site / ("xq4620-" XQ_PROJECT_VERSION ".dist-info/entry_points.txt")).string()),
        "");
    for (const char *file : {"xq4620/__init__.py", "xq4620/__init__.pyi", "xq4620/py.typed",
                             "xq4620/pytest_plugin.py"})
        EXPECT_TRUE(fs::is_regular_file(site / file)) << file;

    const Environment env = Environment::Current()
                                .With("PYTHONPATH", site.string())
                                .With("LD_PRELOAD", XQ_SANITIZER_PRELOAD)
                                .With("ASAN_OPTIONS", "detect_leaks=0");
    const std::vector<std::string> script = {XQ_PYTHON_EXECUTABLE, "-c",
                                             "import xq4620\n"
                                             "with xq4620.open('sim') as board:\n"
                                             "    board.set(ovp='32V')\n"
                                             "    print(xq4620.__file__, board.get('ovp'))\n"};
    const CommandResult imported = RunCommand(script, env, kToolTimeout);
    ASSERT_TRUE(imported.Succeeded()) << imported.Describe(script) << imported.err;
    EXPECT_EQ(imported.out, (site / "xq4620/__init__.py").string() + " 32 V\n");

    const std::vector<std::string> pytest = {XQ_PYTHON_EXECUTABLE, "-m", "pytest", "--help"};
    const CommandResult help = RunCommand(pytest, env, kToolTimeout);
    EXPECT_NE(help.out.find("--xq4620-adapter=ADAPTER"), std::string::npos) << help.out;
}

// A software centre pairs the metadata with the desktop file by id, shows
// the newest release, and the validator accepts it without the network.
TEST_F(PackageTest, AppStreamMetadataValidatesAndNamesTheDesktopFile) {
    fs::path usr;
    ASSERT_TRUE(Unpacked(&usr));
    const fs::path metainfo = usr / "share/metainfo/" XQ_APP_ID ".metainfo.xml";
    std::string report;
    EXPECT_TRUE(Tool({"appstreamcli", "validate", "--no-net", metainfo.string()}, &report))
        << report;

    const std::string xml = ReadFile(metainfo.string());
    EXPECT_NE(xml.find("<id>" XQ_APP_ID "</id>"), std::string::npos);
    EXPECT_NE(xml.find("<launchable type=\"desktop-id\">" XQ_APP_ID ".desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(xml.find("<binary>xq4620-panel</binary>"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(usr / "share/applications" / (XQ_APP_ID ".desktop")));

    // The newest release is the version built, with the date the project's
    // changelog gives it.
    const std::regex newest("<release version=\"([^\"]+)\" date=\"([0-9-]+)\"");
    std::smatch release;
    ASSERT_TRUE(std::regex_search(xml, release, newest));
    EXPECT_EQ(release[1].str(), XQ_PROJECT_VERSION);
    const std::string changelog = ReadFile(XQ_SOURCE_DIR "/CHANGELOG.md");
    EXPECT_NE(changelog.find("## [" + release[1].str() + "] - " + release[2].str() + "\n"),
              std::string::npos)
        << "CHANGELOG.md has no \"## [" << release[1] << "] - " << release[2] << "\"";
}

// Every program has a page, and each page renders as lintian renders it,
// with warnings on and none printed.
TEST_F(PackageTest, ManualPagesRenderWithoutWarnings) {
    fs::path usr;
    ASSERT_TRUE(Unpacked(&usr));
    // Programs for everyone in section 1, those for root in section 8.
    for (const auto &[bin, section] : {std::pair{"bin", "1"}, std::pair{"sbin", "8"}}) {
        if (!fs::is_directory(usr / bin))
            continue;
        for (const fs::directory_entry &program : fs::directory_iterator(usr / bin)) {
            const std::string page = program.path().filename().string() + "." + section + ".gz";
            EXPECT_TRUE(
                fs::is_regular_file(usr / "share/man" / ("man" + std::string(section)) / page))
                << page;
        }
    }
    int pages = 0;
    for (const fs::directory_entry &page : fs::recursive_directory_iterator(usr / "share/man")) {
        if (!page.is_regular_file())
            continue;
        ++pages;
        // In the section its name says: man1/NAME.1.gz.
        const std::string suffix = page.path().stem().extension().string();
        EXPECT_EQ(page.path().parent_path().filename().string(),
                  "man" + (suffix.empty() ? "?" : suffix.substr(1)))
            << page.path();
        std::string text;
        std::string warnings;
        EXPECT_TRUE(
            Tool({"man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page.path().string()},
                 &text, &warnings));
        EXPECT_EQ(warnings, "") << page.path();
        EXPECT_NE(text, "") << page.path();
    }
    EXPECT_GE(pages, 1);
}

// Each whole-word match of `pattern` in `text`, first group if it has one.
std::vector<std::string> AllOf(const std::string &text, const std::regex &pattern) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        found.push_back((*it).size() > 1 ? (*it)[1].str() : (*it)[0].str());
    return found;
}

// The names listed under `heading` ("Subcommands:", "Positionals:") of a
// help text, one an indented line.
std::vector<std::string> HelpSection(const std::string &help, const std::string &heading) {
    std::vector<std::string> names;
    std::istringstream in(help);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line == heading) {
            inside = true;
        } else if (line.empty() || line[0] != ' ') {
            inside = false;
        } else if (inside && line.size() > 2 && line[2] != ' ') {
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    return names;
}

// The command's manual page is written by hand beside its --help: every
// subcommand it lists has an entry in the page whose first line names each
// option and argument that subcommand's help lists, and every option of the
// command itself is in the page.
TEST_F(PackageTest, CommandPageCoversEverySubcommandAndOptionOfItsHelp) {
    fs::path usr;
    ASSERT_TRUE(Unpacked(&usr));
    const std::string command = (usr / "bin/xq4620").string();
    std::string page;
    ASSERT_TRUE(Tool({"sh", "-c", "MANWIDTH=200 man -E ascii -l \"$0\"",
                      (usr / "share/man/man1/xq4620.1.gz").string()},
                     &page));
    std::string help;
    ASSERT_TRUE(Tool({command, "--help"}, &help));

    const std::regex option("(--[a-z][a-z-]*)");
    for (const std::string &name : AllOf(help, option))
        EXPECT_NE(page.find(name), std::string::npos) << name << " is not in the page";

    const std::vector<std::string> subcommands = HelpSection(help, "Subcommands:");
    EXPECT_GE(subcommands.size(), 10u) << help;
    for (const std::string &sub : subcommands) {
        std::smatch entry;
        ASSERT_TRUE(std::regex_search(page, entry, std::regex("\n {7}" + sub + "( [^\n]*)?\n")))
            << sub << " has no entry in the page";
        std::string subHelp;
        ASSERT_TRUE(Tool({command, sub, "--help"}, &subHelp));
        std::vector<std::string> wanted = HelpSection(subHelp, "Positionals:");
        for (const std::string &name : AllOf(subHelp, option)) {
            if (name != "--help")
                wanted.push_back(name);
        }
        for (const std::string &name : wanted)
            EXPECT_NE(entry[0].str().find(name), std::string::npos)
                << sub << ": " << name << " missing from \"" << entry[0].str() << "\"";
    }
}

// Drives the bash completion as bash does on Tab: the words split at "="
// as bash splits them, the line up to the cursor. `reply LINE WORD...`
// prints the sorted candidates, one a line. Then every value offered for
// every writable field is given to `xq4620 set` on the simulated board.
const char kCompletionDriver[] = R"sh(
set -u
source "$0"
reply() {
    COMP_LINE=$1; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_POINT=${#COMP_LINE}
    _xq4620
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
case $1 in
accepted)
    for field in $(reply "xq4620 set " xq4620 set ""); do
        name=${field%=}
        for value in $(reply "xq4620 set $field" xq4620 set "$name" = ""); do
            if xq4620 set "$field$value" >/dev/null 2>&1; then
                echo "ok $field$value"
            else
                echo "refused $field$value"
            fi
        done
    done ;;
*)
    reply "$@" ;;
esac
)sh";

struct CompletionRow {
    const char *line;
    std::vector<std::string> words;
    const char *expected; // sorted, one a line
};

// What Tab offers is what the command takes: its subcommands, its writable
// fields, each field's choices as `set` accepts them.
TEST_F(PackageTest, BashCompletionOffersWhatTheCommandTakes) {
    fs::path usr;
    ASSERT_TRUE(Unpacked(&usr));
    const fs::path script = usr / "share/bash-completion/completions/xq4620";
    ASSERT_TRUE(fs::is_regular_file(script));
    const Environment env = Environment::Current()
                                .With("PATH", (usr / "bin").string() + ":" +
                                                  Environment::Current().Get("PATH").value_or(""))
                                .With("VTX_ADAPTER", "sim");
    auto complete = [&](const std::vector<std::string> &args) {
        std::vector<std::string> argv = {"bash", "-c", kCompletionDriver, script.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandResult result = RunCommand(argv, env, kToolTimeout);
        EXPECT_TRUE(result.Succeeded()) << result.Describe(argv);
        return result.out;
    };

    std::string help;
    ASSERT_TRUE(Tool({(usr / "bin/xq4620").string(), "--help"}, &help));
    std::vector<std::string> subcommands = HelpSection(help, "Subcommands:");
    std::sort(subcommands.begin(), subcommands.end());
    std::string all;
    for (const std::string &sub : subcommands)
        all += sub + "\n";

    const CompletionRow rows[] = {
        {"xq4620 ", {"xq4620", ""}, all.c_str()},
        {"xq4620 --adapter sim s",
         {"xq4620", "--adapter", "sim", "s"},
         "save\nset\nsimulate\nsleep\n"},
        {"xq4620 --adapter=s", {"xq4620", "--adapter", "=", "s"}, "sim\nsim:\n"},
        // Bash splits a board's name at ":" too.
        {"xq4620 --adapter=sim:", {"xq4620", "--adapter", "=", "sim", ":"}, "\n"},
        {"xq4620 --adapter sim:bench simulate o",
         {"xq4620", "--adapter", "sim", ":", "bench", "simulate", "o"},
         "ocp\novp\n"},
        {"xq4620 --adapter=sim:bench simulate o",
         {"xq4620", "--adapter", "=", "sim", ":", "bench", "simulate", "o"},
         "ocp\novp\n"},
        {"xq4620 --adapter sim:bench simulate ovp ",
         {"xq4620", "--adapter", "sim", ":", "bench", "simulate", "ovp", ""},
         "off\non\n"},
        {"xq4620 set o", {"xq4620", "set", "o"}, "ocp=\novp=\n"},
        {"xq4620 set ovp=", {"xq4620", "set", "ovp", "=", ""}, "16V\n24V\n32V\n40V\n"},
        {"xq4620 set fmode=9", {"xq4620", "set", "fmode", "=", "9"}, "950kHz\n"},
        {"xq4620 set led-a-en=", {"xq4620", "set", "led-a-en", "=", ""}, "0\n1\n"},
        {"xq4620 set brightness-a=", {"xq4620", "set", "brightness-a", "=", ""}, "\n"},
        {"xq4620 get tsd", {"xq4620", "get", "tsd"}, "tsd-fault\n"},
        {"xq4620 dump --j", {"xq4620", "dump", "--j"}, "--json\n"},
        {"xq4620 watch --",
         {"xq4620", "watch", "--"},
         "--adapter\n--count\n--help\n--interval\n--json\n"},
        {"xq4620 simulate p", {"xq4620", "simulate", "p"}, "power\n"},
        {"xq4620 simulate ovp ", {"xq4620", "simulate", "ovp", ""}, "off\non\n"},
    };
    for (const CompletionRow &row : rows) {
        std::vector<std::string> args = {row.line};
        args.insert(args.end(), row.words.begin(), row.words.end());
        EXPECT_EQ(complete(args), row.expected) << "[" << row.line << "]";
    }

    const std::string tried = complete({"accepted"});
    EXPECT_EQ(tried.find("refused"), std::string::npos) << tried;
    // Every choice of ovp, ocp, fmode and the four ramps, both bits of every
    // flag: far more than a handful.
    EXPECT_GE(std::count(tried.begin(), tried.end(), '\n'), 60) << tried;
}

// The licence the package declares is the project's, word for word, and its
// changelog starts at the version built.
TEST_F(PackageTest, CopyrightCarriesTheLicenceAndChangelogTheVersion) {
    for (const auto &[deb, name] :
         {std::pair{s_deb, "xq4620-panel"}, std::pair{s_pythonDeb, "python3-xq4620"}}) {
        SCOPED_TRACE(name);
        fs::path usr;
        ASSERT_TRUE(Unpacked(&usr, deb));
        const fs::path doc = usr / "share/doc" / name;
        const std::string copyright = ReadFile((doc / "copyright").string());
        EXPECT_EQ(copyright.rfind("Format: https://www.debian.org/doc/packaging-manuals/"
                                  "copyright-format/1.0/\n",
                                  0),
                  0u);
        EXPECT_NE(copyright.find("Files: *\nCopyright: 2026 The XQ4620 panel maintainers\n"
                                 "License: Expat\n"),
                  std::string::npos)
            << copyright;
        const std::string licence = ReadFile(XQ_SOURCE_DIR "/LICENSE");
        const std::string grant = licence.substr(licence.find("Permission is hereby granted"));
        EXPECT_EQ(Squeezed(CopyrightLicenceText(copyright, "Expat")), Squeezed(grant));

        const fs::path plain = dir / (std::string(name) + ".changelog");
        ASSERT_TRUE(Tool({"sh", "-c", "zcat \"$0\" > \"$1\"",
                          (doc / "changelog.Debian.gz").string(), plain.string()}));
        std::string source;
        ASSERT_TRUE(Tool({"dpkg-parsechangelog", "-l", plain.string(), "-S", "Source"}, &source));
        EXPECT_EQ(source, std::string(name) + "\n");
        std::string version;
        ASSERT_TRUE(Tool({"dpkg-parsechangelog", "-l", plain.string(), "-S", "Version"}, &version));
        EXPECT_EQ(version, XQ_PROJECT_VERSION "-1\n");
        std::error_code ignored;
        fs::remove_all(dir / "root", ignored);
    }
}

} // namespace
