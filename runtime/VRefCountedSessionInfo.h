// An immutable snapshot of an indicator's session records, outermost first,
// built by the working task and read by observers on other tasks.
#pragma once

#include <memory>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VProgressIndicatorInfo.h"

namespace qelt {

class VRefCountedSessionInfo : public VObject, public IRefCountable {
public:
    using List = std::vector<std::unique_ptr<VProgressIndicatorInfo>>;
    explicit VRefCountedSessionInfo(List&& records) : fRecords(std::move(records)) {}
    const List& GetRecords() const { return fRecords; }

private:
    const List fRecords;
};

}  // namespace qelt
