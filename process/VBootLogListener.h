// The process's own log listener, added to the logger at start-up: it keeps
// every record it is given, so that what was logged before any other
// listener existed is not lost.
#pragma once

#include <vector>

#include "kernel/VObject.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VBootLogListener : public VObject, public ILogListener {
public:
    VBootLogListener() = default;
    VBootLogListener(const VBootLogListener&) = delete;
    VBootLogListener& operator=(const VBootLogListener&) = delete;

    // Appends each record, retained.
    void Put(const std::vector<const VValueBag*>& inRecords) override;

    // The records kept so far, each with a new reference for the caller.
    std::vector<const VValueBag*> RetainRecords() const;

protected:
    ~VBootLogListener() override;

private:
    mutable VCriticalSection fLock;
    std::vector<const VValueBag*> fRecords;
};

}  // namespace qelt
