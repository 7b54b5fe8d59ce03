#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioComponentDescription.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/URL.h"

// One registered component, as its manifest describes it.
class AVAudioUnitComponent {
public:
    AVAudioUnitComponent(std::string name, AudioComponentDescription description, std::uint32_t version,
                         URL moduleURL, std::string factoryFunction, URL manifestURL)
        : name_(std::move(name)), description_(description), version_(version),
          moduleURL_(std::move(moduleURL)), factoryFunction_(std::move(factoryFunction)),
          manifestURL_(std::move(manifestURL)) {}

    // "Maker: Product", as registered.
    const std::string& name() const { return name_; }
    // The maker's part of the name (before ": "), else the whole name.
    std::string manufacturerName() const;
    const AudioComponentDescription& audioComponentDescription() const { return description_; }
    std::uint32_t version() const { return version_; }
    const URL& moduleURL() const { return moduleURL_; }
    const std::string& factoryFunction() const { return factoryFunction_; }
    const URL& manifestURL() const { return manifestURL_; }

private:
    std::string name_;
    AudioComponentDescription description_;
    std::uint32_t version_;
    URL moduleURL_;
    std::string factoryFunction_;
    URL manifestURL_;
};

// The component registry. Every ".plist" manifest (an XML property list with
// "name", "type", "subtype", "manufacturer" as four-character texts, optional
// integers "flags" and "version", the module's "path", absolute or relative to
// the manifest, and an optional "factoryFunction") is read from the folders
// named in ORVO_COMPONENT_PATH (separated by ':'), then from the install's own
// folder, "../lib/orvo-halden" from the executable's: folder by folder, each
// one's manifests in path order. A broken manifest is skipped with a WARNING line. The folders are
// read again at every search, so newly written manifests count. ORVO_COMPONENT_PATH is read from
// the environment a search is given: a search on a queue carries the one its asker had.
class AVAudioUnitComponentManager {
public:
    static AVAudioUnitComponentManager& sharedAudioUnitComponentManager();

    // The components the description matches, in registry order: zero type,
    // subtype or manufacturer match any; flags count only under the mask.
    std::vector<std::shared_ptr<AVAudioUnitComponent>>
    components(const AudioComponentDescription& matching,
               const Environment& environment = Environment::current()) const;

    static bool matches(const AudioComponentDescription& search, const AudioComponentDescription& component);

private:
    AVAudioUnitComponentManager() = default;
};
