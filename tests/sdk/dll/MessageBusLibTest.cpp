#include "dll/MessageBusLib.h"
#include "dll/ModuleException.h"
#include "message/MessageBusClient.h"

#include "LogFile.h"

#include <gtest/gtest.h>

// No bus library lies beside this program.
TEST(MessageBusLibWithoutLibrary, ADefaultClientThrows)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    try {
        Ostrand::MessageBusClient client;
        FAIL() << "a client without a bus library";
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ("Failed to load library", error.what());
    }
    EXPECT_TRUE(log.contains(4, L"Failed to load library: Ondrel.dll. Throwing ModuleException."));
}
