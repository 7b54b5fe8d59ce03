#pragma once

#include <memory>

class Orvo_Halden_Extension_AudioUnit;

// What the editor's drawing model may ask of the controller that owns the
// editor: the unit it is showing, absent until the controller has made one.
// The model holds this link weakly, so an open editor never keeps a closed
// controller (and its unit's delay lines) alive.
class OrvoHaldenViewControllerLink {
public:
    virtual ~OrvoHaldenViewControllerLink() = default;
    virtual std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const = 0;
};
