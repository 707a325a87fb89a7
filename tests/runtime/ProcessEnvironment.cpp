// One process object for the whole runtime test program: created and started
// before the first test, shut down after the last. Tests raise and read
// errors through it and through the main task its start-up adopts.
#include <gtest/gtest.h>

#include "TestProcess.h"
#include "process/VProcess.h"

namespace {

class ProcessEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        fProcess = new qelt::test::TestProcess;
        ASSERT_TRUE(fProcess->Init(0));
        ASSERT_EQ(qelt::VProcess::sInstance, fProcess);
    }

    void TearDown() override
    {
        delete fProcess;
        fProcess = nullptr;
    }

private:
    qelt::VProcess* fProcess = nullptr;
};

::testing::Environment* const gProcessEnvironment = ::testing::AddGlobalTestEnvironment(new ProcessEnvironment);

}  // namespace
