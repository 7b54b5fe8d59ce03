#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace testkit {

// Every preset test gets its own documents folder with an empty "Presets" folder.
class DocumentsFixture : public ::testing::Test {
protected:
    DocumentsFixture() {
        ScopedEnvironment::set("ORVO_DOCUMENTS_DIR", documents.path().string());
        std::filesystem::create_directories(presets());
    }

    std::filesystem::path presets() const { return documents / "Presets"; }

    std::filesystem::path write(const std::filesystem::path& path, const std::string& bytes) const {
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::filesystem::path writePreset(const std::string& fileName, const std::string& bytes) const {
        return write(presets() / fileName, bytes);
    }

    static std::string read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    ScopedEnvironment environment{"ORVO_DOCUMENTS_DIR"};
    TempFolder documents{"orvo-presets"};
};

// Every line the call writes, at once or through the main queue.
template <class Call> std::vector<std::string> logOf(Call&& call) {
    StdoutCapture capture;
    call();
    DispatchQueue::main().drain();
    return splitLines(capture.finish());
}

} // namespace testkit
