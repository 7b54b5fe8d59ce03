#include "platform/audio/AVAudioUnitComponentManager.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "platform/audio/AUAudioUnitFactory.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"

namespace {

void warn(const URL& manifest, const std::string& why) {
    std::printf("WARNING: Component manifest '%s' skipped: %s\n", manifest.path().c_str(), why.c_str());
    std::fflush(stdout);
}

std::optional<OSType> code(const PropertyList& manifest, const char* key) {
    const PropertyList* entry = manifest.find(key);
    const std::string* text = entry ? entry->string() : nullptr;
    if (!text || text->size() != 4) return std::nullopt;
    OSType value = 0;
    for (unsigned char c : *text) value = (value << 8) | c;
    return value;
}

std::optional<std::uint32_t> number(const PropertyList& manifest, const char* key, std::uint32_t absent) {
    const PropertyList* entry = manifest.find(key);
    if (!entry) return absent;
    const std::optional<std::int64_t> value = entry->integer();
    if (!value || *value < 0 || *value > 0xffffffffLL) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

// A manifest is a few hundred bytes; anything far larger is no manifest.
constexpr std::size_t kLargestManifest = 1 << 20;

std::shared_ptr<AVAudioUnitComponent> read(const URL& url) {
    PropertyList manifest;
    try {
        PropertyListFormat format = PropertyListFormat::xml;
        const std::vector<std::uint8_t> bytes = FileManager::defaultManager().contents(url, kLargestManifest);
        manifest = PropertyListSerialization::propertyList(bytes, format);
    } catch (const std::exception& error) {
        warn(url, error.what());
        return nullptr;
    }
    const PropertyList* name = manifest.find("name");
    const PropertyList* path = manifest.find("path");
    const PropertyList* function = manifest.find("factoryFunction");
    const auto type = code(manifest, "type"), subtype = code(manifest, "subtype"),
               manufacturer = code(manifest, "manufacturer");
    const auto flags = number(manifest, "flags", 0), version = number(manifest, "version", 0);
    if (!name || !name->string() || !path || !path->string() || path->string()->empty()) {
        warn(url, "it needs a \"name\" and a \"path\".");
        return nullptr;
    }
    if (!type || !subtype || !manufacturer || *type == 0) {
        warn(url, "\"type\", \"subtype\" and \"manufacturer\" must be four characters each.");
        return nullptr;
    }
    if (!flags || !version || (function && (!function->string() || function->string()->empty()))) {
        warn(url, "\"flags\", \"version\" or \"factoryFunction\" is not valid.");
        return nullptr;
    }
    const std::string& modulePath = *path->string();
    const URL module = modulePath.front() == '/'
                           ? URL::fileURLWithPath(modulePath)
                           : url.deletingLastPathComponent().appendingPathComponent(modulePath);
    const AudioComponentDescription description{*type, *subtype, *manufacturer, *flags, 0};
    return std::make_shared<AVAudioUnitComponent>(*name->string(), description, *version, module,
                                                  function ? *function->string() : kAUDefaultFactoryFunction,
                                                  url);
}

std::vector<URL> searchFolders(const Environment& environment) {
    std::vector<URL> folders;
    if (const std::optional<std::string> list = environment.value("ORVO_COMPONENT_PATH")) {
        const std::string& text = *list;
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find(':', start), text.size());
            if (end > start) folders.push_back(URL::fileURLWithPath(text.substr(start, end - start)));
            start = end + 1;
        }
    }
    char executable[4096];
    const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof executable)
        folders.push_back(URL::fileURLWithPath(std::string(executable, static_cast<std::size_t>(length)))
                              .deletingLastPathComponent()
                              .deletingLastPathComponent()
                              .appendingPathComponent("lib/orvo-halden"));
    return folders;
}

bool field(OSType search, OSType component) { return search == 0 || search == component; }

} // namespace

std::string AVAudioUnitComponent::manufacturerName() const {
    const std::size_t colon = name_.find(": ");
    return colon == std::string::npos ? name_ : name_.substr(0, colon);
}

AVAudioUnitComponentManager& AVAudioUnitComponentManager::sharedAudioUnitComponentManager() {
    static AVAudioUnitComponentManager manager;
    return manager;
}

bool AVAudioUnitComponentManager::matches(const AudioComponentDescription& search,
                                          const AudioComponentDescription& component) {
    return field(search.componentType, component.componentType) &&
           field(search.componentSubType, component.componentSubType) &&
           field(search.componentManufacturer, component.componentManufacturer) &&
           (search.componentFlags & search.componentFlagsMask) ==
               (component.componentFlags & search.componentFlagsMask);
}

std::vector<std::shared_ptr<AVAudioUnitComponent>>
AVAudioUnitComponentManager::components(const AudioComponentDescription& matching,
                                        const Environment& environment) const {
    std::vector<URL> manifests;
    for (const URL& folder : searchFolders(environment)) {
        bool isDirectory = false;
        if (!FileManager::defaultManager().fileExists(folder.path(), isDirectory) || !isDirectory) continue;
        std::vector<std::string> names;
        try {
            names = FileManager::defaultManager().contentsOfDirectory(folder);
        } catch (const std::exception&) {
            continue; // an unreadable folder holds no components
        }
        for (const std::string& name : names)
            if (folder.appendingPathComponent(name).pathExtension() == "plist")
                manifests.push_back(folder.appendingPathComponent(name));
    }
    // A folder named twice counts once, where it came first.
    std::vector<URL> unique;
    for (const URL& url : manifests)
        if (std::find(unique.begin(), unique.end(), url) == unique.end()) unique.push_back(url);
    manifests = std::move(unique);

    std::vector<std::shared_ptr<AVAudioUnitComponent>> found;
    for (const URL& url : manifests)
        if (auto component = read(url);
            component && matches(matching, component->audioComponentDescription()))
            found.push_back(std::move(component));
    return found;
}
