// One process object and one start-up of the XML library for the whole xml
// test program.
#include <gtest/gtest.h>

#include "process/VProcess.h"
#include "xml/VXMLParser.h"

namespace {

class XMLEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        fProcess = new qelt::VProcess;
        ASSERT_TRUE(fProcess->Init(0));
        ASSERT_TRUE(qelt::VXMLParser::Init());
    }

    void TearDown() override
    {
        qelt::VXMLParser::DeInit();
        delete fProcess;
        fProcess = nullptr;
    }

private:
    qelt::VProcess* fProcess = nullptr;
};

::testing::Environment* const gXMLEnvironment = ::testing::AddGlobalTestEnvironment(new XMLEnvironment);

}  // namespace
