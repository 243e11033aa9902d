#include "dll/MessageBusLib.h"
#include "dll/ModuleException.h"
#include "message/MessageBusClient.h"

#include <gtest/gtest.h>

// No bus library lies beside this program.
TEST(MessageBusLibWithoutLibrary, ADefaultClientThrows)
{
    try {
        Ostrand::MessageBusClient client;
        FAIL() << "a client without a bus library";
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ("Failed to load library", error.what());
    }
}
