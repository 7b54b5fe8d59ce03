// The audio file reader on any bytes, written to a file of this process: it
// reads the file or refuses it with its error, never more than the cap, and
// what it reads converts to the engine's rate within the cap as well.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/audio/AVAudioFile.h"
#include "platform/foundation/NSError.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

std::string scratchFile() {
    const std::filesystem::path folder =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    static const std::string path = (folder / ("audio_file_fuzzer." + std::to_string(::getpid()))).string();
    static const int quiet = (av_log_set_level(AV_LOG_QUIET), std::atexit([] { std::remove(path.c_str()); }));
    (void)quiet;
    return path;
}

void checkWithinTheCap(const AVAudioPCMBuffer& buffer) {
    const std::int64_t channels = buffer.format()->channelCount();
    fuzz::check(buffer.frameLength() * channels <= AVAudioFile::kMaximumSamples,
                "a file was read beyond the cap");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchFile();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    try {
        const AVAudioFile file(URL::fileURLWithPath(path));
        const AVAudioPCMBuffer& read = *file.buffer();
        fuzz::check(read.format()->channelCount() > 0 && read.frameLength() > 0 &&
                        read.format()->sampleRate() > 0.0,
                    "a file was read without channels, frames or a sample rate");
        checkWithinTheCap(read);
        checkWithinTheCap(*file.buffer(48000.0));
    } catch (const NSError&) {
    }
    return 0;
}
