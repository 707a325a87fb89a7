// Error contexts, the per-task stack of contexts and the installer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "kernel/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

using namespace qelt;

namespace {

std::vector<VError> Codes(const VErrorContext* context)
{
    std::vector<VError> codes;
    for (VErrorBase* error : context->GetErrors())
        codes.push_back(error->GetError());
    return codes;
}

// Pushes a new error object into the stack and returns whether the push was
// silent.
bool Push(VErrorTaskContext& stack, VError code)
{
    VErrorBase* error = new VErrorBase(code);
    bool silent = false;
    EXPECT_TRUE(stack.PushError(error, &silent));
    error->Release();
    return silent;
}

void PushInto(VErrorContext& context, VError code)
{
    VErrorBase* error = new VErrorBase(code);
    EXPECT_TRUE(context.PushError(error));
    error->Release();
}

const VError A = QeltError(11);
const VError B = QeltError(12);
const VError C = QeltError(13);

// A stack of its own, released at the end of the test.
class ErrorStackTest : public ::testing::Test {
protected:
    ~ErrorStackTest() override { fStack->Release(); }
    VErrorTaskContext* fStack = new VErrorTaskContext;
};

}  // namespace

// --- Contexts on the task, through the installer ---------------------------

TEST(ErrorInstaller, KeptErrorsPassDownInOrder)
{
    StErrorContextInstaller outer;
    {
        StErrorContextInstaller inner(true, false);
        _ThrowError(A);
        _ThrowError(B);
        EXPECT_EQ(inner.GetLastError(), B);
    }
    EXPECT_EQ(Codes(outer.GetContext()), (std::vector<VError>{A, B}));
    EXPECT_EQ(outer.GetLastError(), B);
}

TEST(ErrorInstaller, NonKeepingContextDropsItsErrors)
{
    StErrorContextInstaller outer;
    _ThrowError(A);
    {
        StErrorContextInstaller inner(false, false);
        _ThrowError(B);
        EXPECT_EQ(inner.GetLastError(), B);
    }
    EXPECT_EQ(Codes(outer.GetContext()), (std::vector<VError>{A}));
    EXPECT_EQ(VTask::GetCurrent()->GetLastError(), A);
}

TEST(ErrorInstaller, SilentContextPassesItsErrorsDown)
{
    StErrorContextInstaller outer(true, false);
    {
        StErrorContextInstaller silent(true, true);
        {
            StErrorContextInstaller silentToo(true, true);
            _ThrowError(A);
        }
        _ThrowError(B);
    }
    EXPECT_EQ(Codes(outer.GetContext()), (std::vector<VError>{A, B}));
}

TEST(ErrorInstaller, FilteredCodeSilencesAndDropsTheContext)
{
    StErrorContextInstaller outer;
    VErrorTaskContext* stack = VTask::GetErrorContext(true);
    ASSERT_NE(stack, nullptr);
    {
        StErrorContextInstaller filtering(QeltError(200), VError(0));
        EXPECT_TRUE(stack->IsErrorFiltered(QeltError(200)));
        EXPECT_FALSE(Push(*stack, QeltError(201)));  // reported
        EXPECT_TRUE(Push(*stack, QeltError(200)));   // filtered: not reported
        EXPECT_TRUE(filtering.GetContext()->IsSilent());
        EXPECT_FALSE(filtering.GetContext()->IsKeepingErrors());
        EXPECT_TRUE(Push(*stack, QeltError(202)));   // silent from now on
        EXPECT_EQ(filtering.GetContext()->GetErrorsCount(), 3u);
    }
    EXPECT_EQ(outer.GetContext()->GetErrorsCount(), 0u);
}

TEST(ErrorInstaller, FiltersUpToTheFirstZero)
{
    StErrorContextInstaller filtering(QeltError(1), QeltError(2), QeltError(3), VError(0), QeltError(4));
    VErrorContext* context = filtering.GetContext();
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(context->IsErrorFiltered(QeltError(1)));
    EXPECT_TRUE(context->IsErrorFiltered(QeltError(2)));
    EXPECT_TRUE(context->IsErrorFiltered(QeltError(3)));
    EXPECT_FALSE(context->IsErrorFiltered(QeltError(4)));
    EXPECT_TRUE(context->IsKeepingErrors());
    EXPECT_FALSE(context->IsSilent());
}

TEST(ErrorInstaller, CleanContextIsReused)
{
    VErrorContext* first = nullptr;
    {
        StErrorContextInstaller errors;
        first = errors.GetContext();
    }
    VErrorTaskContext* stack = VTask::GetErrorContext(false);
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->GetSpareContext(), first);
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(errors.GetContext(), first);
        EXPECT_FALSE(errors.GetContext()->IsKeepingErrors());
        EXPECT_TRUE(errors.GetContext()->IsSilent());
        EXPECT_EQ(stack->GetSpareContext(), nullptr);
    }
    EXPECT_EQ(stack->GetSpareContext(), first);
}

TEST(ErrorInstaller, ContextThatCollectedIsNotReused)
{
    VErrorTaskContext* stack = VTask::GetErrorContext(true);
    StErrorContextInstaller outer;
    VErrorContext* spare = stack->GetSpareContext();
    {
        StErrorContextInstaller inner(false, false);
        _ThrowError(A);
    }
    // The context that held an error was released; the spare slot is as it was.
    EXPECT_EQ(stack->GetSpareContext(), spare);
}

TEST(ErrorInstaller, ThreadWithoutTaskHasFreeStandingContext)
{
    std::thread thread([] {
        StErrorContextInstaller errors(true, false);
        ASSERT_NE(errors.GetContext(), nullptr);
        _ThrowError(A);
        EXPECT_EQ(errors.GetLastError(), 0u);
        EXPECT_EQ(VTask::GetErrorContext(true), nullptr);
    });
    thread.join();
}

TEST(ErrorInstaller, TaskLastErrorLooksAtTheTopOnly)
{
    StErrorContextInstaller outer;
    _ThrowError(A);
    {
        StErrorContextInstaller inner;
        EXPECT_EQ(VTask::GetCurrent()->GetLastError(), 0u);
        EXPECT_EQ(VTask::GetErrorContext(false)->GetLast()->GetError(), A);
    }
    EXPECT_EQ(VTask::GetCurrent()->GetLastError(), A);
}

TEST(ErrorInstaller, BuildErrorStack)
{
    StErrorContextInstaller outer;
    _ThrowError(QeltError(600));
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    VErrorTaskContext::BuildErrorStack(*bag);
    VBagArray* children = bag->GetElements(StPackedDictionaryKey("__ERROR"));
    ASSERT_NE(children, nullptr);
    ASSERT_GE(children->GetCount(), 1);
    VValueBag* last = children->RetainNth(children->GetCount());
    VString message, signature;
    VLong code;
    EXPECT_TRUE(last->GetAttribute(StPackedDictionaryKey("message"), message));
    EXPECT_TRUE(last->GetAttribute(StPackedDictionaryKey("componentSignature"), signature));
    EXPECT_TRUE(last->GetAttribute(StPackedDictionaryKey("errCode"), code));
    EXPECT_EQ(code.GetLong(), 600);
    EXPECT_EQ(signature.GetLength(), 4);
    EXPECT_EQ(signature.GetCPointer()[0], 'q');
    EXPECT_FALSE(message.IsEmpty());
    last->Release();
}

// --- A stack of its own -----------------------------------------------------

TEST_F(ErrorStackTest, FirstErrorCreatesTheBaseContext)
{
    EXPECT_EQ(fStack->GetContextsCount(), 0u);
    EXPECT_EQ(fStack->GetLastError(), 0u);
    EXPECT_FALSE(Push(*fStack, A));
    ASSERT_EQ(fStack->GetContextsCount(), 1u);
    EXPECT_EQ(fStack->GetLastError(), A);
    EXPECT_TRUE(fStack->GetTopContext()->IsKeepingErrors());
    EXPECT_FALSE(fStack->GetTopContext()->IsSilent());
    EXPECT_FALSE(fStack->PushError(nullptr));
}

TEST_F(ErrorStackTest, PoppingTheOnlyContextKeepsItsErrors)
{
    VErrorContext* context = fStack->PushNewContext(true, true);
    context->AddErrorToFilter(C);
    EXPECT_TRUE(Push(*fStack, A));  // silent context
    fStack->PopContext();
    ASSERT_EQ(fStack->GetContextsCount(), 1u);
    VErrorContext* left = fStack->GetTopContext();
    EXPECT_NE(left, context);
    EXPECT_EQ(Codes(left), (std::vector<VError>{A}));
    EXPECT_FALSE(left->IsSilent());
    EXPECT_FALSE(left->HasFilters());
    context->Release();
}

TEST_F(ErrorStackTest, PoppingAnEmptyOrDroppingContextRemovesIt)
{
    fStack->PopContext();  // empty stack: nothing
    VErrorContext* context = fStack->PushNewContext(false, false);
    Push(*fStack, A);
    fStack->PopContext();
    EXPECT_EQ(fStack->GetContextsCount(), 0u);
    EXPECT_EQ(Codes(context), (std::vector<VError>{A}));  // the holder still sees them
    context->Release();
}

TEST_F(ErrorStackTest, OutOfMemoryFlagIsCombinedWhenPassingDown)
{
    VErrorContext* base = fStack->PushNewContext(true, false);
    Push(*fStack, QeltError(100));
    EXPECT_TRUE(fStack->FailedForMemory());
    VErrorContext* inner = fStack->PushNewContext(true, false);
    EXPECT_FALSE(fStack->FailedForMemory());
    Push(*fStack, A);
    fStack->PopContext();
    // The enclosing context's own flag survives errors from a context
    // that did not run out of memory.
    EXPECT_TRUE(base->FailedForMemory());
    EXPECT_EQ(Codes(base), (std::vector<VError>{QeltError(100), A}));

    VErrorContext* third = fStack->PushNewContext(true, false);
    Push(*fStack, QeltError(100));
    fStack->PopContext();
    EXPECT_TRUE(base->FailedForMemory());

    base->Flush();
    EXPECT_FALSE(base->FailedForMemory());
    third->Release();
    inner->Release();
    base->Release();
}

TEST_F(ErrorStackTest, SearchesAcrossContexts)
{
    VErrorContext* base = fStack->PushNewContext(true, false);
    Push(*fStack, A);
    Push(*fStack, B);
    VErrorContext* top = fStack->PushNewContext(true, false);
    VErrorContext* empty = fStack->PushNewContext(true, false);
    EXPECT_EQ(fStack->GetLastError(), 0u);
    EXPECT_EQ(fStack->GetLast()->GetError(), B);
    EXPECT_EQ(fStack->GetFirst()->GetError(), A);
    fStack->PopContext();
    Push(*fStack, C);
    Push(*fStack, A);
    EXPECT_EQ(fStack->Find(A), base->GetFirst());
    EXPECT_EQ(fStack->Find(C), top->GetFirst());
    EXPECT_EQ(fStack->Find(QeltError(99)), nullptr);

    VErrorContext* all = new VErrorContext;
    fStack->GetErrors(*all);
    EXPECT_EQ(Codes(all), (std::vector<VError>{A, B, C, A}));
    all->Release();

    fStack->Flush();
    EXPECT_EQ(top->GetErrorsCount(), 0u);
    EXPECT_EQ(base->GetErrorsCount(), 2u);
    empty->Release();
    top->Release();
    base->Release();
}

TEST_F(ErrorStackTest, MergeAndFlushLastContext)
{
    VErrorContext* base = fStack->PushNewContext(true, false);
    VErrorContext* top = fStack->PushNewContext(true, false);
    Push(*fStack, A);
    fStack->MergeAndFlushLastContext(true);
    EXPECT_EQ(Codes(base), (std::vector<VError>{A}));
    EXPECT_TRUE(top->IsEmpty());
    EXPECT_TRUE(top->IsSilent());
    EXPECT_EQ(fStack->GetContextsCount(), 2u);
    top->Release();
    base->Release();
}

TEST_F(ErrorStackTest, MergeAndFlushTheOnlyContextInsertsACopyBelow)
{
    VErrorContext* only = fStack->PushNewContext(true, false);
    Push(*fStack, A);
    Push(*fStack, B);
    fStack->MergeAndFlushLastContext(false);
    ASSERT_EQ(fStack->GetContextsCount(), 2u);
    EXPECT_EQ(fStack->GetTopContext(), only);
    EXPECT_TRUE(only->IsEmpty());
    EXPECT_EQ(Codes(fStack->GetNthContext(0)), (std::vector<VError>{A, B}));
    only->Release();
}

TEST_F(ErrorStackTest, PushErrorsFromContextAndBag)
{
    VErrorContext* source = new VErrorContext;
    PushInto(*source, A);
    PushInto(*source, B);
    fStack->PushErrorsFromContext(source);
    fStack->PushErrorsFromContext(nullptr);
    EXPECT_EQ(Codes(fStack->GetTopContext()), (std::vector<VError>{A, B}));

    // Its own top context: each error once more, no endless loop.
    fStack->PushErrorsFromContext(fStack->GetTopContext());
    EXPECT_EQ(Codes(fStack->GetTopContext()), (std::vector<VError>{A, B, A, B}));

    VValueBag* bag = new VValueBag;
    EXPECT_EQ(source->SaveToBag(*bag), 0u);
    fStack->Flush();
    fStack->PushErrorsFromBag(*bag);
    EXPECT_EQ(Codes(fStack->GetTopContext()), (std::vector<VError>{A, B}));
    bag->Release();
    source->Release();
}

TEST_F(ErrorStackTest, RecycleContext)
{
    VErrorContext* clean = new VErrorContext;
    VErrorContext* filtering = new VErrorContext;
    filtering->AddErrorToFilter(A);
    VErrorContext* spare = fStack->PushNewContext(true, false);  // takes the spare
    EXPECT_EQ(fStack->GetSpareContext(), nullptr);
    fStack->PopContext();
    fStack->RecycleContext(filtering);  // not clean: released
    EXPECT_EQ(fStack->GetSpareContext(), nullptr);
    fStack->RecycleContext(clean);
    EXPECT_EQ(fStack->GetSpareContext(), clean);
    fStack->RecycleContext(spare);  // a spare is there already: released
    EXPECT_EQ(fStack->GetSpareContext(), clean);
    fStack->RecycleContext(nullptr);
}

TEST_F(ErrorStackTest, AContextItsCallerStillHoldsIsNeverTheSpare)
{
    VErrorContext* taken = fStack->PushNewContext(true, false);  // takes the spare
    ASSERT_NE(taken, nullptr);
    VRefPtr<VErrorContext> held(taken);  // someone else keeps it too
    fStack->PopContext();
    fStack->RecycleContext(taken);
    EXPECT_NE(fStack->GetSpareContext(), taken);
    VErrorContext* next = fStack->PushNewContext(false, true);
    EXPECT_NE(next, taken);
    EXPECT_TRUE(held->IsKeepingErrors());  // its holder's settings stay
    EXPECT_FALSE(held->IsSilent());
    fStack->PopContext();
    fStack->RecycleContext(next);
}

// --- One context --------------------------------------------------------------

TEST(ErrorContext, FindAndFindAny)
{
    VErrorContext* context = new VErrorContext;
    EXPECT_FALSE(context->FindAny(A, B, VError(0)));
    EXPECT_EQ(context->GetFirst(), nullptr);
    EXPECT_EQ(context->GetLastError(), 0u);
    PushInto(*context, A);
    PushInto(*context, B);
    PushInto(*context, A);
    EXPECT_FALSE(context->FindAny(C, QeltError(99), VError(0)));
    EXPECT_TRUE(context->FindAny(C, B, VError(0)));
    EXPECT_FALSE(context->FindAny(VError(0), A));
    EXPECT_EQ(context->Find(A), context->GetFirst());
    EXPECT_EQ(context->Find(C), nullptr);
    EXPECT_TRUE(context->DebugDisplay());
    EXPECT_FALSE(context->PushError(nullptr));
    context->Release();
}

TEST(ErrorContext, ParametersAreMergedIntoPushedErrors)
{
    VRefPtr<VErrorContext> context = AdoptRef(new VErrorContext);
    EXPECT_EQ(context->GetParametersForPushedErrors(false), nullptr);
    VValueBag* parameters = context->GetParametersForPushedErrors(true);
    ASSERT_NE(parameters, nullptr);
    EXPECT_EQ(context->GetParametersForPushedErrors(false), parameters);
    parameters->SetAttribute(StPackedDictionaryKey("path"), VString("/x"));
    PushInto(*context, A);
    VString path;
    EXPECT_TRUE(context->GetLast()->GetBag()->GetAttribute(StPackedDictionaryKey("path"), path));
    EXPECT_EQ(path.GetLength(), 2);

    // Passing down merges the receiver's parameters as well.
    VErrorContext* receiver = new VErrorContext;
    receiver->GetParametersForPushedErrors(true)->SetAttribute(StPackedDictionaryKey("step"), VString("swap"));
    receiver->PushErrors(*context);
    VString step;
    EXPECT_TRUE(receiver->GetLast()->GetBag()->GetAttribute(StPackedDictionaryKey("step"), step));
    receiver->Release();
}

TEST(ErrorContext, CopyTakesErrorsNotFlags)
{
    VErrorContext* source = new VErrorContext(false, true);
    source->AddErrorToFilter(C);
    PushInto(*source, QeltError(100));
    PushInto(*source, A);
    VErrorContext* copy = new VErrorContext(*source);
    EXPECT_EQ(Codes(copy), Codes(source));
    EXPECT_EQ(copy->GetFirst(), source->GetFirst());  // the same error objects
    EXPECT_TRUE(copy->FailedForMemory());
    EXPECT_TRUE(copy->IsKeepingErrors());
    EXPECT_FALSE(copy->IsSilent());
    EXPECT_FALSE(copy->HasFilters());
    copy->Release();
    source->Release();
}

TEST(ErrorContext, BagRoundTrip)
{
    VErrorContext* source = new VErrorContext;
    PushInto(*source, A);
    PushInto(*source, PosixError(2));
    source->GetLast()->GetBag()->SetAttribute(StPackedDictionaryKey("name"), VString("f"));
    VValueBag* bag = new VValueBag;
    EXPECT_EQ(source->SaveToBag(*bag), 0u);
    VErrorContext* loaded = new VErrorContext;
    EXPECT_EQ(loaded->LoadFromBag(*bag), 0u);
    EXPECT_EQ(Codes(loaded), Codes(source));
    VString name;
    EXPECT_TRUE(loaded->GetLast()->GetBag()->GetAttribute(StPackedDictionaryKey("name"), name));
    EXPECT_FALSE(loaded->FailedForMemory());

    VValueBag* empty = new VValueBag;
    EXPECT_EQ(loaded->LoadFromBag(*empty), 0u);
    EXPECT_EQ(loaded->GetErrorsCount(), 2u);
    empty->Release();
    loaded->Release();
    bag->Release();
    source->Release();
}
