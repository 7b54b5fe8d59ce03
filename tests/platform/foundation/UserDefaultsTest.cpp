#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/UserDefaultsInternal.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using testkit::StdoutCapture;

namespace {

constexpr const char* suiteName = "group.com.example.settings";

// Every test keeps its domains in a fresh folder, and forgets them afterwards.
class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStorageFolder((root / "settings").string()); }
    void TearDown() override {
        UserDefaults::setStorageFolder(std::nullopt);
        UserDefaults::resetStandardUserDefaults();
    }

    std::set<std::string> filesInFolder() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root / "settings"))
            names.insert(entry.path().filename().string());
        return names;
    }

    testkit::TempFolder root{"orvo-defaults"};
};

void writeEveryType(UserDefaults& store) {
    store.setObject(PropertyList("Grüße \"quoted\" <tag> & more"), "string");
    store.setInteger(std::numeric_limits<std::int64_t>::min(), "integerMin");
    store.setInteger(std::numeric_limits<std::int64_t>::max(), "integerMax");
    store.setFloat(0.1f, "float");
    store.setFloat(-3.4028235e38f, "floatLowest");
    store.setDouble(1.0 / 3.0, "double");
    store.setBool(true, "yes");
    store.setBool(false, "no");
    store.setURL(URL::fileURLWithPath("/tmp/My Folder/é%.txt"), "url");
    store.setObject(PropertyList(PropertyList::Dictionary{
                        {"list", PropertyList::Array{1, 2.5, "three", true}},
                        {"bytes", PropertyList::Data{0, 1, 254, 255}},
                    }),
                    "object");
}

void expectEveryType(const UserDefaults& store) {
    EXPECT_EQ(store.string("string"), "Grüße \"quoted\" <tag> & more");
    EXPECT_EQ(store.integer("integerMin"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(store.integer("integerMax"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(store.floatValue("float"), 0.1f);
    EXPECT_EQ(store.floatValue("floatLowest"), -3.4028235e38f);
    EXPECT_EQ(store.doubleValue("double"), 1.0 / 3.0);
    EXPECT_TRUE(store.boolValue("yes"));
    EXPECT_FALSE(store.boolValue("no"));
    EXPECT_TRUE(store.object("no").has_value()) << "false is a value, not a missing key";
    EXPECT_EQ(store.url("url"), URL::fileURLWithPath("/tmp/My Folder/é%.txt"));
    const std::optional<PropertyList> object = store.object("object");
    ASSERT_TRUE(object);
    const PropertyList* list = object->find("list");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, PropertyList(PropertyList::Array{1, 2.5, "three", true}));
    EXPECT_EQ(*object->find("bytes"), PropertyList(PropertyList::Data{0, 1, 254, 255}));
}

TEST_F(UserDefaultsTest, EveryTypeSurvivesReopeningTheFiles) {
    std::shared_ptr<UserDefaults> suite = UserDefaults::suite(suiteName);
    ASSERT_TRUE(suite);
    writeEveryType(UserDefaults::standard());
    writeEveryType(*suite);
    expectEveryType(UserDefaults::standard());
    expectEveryType(*suite);

    UserDefaults::resetStandardUserDefaults();
    expectEveryType(UserDefaults::standard());
    expectEveryType(*UserDefaults::suite(suiteName));

    const std::string own = UserDefaults::standard().domainName();
    EXPECT_FALSE(own.empty());
    EXPECT_EQ(filesInFolder(), (std::set<std::string>{own + ".plist", std::string(suiteName) + ".plist"}))
        << "one file per domain, no temporary files left behind";
}

TEST_F(UserDefaultsTest, NullValuesRemoveKeysForGood) {
    UserDefaults& store = UserDefaults::standard();
    store.setObject(PropertyList("kept"), "kept");
    store.setObject(PropertyList("gone"), "object");
    store.setURL(URL::fileURLWithPath("/x"), "url");
    store.setInteger(3, "number");

    store.setObject(std::nullopt, "object");
    store.setURL(std::nullopt, "url");
    store.removeObject("number");
    store.removeObject("never there");

    UserDefaults::resetStandardUserDefaults();
    const PropertyList::Dictionary all = UserDefaults::standard().dictionaryRepresentation();
    EXPECT_EQ(all.size(), 1u);
    EXPECT_EQ(all.count("kept"), 1u);
}

TEST_F(UserDefaultsTest, MissingKeysAndMismatchedTypesGiveEmptyValues) {
    UserDefaults& store = UserDefaults::standard();
    EXPECT_EQ(store.object("missing"), std::nullopt);
    EXPECT_EQ(store.string("missing"), std::nullopt);
    EXPECT_EQ(store.integer("missing"), 0);
    EXPECT_EQ(store.floatValue("missing"), 0.0f);
    EXPECT_FALSE(store.boolValue("missing"));
    EXPECT_EQ(store.url("missing"), std::nullopt);

    store.setObject(PropertyList(PropertyList::Array{1}), "array");
    EXPECT_EQ(store.string("array"), std::nullopt);
    EXPECT_EQ(store.integer("array"), 0);
    EXPECT_FALSE(store.boolValue("array"));
    store.setObject(PropertyList("relative/path"), "relative");
    EXPECT_EQ(store.url("relative"), std::nullopt);
    store.setObject(PropertyList("file:///bad%zzescape"), "badEscape");
    EXPECT_EQ(store.url("badEscape"), std::nullopt);
    store.setDouble(std::numeric_limits<double>::infinity(), "huge");
    EXPECT_EQ(store.integer("huge"), std::numeric_limits<std::int64_t>::max()) << "held in range, not UB";
}

TEST_F(UserDefaultsTest, NumbersTextAndTruthConvertLikeThePlatform) {
    UserDefaults& store = UserDefaults::standard();
    store.setInteger(42, "integer");
    store.setObject(PropertyList(" 17 "), "digits");
    store.setObject(PropertyList("2.5"), "decimal");
    store.setObject(PropertyList("YES"), "yesWord");
    store.setObject(PropertyList("true"), "trueWord");
    store.setObject(PropertyList("no"), "noWord");
    store.setDouble(-3.9, "real");

    EXPECT_EQ(store.string("integer"), "42");
    EXPECT_EQ(store.integer("digits"), 17);
    EXPECT_EQ(store.floatValue("decimal"), 2.5f);
    EXPECT_EQ(store.integer("decimal"), 2);
    EXPECT_TRUE(store.boolValue("yesWord"));
    EXPECT_TRUE(store.boolValue("trueWord"));
    EXPECT_FALSE(store.boolValue("noWord"));
    EXPECT_TRUE(store.boolValue("integer"));
    EXPECT_EQ(store.integer("real"), -3) << "truncated toward zero";
    EXPECT_EQ(store.string("real"), "-3.9");

    store.setObject(PropertyList("~/notes.txt"), "homePath");
    ASSERT_TRUE(store.url("homePath"));
    EXPECT_EQ(store.url("homePath")->lastPathComponent(), "notes.txt");
    EXPECT_TRUE(store.url("homePath")->path().starts_with("/"));
}

TEST_F(UserDefaultsTest, SearchListFallsBackToSuitesAndOwnValuesWin) {
    UserDefaults& standard = UserDefaults::standard();
    std::shared_ptr<UserDefaults> suite = UserDefaults::suite(suiteName);
    ASSERT_TRUE(suite);
    suite->setInteger(1, "both");
    suite->setInteger(2, "suiteOnly");
    standard.setInteger(10, "both");

    EXPECT_EQ(standard.integer("suiteOnly"), 0) << "no search list yet";
    standard.addSuiteNamed(suiteName);
    standard.addSuiteNamed(suiteName);
    EXPECT_EQ(standard.integer("suiteOnly"), 2);
    EXPECT_EQ(standard.integer("both"), 10);
    EXPECT_EQ(suite->integer("both"), 1) << "the suite's own value is untouched";

    const PropertyList::Dictionary all = standard.dictionaryRepresentation();
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(all.at("both"), PropertyList(10));
    EXPECT_EQ(all.at("suiteOnly"), PropertyList(2));

    standard.setInteger(20, "suiteOnly");
    EXPECT_EQ(suite->integer("suiteOnly"), 2) << "writes land in the store's own domain";
    standard.removeObject("both");
    EXPECT_EQ(standard.integer("both"), 1) << "removing the own value uncovers the suite's";

    standard.removeSuiteNamed(suiteName);
    EXPECT_EQ(standard.integer("both"), 0);
}

TEST_F(UserDefaultsTest, StoresOnOneDomainShareItsValues) {
    std::shared_ptr<UserDefaults> first = UserDefaults::suite(suiteName);
    std::shared_ptr<UserDefaults> second = UserDefaults::suite(suiteName);
    first->setObject(PropertyList("hello"), "greeting");
    EXPECT_EQ(second->string("greeting"), "hello");

    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            std::shared_ptr<UserDefaults> store = UserDefaults::suite(suiteName);
            for (int i = 0; i < 25; ++i) store->setInteger(i, "key" + std::to_string(t * 100 + i));
        });
    }
    for (auto& writer : writers) writer.join();
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(UserDefaults::suite(suiteName)->dictionaryRepresentation().size(), 101u) << "no write lost";
}

TEST_F(UserDefaultsTest, ASaveByAnotherProcessIsSeen) {
    std::shared_ptr<UserDefaults> suite = UserDefaults::suite(suiteName);
    suite->setInteger(1, "counter");
    ASSERT_EQ(suite->integer("counter"), 1);

    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UserDefaults::suite(suiteName)->setInteger(2, "counter");
        UserDefaults::suite(suiteName)->setObject(PropertyList("child"), "writer");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(suite->integer("counter"), 2);
    EXPECT_EQ(suite->string("writer"), "child");
}

TEST_F(UserDefaultsTest, UnusableSuiteNamesAndFoldersAreRefused) {
    for (const char* name : {"", ".", "..", "a/b", "../escape", "NSGlobalDomain"})
        EXPECT_EQ(UserDefaults::suite(name), nullptr) << '"' << name << '"';
    EXPECT_EQ(UserDefaults::suite(UserDefaults::standard().domainName()), nullptr);

    std::ofstream(root / "plain") << "a file where the folder should be";
    UserDefaults::setStorageFolder((root / "plain" / "settings").string());
    EXPECT_EQ(UserDefaults::suite(suiteName), nullptr);

    // The standard store cannot be refused: it keeps its values in memory and says so.
    StdoutCapture capture;
    UserDefaults::standard().setInteger(5, "volatile");
    const std::string output = capture.finish();
    EXPECT_EQ(UserDefaults::standard().integer("volatile"), 5);
    EXPECT_NE(output.find("WARNING"), std::string::npos) << output;
    EXPECT_NE(output.find("memory only"), std::string::npos) << output;
}

TEST_F(UserDefaultsTest, InMemoryDomainsAreSharedButNeverSaved) {
    std::shared_ptr<UserDefaults> memory = UserDefaults::inMemory(suiteName);
    memory->setObject(PropertyList("only here"), "note");
    EXPECT_EQ(UserDefaults::inMemory(suiteName)->string("note"), "only here");
    UserDefaults::standard().addSuiteNamed(suiteName);
    EXPECT_EQ(UserDefaults::standard().string("note"), "only here");
    EXPECT_FALSE(fs::exists(root / "settings" / (std::string(suiteName) + ".plist")));
    UserDefaults::standard().removeSuiteNamed(suiteName);
}

TEST_F(UserDefaultsTest, UnwritableValuesAndUnreadableFilesAreReported) {
    UserDefaults& store = UserDefaults::standard();
    store.setObject(PropertyList("good"), "text");
    {
        StdoutCapture capture;
        store.setObject(PropertyList(std::string("bell\x07")), "text");
        const std::string output = capture.finish();
        EXPECT_NE(output.find("WARNING"), std::string::npos) << output;
    }
    EXPECT_EQ(store.string("text"), "good") << "the refused value does not replace the old one";

    const fs::path file = root / "settings" / (store.domainName() + ".plist");
    std::ofstream(file, std::ios::trunc) << "not a property list";
    UserDefaults::resetStandardUserDefaults();
    StdoutCapture capture;
    EXPECT_EQ(store.string("text"), std::nullopt);
    store.setInteger(7, "fresh");
    const std::string output = capture.finish();
    EXPECT_NE(output.find("WARNING"), std::string::npos) << output;

    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(store.integer("fresh"), 7) << "the next save replaces the damaged file, once it is moved aside";
}

// What a damaged file held is never lost: the first save moves it aside, next
// to any copy moved aside before.
TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideBeforeItIsReplaced) {
    const struct {
        const char* what;
        std::string content;
        std::vector<std::string> earlier; // moved aside before
        std::string aside;
    } cases[] = {
        {"not a property list", "not a property list", {}, ".damaged"},
        {"no dictionary",
         "<plist version=\"1.0\"><array><integer>1</integer></array></plist>",
         {},
         ".damaged"},
        {"a copy there already", "<plist><dict><key>a</", {".damaged"}, ".damaged-2"},
        {"two copies there already", "\x01\x02", {".damaged", ".damaged-2"}, ".damaged-3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string(suiteName) + "." + std::to_string(&c - cases);
        const fs::path file = root / "settings" / (name + ".plist");
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << c.content;
        for (const std::string& suffix : c.earlier) std::ofstream(file.string() + suffix) << "earlier";

        StdoutCapture capture;
        UserDefaults::suite(name)->setInteger(7, "fresh");
        const std::string output = capture.finish();
        UserDefaults::resetStandardUserDefaults();

        const fs::path aside = file.string() + c.aside;
        std::ifstream in(aside, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.content);
        for (const std::string& suffix : c.earlier) {
            std::ifstream kept(file.string() + suffix);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "earlier") << suffix;
        }
        EXPECT_NE(output.find(aside.string()), std::string::npos) << output;
        EXPECT_EQ(UserDefaults::suite(name)->integer("fresh"), 7);
    }
}

// Where the file system cannot rename without replacing (NFS, some FUSE), a
// link and an unlink move the damaged file aside, still never over a copy
// moved aside before; a rename refused for another reason leaves it in place.
TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideWhereTheFileSystemCannotRenameWithoutReplacing) {
    const defaults::RenameCall unsupported = [](const char*, const char*) {
        errno = EINVAL;
        return -1;
    };
    const defaults::RenameCall missing = [](const char*, const char*) {
        errno = ENOSYS;
        return -1;
    };
    const defaults::RenameCall forbidden = [](const char*, const char*) {
        errno = EACCES;
        return -1;
    };
    const struct {
        const char* what;
        defaults::RenameCall rename;
        std::vector<std::string> earlier; // moved aside before
        std::optional<std::string> aside; // none: the file stays
        int error;
    } cases[] = {
        {"renamed", defaults::renameNoReplace, {}, ".damaged", 0},
        {"renamed past two copies", defaults::renameNoReplace, {".damaged", ".damaged-2"}, ".damaged-3", 0},
        {"no such rename (EINVAL)", unsupported, {}, ".damaged", 0},
        {"no such rename, past a copy", unsupported, {".damaged"}, ".damaged-2", 0},
        {"no such call (ENOSYS), past two copies", missing, {".damaged", ".damaged-2"}, ".damaged-3", 0},
        {"refused (EACCES)", forbidden, {}, std::nullopt, EACCES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = root / (std::to_string(&c - cases) + ".plist");
        std::ofstream(file, std::ios::binary) << "damaged";
        for (const std::string& suffix : c.earlier) std::ofstream(file.string() + suffix) << "earlier";

        int error = -1;
        const std::optional<std::string> aside = defaults::moveAside(file.string(), error, c.rename);

        if (c.aside) {
            ASSERT_EQ(aside, file.string() + *c.aside);
            EXPECT_FALSE(fs::exists(file)) << "only one name is left";
            EXPECT_EQ(fs::hard_link_count(*aside), 1u);
            std::ifstream in(*aside, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "damaged");
        } else {
            EXPECT_EQ(aside, std::nullopt);
            EXPECT_EQ(error, c.error);
            EXPECT_TRUE(fs::exists(file));
        }
        for (const std::string& suffix : c.earlier) {
            std::ifstream kept(file.string() + suffix);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "earlier") << suffix;
        }
    }
}

// Root reads a file whatever its mode, so the unreadable file is met by a
// child process that runs as an ordinary user (nobody) when the tests run as root.
TEST_F(UserDefaultsTest, AFileThatCannotBeReadIsNeverReplacedAndTakesTheChangesOnceItCan) {
    UserDefaults::suite(suiteName)->setInteger(1, "kept");
    UserDefaults::resetStandardUserDefaults();
    const fs::path file = root / "settings" / (std::string(suiteName) + ".plist");
    const auto sizeBefore = fs::file_size(file);
    constexpr uid_t nobody = 65534;
    const bool asRoot = ::geteuid() == 0;
    fs::permissions(root.path(), fs::perms::all);
    fs::permissions(root / "settings", fs::perms::all);
    if (asRoot) {
        ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);

    enum Step { done, dropPrivileges, open, warned, keptInMemory, fileTouched, unlock };
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (asRoot && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(dropPrivileges);
        const std::shared_ptr<UserDefaults> suite = UserDefaults::suite(suiteName);
        if (!suite) ::_exit(open);
        StdoutCapture capture;
        suite->setInteger(2, "fresh");
        suite->removeObject("kept");
        if (capture.finish().find("WARNING") == std::string::npos) ::_exit(warned);
        if (suite->integer("fresh") != 2 || suite->object("kept")) ::_exit(keptInMemory);
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0 || (info.st_mode & 07777) != 0 ||
            static_cast<std::uintmax_t>(info.st_size) != sizeBefore)
            ::_exit(fileTouched);
        // Readable again: the next write saves what waited and itself.
        if (::chmod(file.c_str(), 0600) != 0) ::_exit(unlock);
        suite->setInteger(3, "later");
        ::_exit(done);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), done) << "the child stopped at step " << WEXITSTATUS(status);

    UserDefaults::resetStandardUserDefaults();
    const PropertyList::Dictionary saved = UserDefaults::suite(suiteName)->dictionaryRepresentation();
    EXPECT_EQ(saved, (PropertyList::Dictionary{{"fresh", 2}, {"later", 3}}));
}

TEST_F(UserDefaultsTest, AFileAboveTheLimitIsRefusedUnreadAndNeverReplaced) {
    const fs::path file = root / "settings" / (std::string(suiteName) + ".plist");
    std::shared_ptr<UserDefaults> suite = UserDefaults::suite(suiteName);
    suite->setInteger(1, "kept");
    fs::resize_file(file, (16u << 20) + 1);
    UserDefaults::resetStandardUserDefaults();

    StdoutCapture capture;
    suite->setInteger(2, "fresh");
    const std::string output = capture.finish();
    EXPECT_NE(output.find("WARNING"), std::string::npos) << output;
    EXPECT_EQ(suite->integer("fresh"), 2);
    EXPECT_EQ(fs::file_size(file), (16u << 20) + 1);
}

TEST_F(UserDefaultsTest, StorageFolderFollowsTheConfigurationConventions) {
    testkit::ScopedEnvironment environment({"ORVO_DEFAULTS_DIR", "XDG_CONFIG_HOME", "HOME"});
    UserDefaults::setStorageFolder(std::nullopt);
    ::unsetenv("ORVO_DEFAULTS_DIR");
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    EXPECT_EQ(UserDefaults::storageFolder(), "/xdg/config/Orvo Halden");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(UserDefaults::storageFolder(), "/home/someone/.config/Orvo Halden")
        << "relative values are ignored";
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::storageFolder(), "/home/someone/.config/Orvo Halden");
    ::setenv("ORVO_DEFAULTS_DIR", "/elsewhere", 1);
    EXPECT_EQ(UserDefaults::storageFolder(), "/elsewhere");
    UserDefaults::setStorageFolder("/chosen");
    EXPECT_EQ(UserDefaults::storageFolder(), "/chosen");
}

TEST_F(UserDefaultsTest, ChangingTheFolderSwitchesToItsFiles) {
    UserDefaults::standard().setInteger(1, "where");
    UserDefaults::setStorageFolder((root / "other").string());
    EXPECT_EQ(UserDefaults::standard().integer("where"), 0);
    UserDefaults::standard().setInteger(2, "where");
    UserDefaults::setStorageFolder((root / "settings").string());
    EXPECT_EQ(UserDefaults::standard().integer("where"), 1);
}

} // namespace
