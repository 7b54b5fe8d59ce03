// Writes the demo loops 1.m4a ... 80.m4a into the folder given.
#include <cstdio>
#include <exception>
#include <string>

#include "platform/audio/AVAudioFile.h"
#include "platform/foundation/FileManager.h"
#include "resources/LoopRecipe.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    try {
        const URL folder = URL::fileURLWithPath(argv[1]);
        FileManager::defaultManager().createDirectory(folder, true);
        for (int number = 1; number <= loops::kCount; ++number)
            AVAudioFile::writeLossless(folder.appendingPathComponent(std::to_string(number) + ".m4a"),
                                       *loops::render(number));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "loop generator: %s\n", error.what());
        return 1;
    }
    return 0;
}
