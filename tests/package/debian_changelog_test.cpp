// SPDX-License-Identifier: MIT
//
// The Debian changelog the package carries, made from CHANGELOG.md by
// packaging/debian/changelog.cmake: one project changelog in, the exact
// entries Debian's tools read out; a changelog that cannot say what the
// built version is stops the build with the reason.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "process.h"

namespace fs = std::filesystem;

namespace {

// CMake folds its messages into indented lines: one space for every run.
std::string Squeezed(const std::string &text) {
    std::string out;
    std::istringstream words(text);
    for (std::string word; words >> word;)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

const char kMaintainer[] = "Bench Team <bench@example.org>";

// Released twice, with work waiting; a ";" and "[...]" that CMake's lists
// would otherwise swallow, items wrapped over two lines, subheadings.
const char kTwoReleases[] = R"(# Changelog

Intro text that is not part of any release.

## [Unreleased]

### Added
- Something not released yet.

## [1.1.0] - 2024-02-29

### Added
- Save and load; see [the guide](docs/guide.md).
- A sweep that runs
  over two lines.

### Fixed
- No stale value after a failed read.

## [1.0.0] - 2023-01-01

- The first release.
)";

struct ChangelogRow {
    const char *what;
    const char *changelog;
    const char *version;
    // The changelog.Debian made, or, when `refused` is set, a text the
    // refusal must contain.
    const char *expected;
    bool refused;
};

const ChangelogRow kRows[] = {
    {"both releases, newest first, at the built version's revision", kTwoReleases, "1.1.0",
     "xq4620-panel (1.1.0-2) unstable; urgency=medium\n"
     "\n"
     "  * Save and load; see [the guide](docs/guide.md).\n"
     "  * A sweep that runs\n"
     "    over two lines.\n"
     "  * No stale value after a failed read.\n"
     "\n"
     " -- Bench Team <bench@example.org>  Thu, 29 Feb 2024 00:00:00 +0000\n"
     "\n"
     "xq4620-panel (1.0.0-1) unstable; urgency=medium\n"
     "\n"
     "  * The first release.\n"
     "\n"
     " -- Bench Team <bench@example.org>  Sun, 01 Jan 2023 00:00:00 +0000\n",
     false},
    {"an older build leaves out what came after it", kTwoReleases, "1.0.0",
     "xq4620-panel (1.0.0-2) unstable; urgency=medium\n"
     "\n"
     "  * The first release.\n"
     "\n"
     " -- Bench Team <bench@example.org>  Sun, 01 Jan 2023 00:00:00 +0000\n",
     false},
    {"a date at the end of a century", "## [0.9.0] - 1999-12-31\n\n- Beta.\n", "0.9.0",
     "xq4620-panel (0.9.0-2) unstable; urgency=medium\n"
     "\n"
     "  * Beta.\n"
     "\n"
     " -- Bench Team <bench@example.org>  Fri, 31 Dec 1999 00:00:00 +0000\n",
     false},
    {"a version without a section", kTwoReleases, "1.2.0", "has no section for version 1.2.0",
     true},
    {"only unreleased work", "## [Unreleased]\n\n- Soon.\n", "1.0.0",
     "has no section for version 1.0.0", true},
    {"a release without its date", "## [1.0.0]\n\n- First.\n", "1.0.0",
     "version 1.0.0 needs its release date", true},
    {"a release that says nothing", "## [1.0.0] - 2023-01-01\n\n## [0.9.0] - 2022-01-01\n- Beta.\n",
     "1.0.0", "the section of 1.0.0 says nothing", true},
    {"a line Debian's tools would cut",
     "## [1.0.0] - 2023-01-01\n\n- "
     "A line that goes on and on, well past the eighty columns that Debian's tools read in a "
     "changelog.\n",
     "1.0.0", "too long", true},
};

class DebianChangelogTest : public ::testing::TestWithParam<ChangelogRow> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/xq-changelog-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    fs::path dir;
};

TEST_P(DebianChangelogTest, MakesTheEntriesOrSaysWhyNot) {
    const ChangelogRow &row = GetParam();
    const fs::path changelog = dir / "CHANGELOG.md";
    const fs::path output = dir / "changelog.Debian.gz";
    std::ofstream(changelog) << row.changelog;

    const std::vector<std::string> argv = {XQ_CMAKE_COMMAND,
                                           "-DCHANGELOG=" + changelog.string(),
                                           "-DPACKAGE=xq4620-panel",
                                           std::string("-DVERSION=") + row.version,
                                           "-DREVISION=2",
                                           std::string("-DMAINTAINER=") + kMaintainer,
                                           "-DOUTPUT=" + output.string(),
                                           "-P",
                                           XQ_SOURCE_DIR "/packaging/debian/changelog.cmake"};
    const CommandResult made = RunCommand(argv, Environment::Current(), Millis(30000));
    if (row.refused) {
        EXPECT_FALSE(made.Succeeded()) << row.what;
        EXPECT_NE(Squeezed(made.err).find(row.expected), std::string::npos) << row.what << "\n"
                                                                            << made.err;
        EXPECT_FALSE(fs::exists(output)) << row.what;
        return;
    }
    ASSERT_TRUE(made.Succeeded()) << row.what << "\n" << made.Describe(argv);

    // Compressed without a name or time stamp, so that equal input gives an
    // equal file; and what dpkg reads back.
    const CommandResult plain =
        RunCommand({"gzip", "-d", "-c", output.string()}, Environment::Current(), Millis(30000));
    ASSERT_TRUE(plain.Succeeded());
    EXPECT_EQ(plain.out, row.expected) << row.what;
    const std::string gz = ReadFile(output.string());
    ASSERT_GE(gz.size(), 10u);
    EXPECT_EQ(gz[3] & 0x08, 0) << "a file name in the gzip header";
    EXPECT_EQ(gz.substr(4, 4), std::string(4, '\0')) << "a time stamp in the gzip header";
}

INSTANTIATE_TEST_SUITE_P(Rows, DebianChangelogTest, ::testing::ValuesIn(kRows));

} // namespace
