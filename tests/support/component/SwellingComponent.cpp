// A component module whose principal class takes 3 GB of memory as it is
// made, touches every page of it and returns, keeping it, as a module that
// fills a huge table at start would: its program swells past any trial's
// limit and would set off the system's out-of-memory killer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <memory>

#include "platform/audio/AUAudioUnitFactory.h"

namespace {

constexpr std::size_t kBytes = std::size_t(3) << 30;

class SwellingPrincipalClass : public AUAudioUnitFactory {
public:
    SwellingPrincipalClass() {
        void* memory = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        auto* bytes = static_cast<volatile unsigned char*>(memory);
        for (std::size_t at = 0; at < kBytes; at += page) bytes[at] = 1;
    }
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        return nullptr;
    }
};

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, SwellingPrincipalClass)
