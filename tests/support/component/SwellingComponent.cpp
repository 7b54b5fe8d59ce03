// A component module whose principal class takes 3 GB of memory as it is
// made, touches every page of it and returns, keeping it, as a module that
// fills a huge table at start would: its program swells past any trial's
// limit and would set off the system's out-of-memory killer. Built a second
// time giving it all back before it returns, having taken as many bytes as
// ORVO_TEST_PEAK_BYTES says (none without it), as a module that works
// through a huge table at start and frees it would: a look at its program
// from outside sees that peak only when it happens to fall within it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "platform/audio/AUAudioUnitFactory.h"

namespace {

#ifdef ORVO_GIVE_IT_BACK
constexpr bool kGivesItBack = true;
std::size_t bytesTaken() {
    const char* text = std::getenv("ORVO_TEST_PEAK_BYTES");
    return text ? std::strtoull(text, nullptr, 10) : 0;
}
#else
constexpr bool kGivesItBack = false;
std::size_t bytesTaken() { return std::size_t(3) << 30; }
#endif

class SwellingPrincipalClass : public AUAudioUnitFactory {
public:
    SwellingPrincipalClass() {
        const std::size_t bytes = bytesTaken();
        if (bytes == 0) return;
        void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        auto* touched = static_cast<volatile unsigned char*>(memory);
        for (std::size_t at = 0; at < bytes; at += page) touched[at] = 1;
        if (kGivesItBack) ::munmap(memory, bytes);
    }
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        return nullptr;
    }
};

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, SwellingPrincipalClass)
