// Demo program: starts the toolbox as an application would and exercises
// what it offers so far, printing what it did.
#include <atomic>
#include <cstdio>
#include <string>

#include "qelt.h"

using namespace qelt;

namespace {

std::string ToUTF8(const VString& text)
{
    StStringConverter<char> converted(text, VTC_UTF_8);
    return std::string(converted.GetCPointer(), converted.GetSize());
}

}  // namespace

int main()
{
    // The memory manager comes first: every toolbox allocation goes through it.
    VCppMemMgr* manager = new VCppMemMgr(eAllocatorFromBundle);
    VObject::sCppMemMgr = manager;
    std::printf("memory manager: %s mode\n", manager->IsMallocMode() ? "malloc" : "pooled");

    int status = 0;
    {
        VProcess process;
        if (!process.Init(0)) {
            std::printf("toolbox start-up failed\n");
            status = 1;
        } else {
            std::printf("toolbox started; main task id %d\n", VTaskMgr::GetCurrentTaskID());

            // Strings: UTF-16 text with shared, copy-on-write blocks.
            VString greeting("Grüße aus dem Werkzeugkasten");
            VString copy(greeting);
            copy.AppendCString(" – édition démo");
            std::printf("string: \"%s\" (%d units), copy: \"%s\"\n", ToUTF8(greeting).c_str(),
                        greeting.GetLength(), ToUTF8(copy).c_str());

            // A value bag written as XML, the form of the updater's link file.
            VValueBag* link = new VValueBag;
            VValueBag* shortcut = new VValueBag;
            shortcut->SetAttribute("address", VString("127.0.0.1"));
            shortcut->SetAttribute("port", VLong(19812));
            link->AddElement("database_shortcut", shortcut);
            shortcut->Release();
            VString xml;
            link->DumpXML(xml, VString("root"), true);
            link->Release();
            std::printf("bag as XML:\n%s\n", ToUTF8(xml).c_str());

            // Errors are collected in the context installed around the work.
            {
                StErrorContextInstaller errors(true, true);
                VString missing("/no/such/bundle.app");
                _ThrowError(QeltError(600), &missing);
                VError last = errors.GetLastError();
                VString description;
                if (VErrorBase* error = errors.GetContext()->GetLast())
                    error->GetErrorDescription(description);
                std::printf("collected error 'qelt' %d: %s\n", VErrorNumber(last), ToUTF8(description).c_str());
            }

            // A task on a thread of its own.
            std::atomic<int> counted{0};
            VTask* worker = new VTask(0, eTaskStylePreemptive, [&counted]() {
                for (int i = 0; i < 5; ++i) {
                    counted.fetch_add(1);
                    VTask::Sleep(10);
                }
            });
            worker->SetName(VString("Demo worker"));
            worker->Run();
            bool ended = worker->WaitForDeath(5000);
            std::printf("task \"Demo worker\" counted to %d and %s\n", counted.load(),
                        ended ? "ended" : "did not end in time");
            worker->Release();
        }
    }

    VObject::sCppMemMgr = nullptr;
    delete manager;
    std::printf("toolbox shut down\n");
    return status;
}
