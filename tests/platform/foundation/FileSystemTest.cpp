#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards, with the environment restored.
class FileSystemTest : public ::testing::Test {
protected:
    void touch(const fs::path& file) { std::ofstream(file) << "x"; }

    testkit::TempFolder temp{"orvo-fs"};
    testkit::ScopedEnvironment environment{"HOME", "ORVO_DOCUMENTS_DIR", "ORVO_RESOURCES_DIR"};
    fs::path root = temp.path();
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

    fs::create_symlink(root / "file", root / "link");
    for (const fs::path& path : {root / "file", root / "link"}) EXPECT_TRUE(files.regularFileExists(path)) << path;
    for (const fs::path& path : {root, root / "dangling", fs::path("/dev/null")})
        EXPECT_FALSE(files.regularFileExists(path)) << path;
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
    EXPECT_EQ(Bundle::main().urlForResource("help", "html"), URL::fileURLWithPath((root / "help.html").string()));
    EXPECT_EQ(Bundle::main().urlForResource("missing", "html"), std::nullopt);

    ::unsetenv("ORVO_RESOURCES_DIR");
    const fs::path beside = fs::read_symlink("/proc/self/exe").parent_path() / "resources";
    const bool present = fs::is_directory(beside);
    EXPECT_EQ(Bundle::main().resourceURL().has_value(), present);
    if (present) {
        EXPECT_EQ(Bundle::main().resourceURL()->path(), beside.string());
    }
}

} // namespace

namespace {

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string fileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Action> std::optional<NSError> fileFailure(Action&& action) {
    try {
        action();
    } catch (const NSError& error) {
        return error;
    }
    return std::nullopt;
}

TEST_F(FileSystemTest, ListingGivesSortedNamesAndFailsOnFilesAndMissingFolders) {
    auto& files = FileManager::defaultManager();
    const URL top = URL::fileURLWithPath(root.string());
    for (const char* name : {"b.aupreset", "A.AUPRESET", "notes.txt", ".hidden", "a.aupreset"})
        touch(root / name);
    fs::create_directory(root / "folder");
    EXPECT_EQ(files.contentsOfDirectory(top),
              (std::vector<std::string>{".hidden", "A.AUPRESET", "a.aupreset", "b.aupreset", "folder",
                                        "notes.txt"}));
    EXPECT_TRUE(files.contentsOfDirectory(top.appendingPathComponent("folder")).empty());

    const auto missing = fileFailure([&] { files.contentsOfDirectory(top.appendingPathComponent("none")); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code(), ENOENT);
    EXPECT_NE(missing->localizedDescription().find("none"), std::string::npos);
    const auto onFile =
        fileFailure([&] { files.contentsOfDirectory(top.appendingPathComponent("notes.txt")); });
    ASSERT_TRUE(onFile);
    EXPECT_EQ(onFile->code(), ENOTDIR);

    // What a preset listing takes from each name, with the URL's own helpers.
    const URL upper = top.appendingPathComponent("A.AUPRESET");
    EXPECT_EQ(upper.pathExtension(), "AUPRESET");
    EXPECT_EQ(upper.deletingPathExtension().lastPathComponent(), "A");
    EXPECT_EQ(top.appendingPathComponent("My.Preset.aupreset").deletingPathExtension().lastPathComponent(),
              "My.Preset");
}

TEST_F(FileSystemTest, ReadingTakesTheWholeFileAndRefusesFoldersAndMissingFiles) {
    auto& files = FileManager::defaultManager();
    const URL top = URL::fileURLWithPath(root.string());
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
    std::ofstream(root / "big", std::ios::binary) << big;
    touch(root / "empty");
    fs::resize_file(root / "empty", 0);

    EXPECT_EQ(files.contents(top.appendingPathComponent("big"), big.size()), bytes(big));
    EXPECT_TRUE(files.contents(top.appendingPathComponent("empty"), 0).empty());

    const auto folder = fileFailure([&] { files.contents(top, 1000); });
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->code(), EISDIR);
    const auto missing = fileFailure([&] { files.contents(top.appendingPathComponent("missing"), 1000); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code(), ENOENT);
}

TEST_F(FileSystemTest, ReadingRefusesPipesDevicesAndFilesAboveTheLimit) {
    auto& files = FileManager::defaultManager();
    const URL top = URL::fileURLWithPath(root.string());
    constexpr std::size_t limit = 1 << 20;
    std::ofstream(root / "at-limit", std::ios::binary) << std::string(limit, 'x');
    EXPECT_EQ(files.contents(top.appendingPathComponent("at-limit"), limit).size(), limit);

    const testkit::NamedPipe pipe(root / "pipe");
    ASSERT_TRUE(pipe.made());
    fs::create_symlink("/dev/zero", root / "zeros");
    std::ofstream(root / "sparse").close();
    fs::resize_file(root / "sparse", limit + 1);
    const std::pair<const char*, int> cases[] = {{"pipe", EINVAL}, {"zeros", EINVAL}, {"sparse", EFBIG}};
    for (const auto& entry : cases) {
        const char* const name = entry.first;
        const int code = entry.second;
        std::optional<NSError> failure;
        EXPECT_TRUE(pipe.returnsWithoutAWriter(
            [&] { failure = fileFailure([&] { files.contents(top.appendingPathComponent(name), limit); }); }))
            << name;
        ASSERT_TRUE(failure) << name;
        EXPECT_EQ(failure->code(), code) << name;
    }
}

TEST_F(FileSystemTest, AtomicWritesReplaceWholeFilesAndLeaveNoTemporaries) {
    auto& files = FileManager::defaultManager();
    const URL top = URL::fileURLWithPath(root.string());
    const URL target = top.appendingPathComponent("Preset.aupreset");

    files.writeAtomically(target, bytes("first, and longer"));
    EXPECT_EQ(fileText(root / "Preset.aupreset"), "first, and longer");
    fs::permissions(root / "Preset.aupreset",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    files.writeAtomically(target, bytes("second"));
    EXPECT_EQ(fileText(root / "Preset.aupreset"), "second");
    EXPECT_EQ(fs::status(root / "Preset.aupreset").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
        << "a replaced file keeps its permissions";
    files.writeAtomically(target, {});
    EXPECT_EQ(fs::file_size(root / "Preset.aupreset"), 0u);

    fs::create_directory(root / "taken");
    const auto onFolder =
        fileFailure([&] { files.writeAtomically(top.appendingPathComponent("taken"), bytes("x")); });
    ASSERT_TRUE(onFolder);
    EXPECT_TRUE(fs::is_directory(root / "taken"));
    const auto noFolder =
        fileFailure([&] { files.writeAtomically(top.appendingPathComponent("no/file"), bytes("x")); });
    ASSERT_TRUE(noFolder);
    EXPECT_EQ(noFolder->code(), ENOENT);

    EXPECT_EQ(files.contentsOfDirectory(top), (std::vector<std::string>{"Preset.aupreset", "taken"}))
        << "no temporary file is left behind";
}

TEST_F(FileSystemTest, PresetsLiveInTheDocumentsFolder) {
    ::setenv("ORVO_DOCUMENTS_DIR", (root / "docs").c_str(), 1);
    const auto presets = FileManager::defaultManager().presetsDirectory();
    ASSERT_TRUE(presets);
    EXPECT_EQ(presets->path(), (root / "docs" / "Presets").string());
    EXPECT_FALSE(fs::exists(root / "docs"));
}

} // namespace
