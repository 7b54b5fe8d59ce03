#pragma once

#include <memory>
#include <vector>

#include "kernel/Orvo_Halden_ExtensionDSPKernelAdapter.h"
#include "platform/audio/AUParameterTree.h"

class Orvo_Halden_Extension_AudioUnit;

// Builds the effect's parameter tree (111 parameters in one group), pushes
// every default into the kernel once and connects the tree to the kernel:
// values set on the tree go to the kernel, values read come from it.
class Orvo_Halden_Extension_Parameters {
public:
    static constexpr int NUMCHANNELS = 1;

    explicit Orvo_Halden_Extension_Parameters(
        std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> kernelAdapter);
    Orvo_Halden_Extension_Parameters(const Orvo_Halden_Extension_Parameters&) = delete;
    Orvo_Halden_Extension_Parameters& operator=(const Orvo_Halden_Extension_Parameters&) = delete;

    // Builds the parameters with their defaults, the group and the tree.
    void createParameters();

    const std::weak_ptr<Orvo_Halden_Extension_AudioUnit>& unit() const { return unit_; }
    void setUnit(std::weak_ptr<Orvo_Halden_Extension_AudioUnit> unit) { unit_ = std::move(unit); }
    const std::shared_ptr<AUParameterTree>& parameterTree() const { return parameterTree_; }
    void setParameterTree(std::shared_ptr<AUParameterTree> tree) { parameterTree_ = std::move(tree); }

private:
    void connect(const std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter>& adapter);

    std::weak_ptr<Orvo_Halden_Extension_AudioUnit> unit_;
    std::shared_ptr<AUParameterTree> parameterTree_ = AUParameterTree::createTree({});
    std::vector<std::shared_ptr<AUParameterGroup>> groups_;
};
