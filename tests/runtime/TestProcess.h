// The process object of the runtime test program, with its logger steps
// open to the tests: a test that needs the process logger creates it and
// releases it again, so that no logger task runs during the other tests.
#pragma once

#include <vector>

#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VLogger.h"
#include "values/VValueBag.h"

namespace qelt::test {

class TestProcess : public VProcess {
public:
    using VProcess::_CreateLogger;
    using VProcess::_ReleaseLogger;

    static TestProcess* Get() { return static_cast<TestProcess*>(VProcess::sInstance); }
    VLogger* GetVLogger() const { return static_cast<VLogger*>(GetLogger()); }
};

// A listener that keeps the records it is given, with the number of calls.
class RecordingListener : public VObject, public ILogListener {
public:
    void Put(const std::vector<const VValueBag*>& inRecords) override
    {
        StLocker locker(fLock);
        ++fCalls;
        for (const VValueBag* record : inRecords) {
            VString message;
            record->GetAttribute(StPackedDictionaryKey("message"), message);
            fMessages.push_back(message);
            record->Retain();
            fRecords.push_back(record);
        }
    }

    std::vector<VString> Messages()
    {
        StLocker locker(fLock);
        return fMessages;
    }

    // The records kept, each with a new reference.
    std::vector<VRefPtr<const VValueBag>> Records()
    {
        StLocker locker(fLock);
        return std::vector<VRefPtr<const VValueBag>>(fRecords.begin(), fRecords.end());
    }

    int Calls()
    {
        StLocker locker(fLock);
        return fCalls;
    }

protected:
    ~RecordingListener() override
    {
        for (const VValueBag* record : fRecords)
            record->Release();
    }

private:
    VCriticalSection fLock;
    std::vector<VString> fMessages;
    std::vector<const VValueBag*> fRecords;
    int fCalls = 0;
};

}  // namespace qelt::test
