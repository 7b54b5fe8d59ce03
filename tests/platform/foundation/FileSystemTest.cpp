#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards, with the environment restored.
class FileSystemTest : public ::testing::Test {
protected:
    void touch(const fs::path& file) { std::ofstream(file) << "x"; }

    testkit::TempFolder folder{"orvo-fs"};
    testkit::ScopedEnvironment environment{"HOME", "ORVO_DOCUMENTS_DIR", "ORVO_RESOURCES_DIR"};
    fs::path root = folder.path();
};

TEST(URLTest, PathsAreTidiedAndComponentsTakenApart) {
    const URL url = URL::fileURLWithPath("/a//b/./Presets/My Preset.orvo/");
    EXPECT_EQ(url.path(), "/a/b/Presets/My Preset.orvo");
    EXPECT_EQ(url.lastPathComponent(), "My Preset.orvo");
    EXPECT_EQ(url.pathExtension(), "orvo");
    EXPECT_EQ(url.deletingPathExtension().path(), "/a/b/Presets/My Preset");
    EXPECT_EQ(url.deletingLastPathComponent().path(), "/a/b/Presets");
    EXPECT_EQ(url.absoluteString(), "file:///a/b/Presets/My%20Preset.orvo");
    EXPECT_TRUE(url.isFileURL());

    const URL folder = URL::fileURLWithPath("/docs");
    EXPECT_EQ(folder.appendingPathComponent("x/y/").appendingPathExtension("txt").path(), "/docs/x/y.txt");
    EXPECT_EQ(folder.deletingLastPathComponent().path(), "/");
    EXPECT_EQ(URL::fileURLWithPath("/").lastPathComponent(), "/");
    EXPECT_EQ(URL::fileURLWithPath("/").deletingLastPathComponent(), URL::fileURLWithPath("/"));
    EXPECT_EQ(URL::fileURLWithPath("/a/.hidden").pathExtension(), "") << "a leading dot is no extension";
    EXPECT_EQ(URL::fileURLWithPath("/a/b.").pathExtension(), "");
    EXPECT_EQ(URL::fileURLWithPath("/\xC3\xA9%").absoluteString(), "file:///%C3%A9%25");
}

TEST(URLTest, RelativePathsStartAtTheCurrentDirectory) {
    const URL here = URL::fileURLWithPath(fs::current_path().string());
    EXPECT_EQ(URL::fileURLWithPath("sub/file.txt"),
              here.appendingPathComponent("sub").appendingPathComponent("file.txt"));
    EXPECT_EQ(URL::fileURLWithPath(""), here);
}

TEST_F(FileSystemTest, ExistenceTellsFilesFromFolders) {
    auto& files = FileManager::defaultManager();
    touch(root / "file");
    bool isDirectory = true;
    EXPECT_TRUE(files.fileExists((root / "file").string(), isDirectory));
    EXPECT_FALSE(isDirectory);
    EXPECT_TRUE(files.fileExists(root.string(), isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_FALSE(files.fileExists((root / "missing").string()));
    EXPECT_FALSE(files.fileExists(""));
    fs::create_symlink(root / "nowhere", root / "dangling");
    EXPECT_FALSE(files.fileExists((root / "dangling").string())) << "a link counts by what it points to";
}

TEST_F(FileSystemTest, CreatingWithIntermediatesMakesEveryLevelAndAcceptsAnExistingFolder) {
    auto& files = FileManager::defaultManager();
    const URL deep = URL::fileURLWithPath(root.string()).appendingPathComponent("a/b/c");
    files.createDirectory(deep, true);
    EXPECT_TRUE(fs::is_directory(root / "a" / "b" / "c"));
    EXPECT_NO_THROW(files.createDirectory(deep, true));
    EXPECT_NO_THROW(files.createDirectory(URL::fileURLWithPath(root.string()), true));
}

TEST_F(FileSystemTest, CreationFailuresThrowWithAReason) {
    auto& files = FileManager::defaultManager();
    const URL top = URL::fileURLWithPath(root.string());
    touch(root / "plain");

    const auto failure = [&](const URL& url, bool intermediates) -> std::optional<NSError> {
        try {
            files.createDirectory(url, intermediates);
        } catch (const NSError& error) {
            return error;
        }
        return std::nullopt;
    };

    const auto onFile = failure(top.appendingPathComponent("plain"), true);
    ASSERT_TRUE(onFile);
    EXPECT_EQ(onFile->code(), ENOTDIR);
    EXPECT_NE(onFile->localizedDescription().find("plain"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(root / "plain")) << "the file is left alone";

    const auto belowFile = failure(top.appendingPathComponent("plain/sub"), true);
    ASSERT_TRUE(belowFile);
    EXPECT_EQ(belowFile->code(), ENOTDIR);

    const auto noParent = failure(top.appendingPathComponent("x/y"), false);
    ASSERT_TRUE(noParent);
    EXPECT_EQ(noParent->code(), ENOENT);
    EXPECT_FALSE(fs::exists(root / "x"));

    files.createDirectory(top.appendingPathComponent("once"), false);
    const auto again = failure(top.appendingPathComponent("once"), false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code(), EEXIST);
}

TEST_F(FileSystemTest, DocumentsFolderFollowsTheEnvironment) {
    auto& files = FileManager::defaultManager();
    const auto documents = [&] {
        return files.urls(SearchPathDirectory::documentDirectory, SearchPathDomainMask::userDomainMask);
    };

    ::setenv("ORVO_DOCUMENTS_DIR", (root / "docs").c_str(), 1);
    ASSERT_EQ(documents().size(), 1u);
    EXPECT_EQ(documents()[0].path(), (root / "docs").string());
    EXPECT_FALSE(fs::exists(root / "docs")) << "asking does not create it";

    ::setenv("ORVO_DOCUMENTS_DIR", "", 1);
    ::setenv("HOME", root.c_str(), 1);
    ASSERT_EQ(documents().size(), 1u);
    EXPECT_EQ(documents()[0].path(), (root / "Documents").string());

    ::unsetenv("ORVO_DOCUMENTS_DIR");
    EXPECT_EQ(documents()[0].path(), (root / "Documents").string());
}

TEST_F(FileSystemTest, ResourcesComeFromTheEnvironmentOrBesideTheProgram) {
    ::setenv("ORVO_RESOURCES_DIR", root.c_str(), 1);
    ASSERT_TRUE(Bundle::main().resourceURL());
    EXPECT_EQ(Bundle::main().resourceURL()->path(), root.string());

    touch(root / "help.html");
    fs::create_directory(root / "folder.html");
    EXPECT_EQ(Bundle::main().pathForResource("help", "html"), (root / "help.html").string());
    EXPECT_EQ(Bundle::main().pathForResource("missing", "html"), std::nullopt);
    EXPECT_EQ(Bundle::main().pathForResource("folder", "html"), std::nullopt);

    ::unsetenv("ORVO_RESOURCES_DIR");
    const fs::path beside = fs::read_symlink("/proc/self/exe").parent_path() / "resources";
    const bool present = fs::is_directory(beside);
    EXPECT_EQ(Bundle::main().resourceURL().has_value(), present);
    if (present) {
        EXPECT_EQ(Bundle::main().resourceURL()->path(), beside.string());
    }
}

} // namespace
