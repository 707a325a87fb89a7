// Error objects and the operations that raise them.
#include <gtest/gtest.h>

#include <thread>

#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/ErrorBagKeys.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

using namespace qelt;

namespace {

std::string Utf8(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i) {
        UniChar c = s.GetCPointer()[i];
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::string Attribute(const VValueBag* bag, const char* name)
{
    VString value;
    if (bag == nullptr || !bag->GetAttribute(StPackedDictionaryKey(name), value))
        return "<absent>";
    return Utf8(value);
}

// Clears the process object for the lifetime of the guard, as before start-up
// or after shut-down.
class StNoProcess {
public:
    StNoProcess() : fSaved(VProcess::sInstance) { VProcess::sInstance = nullptr; }
    ~StNoProcess() { VProcess::sInstance = fSaved; }

private:
    VProcess* fSaved;
};

}  // namespace

TEST(ErrorThrow, ParametersAreTheGivenStrings)
{
    const VString one("one"), two("two"), three("three");
    struct Case {
        const VString* p1;
        const VString* p2;
        const VString* p3;
        int attributes;
        const char* expected1;
        const char* expected2;
        const char* expected3;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 0, "<absent>", "<absent>", "<absent>"},
        {nullptr, &two, nullptr, 1, "<absent>", "two", "<absent>"},
        {&one, &two, &three, 3, "one", "two", "three"},
        {&one, nullptr, &three, 2, "one", "<absent>", "three"},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors;
        _ThrowError(QeltError(42), c.p1, c.p2, c.p3);
        ASSERT_EQ(errors.GetContext()->GetErrorsCount(), 1u);
        VErrorBase* error = errors.GetContext()->GetLast();
        EXPECT_EQ(error->GetError(), QeltError(42));
        EXPECT_EQ(error->GetBag()->GetAttributesCount(), c.attributes);
        EXPECT_EQ(Attribute(error->GetBag(), "p1"), c.expected1);
        EXPECT_EQ(Attribute(error->GetBag(), "p2"), c.expected2);
        EXPECT_EQ(Attribute(error->GetBag(), "p3"), c.expected3);
    }
}

TEST(ErrorThrow, RecordsTheRaisingTask)
{
    StErrorContextInstaller errors;
    _ThrowError(QeltError(7));
    VErrorBase* error = errors.GetContext()->GetLast();
    ASSERT_NE(error, nullptr);
    VTask* task = VTask::GetCurrent();
    ASSERT_NE(task, nullptr);
    VString taskName, errorTaskName;
    task->GetName(taskName);
    int id = -99;
    error->GetTaskName(errorTaskName, &id);
    EXPECT_EQ(id, task->GetID());
    EXPECT_EQ(error->GetTaskID(), task->GetID());
    EXPECT_EQ(Utf8(errorTaskName), Utf8(taskName));
}

TEST(ErrorThrow, WithoutProcessNothingIsRaised)
{
    StErrorContextInstaller errors;
    _ThrowError(QeltError(1));
    {
        StNoProcess noProcess;
        _ThrowError(QeltError(2));
    }
    EXPECT_EQ(errors.GetContext()->GetErrorsCount(), 1u);
    EXPECT_EQ(errors.GetLastError(), QeltError(1));
}

TEST(ErrorThrow, OnThreadWithoutTaskErrorHasNoTask)
{
    int id = -1;
    std::string name = "unset";
    VError code = 0;
    std::thread thread([&] {
        VErrorBase* error = new VErrorBase(QeltError(9));
        VString taskName;
        error->GetTaskName(taskName, &id);
        name = Utf8(taskName);
        code = error->GetError();
        error->Release();
        // Raising on a thread without task is dropped quietly.
        _ThrowError(QeltError(10));
        StErrorContextInstaller errors;
        _ThrowError(QeltError(11));
        EXPECT_EQ(errors.GetLastError(), 0u);
    });
    thread.join();
    EXPECT_EQ(id, 0);
    EXPECT_EQ(name, "");
    EXPECT_EQ(code, QeltError(9));
}

TEST(ErrorPushRetained, NativeErrorComesFirst)
{
    StErrorContextInstaller errors;
    EXPECT_TRUE(_PushRetainedError(new VErrorBase(QeltError(600)), PosixError(2)));
    VErrorContext* context = errors.GetContext();
    ASSERT_EQ(context->GetErrorsCount(), 2u);
    EXPECT_EQ(context->GetFirst()->GetError(), PosixError(2));
    EXPECT_EQ(context->GetLastError(), QeltError(600));
}

TEST(ErrorPushRetained, NoNativeErrorPushesOne)
{
    StErrorContextInstaller errors;
    _PushRetainedError(new VErrorBase(QeltError(600)), 0);
    ASSERT_EQ(errors.GetContext()->GetErrorsCount(), 1u);
    EXPECT_EQ(errors.GetLastError(), QeltError(600));
}

TEST(ErrorPushRetained, FilteredErrorComesAlone)
{
    StErrorContextInstaller outer;
    {
        StErrorContextInstaller filtering(QeltError(600), VError(0));
        _PushRetainedError(new VErrorBase(QeltError(600)), PosixError(2));
        ASSERT_EQ(filtering.GetContext()->GetErrorsCount(), 1u);
        EXPECT_EQ(filtering.GetLastError(), QeltError(600));
        EXPECT_TRUE(filtering.GetContext()->IsSilent());
    }
    // The filter drops what the context held.
    EXPECT_EQ(outer.GetContext()->GetErrorsCount(), 0u);
}

TEST(ErrorPushRetained, NullErrorIsRefused)
{
    StErrorContextInstaller errors;
    EXPECT_FALSE(_PushRetainedError(nullptr, PosixError(2)));
    EXPECT_EQ(errors.GetContext()->GetErrorsCount(), 0u);
}

TEST(ErrorUserGenerated, MessageIsDescriptionAndDump)
{
    StErrorContextInstaller errors;
    EXPECT_EQ(vThrowUserGeneratedError(MakeVError(FourCC("UPVq"), 3), VString("Swap failed")),
              MakeVError(FourCC("UPVq"), 3));
    VErrorBase* error = errors.GetContext()->GetLast();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetError(), MakeVError(FourCC("UPVq"), 3));
    VString text;
    error->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), "Swap failed");
    error->DumpToString(text);
    EXPECT_EQ(Utf8(text), "Swap failed");
    error->GetLocation(text);
    EXPECT_EQ(Utf8(text), "component: 'UPVq'");
}

TEST(ErrorImported, MessageAndFixedLocation)
{
    VErrorImported* error = new VErrorImported(QeltError(5), VString("remote said no"));
    VString text;
    error->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), "remote said no");
    error->DumpToString(text);
    EXPECT_EQ(Utf8(text), "remote said no");
    error->GetLocation(text);
    EXPECT_EQ(Utf8(text), "REST Imported Error");
    error->Release();
}

TEST(ErrorBag, SaveAndLoadRoundTrip)
{
    VErrorBase* error = new VErrorBase(MakeVError(kSignaturePOSX, -1));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("path"), VString("/tmp/a"));
    VValueBag* bag = new VValueBag;
    EXPECT_EQ(error->SaveToBag(*bag), 0u);
    // The saved parameters are the error's own bag.
    VBagArray* parameters = bag->GetElements(StPackedDictionaryKey("parameters"));
    ASSERT_NE(parameters, nullptr);
    ASSERT_EQ(parameters->GetCount(), 1);

    VErrorBase* loaded = new VErrorBase;
    EXPECT_EQ(loaded->LoadFromBag(*bag), 0u);
    EXPECT_EQ(loaded->GetError(), error->GetError());
    EXPECT_EQ(loaded->GetTaskID(), error->GetTaskID());
    VString name1, name2;
    error->GetTaskName(name1);
    loaded->GetTaskName(name2);
    EXPECT_EQ(Utf8(name1), Utf8(name2));
    EXPECT_EQ(Attribute(loaded->GetBag(), "path"), "/tmp/a");
    // A clone, not the same bag.
    EXPECT_NE(loaded->GetBag(), error->GetBag());

    bag->Release();
    loaded->Release();
    error->Release();
}

TEST(ErrorBag, KeysAreDeclaredOnceWithTheirNames)
{
    struct Case {
        const StPackedDictionaryKey& key;
        const char* name;
    };
    const Case cases[] = {
        {ErrorBagKeys::error_code, "error_code"}, {ErrorBagKeys::task_id, "task_id"},
        {ErrorBagKeys::task_name, "task_name"},   {ErrorBagKeys::parameters, "parameters"},
        {ErrorBagKeys::error, "error"},           {ErrorBagKeys::error_stack, "error_stack"},
    };
    for (const Case& c : cases) {
        VString name;
        c.key.GetString(name);
        EXPECT_EQ(Utf8(name), c.name);
    }
    // The bag form of an error uses them; "error_stack" is filled by nothing.
    VErrorBase* error = new VErrorBase(QeltError(3));
    VValueBag* bag = new VValueBag;
    EXPECT_EQ(error->SaveToBag(*bag), 0u);
    long long code = 0;
    EXPECT_TRUE(ErrorBagKeys::error_code.Get(*bag, code));
    EXPECT_EQ(static_cast<VError>(code), QeltError(3));
    EXPECT_NE(bag->GetElements(ErrorBagKeys::parameters), nullptr);
    EXPECT_EQ(bag->GetElements(ErrorBagKeys::error_stack), nullptr);
    bag->Release();
    error->Release();
}

TEST(ErrorBag, LoadFromBagKeepsWhatIsMissing)
{
    VValueBag* bag = new VValueBag;
    StBagKeyNoDefault<int, VLong>("task_id").Set(*bag, 3);
    StBagKeyNoDefault<VString, VString>("task_name").Set(*bag, VString("worker"));
    VErrorBase* error = new VErrorBase(QeltError(12));
    error->LoadFromBag(*bag);
    EXPECT_EQ(error->GetError(), QeltError(12));  // no code: unchanged
    EXPECT_EQ(error->GetTaskID(), 3);

    VValueBag* empty = new VValueBag;
    EXPECT_EQ(error->LoadFromBag(*empty), 0u);
    VString name("x");
    int id = 0;
    error->GetTaskName(name, &id);
    EXPECT_TRUE(name.IsEmpty());  // no name: emptied
    EXPECT_EQ(id, 3);             // no id: unchanged
    EXPECT_EQ(error->GetError(), QeltError(12));

    empty->Release();
    bag->Release();
    error->Release();
}

TEST(ErrorCopy, CopyHasItsOwnParameters)
{
    VErrorBase* error = new VErrorBase(QeltError(3));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("name"), VString("a"));
    VErrorBase* copy = new VErrorBase(*error);
    EXPECT_EQ(copy->GetError(), QeltError(3));
    EXPECT_EQ(copy->GetTaskID(), error->GetTaskID());
    EXPECT_NE(copy->GetBag(), error->GetBag());
    copy->GetBag()->SetAttribute(StPackedDictionaryKey("name"), VString("b"));
    EXPECT_EQ(Attribute(error->GetBag(), "name"), "a");
    EXPECT_EQ(Attribute(copy->GetBag(), "name"), "b");
    copy->Release();
    error->Release();
}

TEST(ProcessInit, SecondCallReturnsFirstResult)
{
    ASSERT_NE(VProcess::sInstance, nullptr);
    EXPECT_TRUE(VProcess::sInstance->IsInitDone());
    EXPECT_TRUE(VProcess::sInstance->Init(kInitLogger));
    EXPECT_EQ(VProcess::sInstance->GetInitFlags(), 0u);
    EXPECT_EQ(VProcess::sInstance->GetLogger(), nullptr);
}

namespace qelt {

TEST(ErrorJSON, ObjectCarriesNumberSignatureAndMessage)
{
    struct Case { VError code; double number; const char* signature; };
    const Case cases[] = {
        {QeltError(600), 600, "qelt"},
        {MakeVError(FourCC("POSX"), 0), 0, "POSX"},
        {QeltError(-1), -1, "qelt"},  // all ones read as signed
    };
    for (const Case& c : cases) {
        VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(c.code));
        VJSONObject* object = error->CreateJSONObject();
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->GetProperty(VString("errCode")).GetNumber(), c.number);
        VString signature, message, expected;
        object->GetProperty(VString("componentSignature")).GetString(signature);
        EXPECT_TRUE(signature.EqualToStringRaw(VString(c.signature)));
        object->GetProperty(VString("message")).GetString(message);
        error->GetErrorDescription(expected);
        EXPECT_TRUE(message.EqualToStringRaw(expected));
        object->Release();
    }
}

TEST(ErrorJSON, ContextArrayIsUndefinedWhenEmptyElseOneObjectPerError)
{
    VErrorContext context;
    VJSONValue value(JSON_null);
    context.SaveToJSONArray(value);
    EXPECT_TRUE(value.IsUndefined());

    VErrorBase* first = new VErrorBase(QeltError(1));
    VErrorBase* second = new VErrorBase(QeltError(2));
    context.PushError(first);
    context.PushError(second);
    first->Release();
    second->Release();
    context.SaveToJSONArray(value);
    ASSERT_TRUE(value.IsArray());
    VJSONArray* array = value.GetArray();
    ASSERT_EQ(array->GetCount(), 2u);
    EXPECT_EQ(array->GetAt(0).GetProperty(VString("errCode")).GetNumber(), 1);
    EXPECT_EQ(array->GetAt(1).GetProperty(VString("errCode")).GetNumber(), 2);
}

}  // namespace qelt
