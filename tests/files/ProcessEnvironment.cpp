// One started process for the whole files test program, so that raised
// errors land on the main task's error stack and path texts have the
// process memory manager.
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"

namespace {

class ProcessEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        fProcess = std::make_unique<qelt::test::StStartedProcess>();
        ASSERT_TRUE(fProcess->IsStarted());
    }
    void TearDown() override { fProcess.reset(); }

private:
    std::unique_ptr<qelt::test::StStartedProcess> fProcess;
};

::testing::Environment* const gProcessEnvironment = ::testing::AddGlobalTestEnvironment(new ProcessEnvironment);

}  // namespace
