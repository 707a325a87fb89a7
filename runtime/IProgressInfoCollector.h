// What a progress session asks for extra JSON information when an observer
// requested a snapshot. The indicator neither retains nor deletes it.
#pragma once

namespace qelt {

class VJSONObject;
class VProgressIndicator;

class IProgressInfoCollector {
public:
    virtual ~IProgressInfoCollector() = default;
    // A JSON object retained for the caller, or null. `outermost` is true
    // for the first record of the chain only.
    virtual VJSONObject* CollectInfo(VProgressIndicator* indicator, bool outermost) = 0;
};

}  // namespace qelt
