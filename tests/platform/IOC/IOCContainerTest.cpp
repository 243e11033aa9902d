#include "IOC/IOCContainer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using Halvex::IOCBaseFactory;
using Halvex::IOCContainer;

struct Bus {
    int id;
};
struct Clock {
    int id;
};

template <typename T>
std::shared_ptr<T> instanceOf(const IOCContainer& container, const std::wstring& name)
{
    const auto factory = std::dynamic_pointer_cast<IOCBaseFactory<T>>(container.GetFactory<T>(name));
    return factory ? factory->GetInstance() : nullptr;
}

TEST(IOCContainer, HandsOutTheRegisteredInstanceTypedAndUntyped)
{
    auto container = std::make_shared<IOCContainer>();
    auto bus = std::make_shared<Bus>(Bus{1});
    container->RegisterInstance<Bus>(Halvex::IOCDefaultRegistrationName, bus);

    EXPECT_EQ(std::wstring(L"Unnamed registration"), Halvex::IOCDefaultRegistrationName);
    EXPECT_TRUE(container->IsRegistered<Bus>(L"Unnamed registration"));
    const auto factory = container->GetFactory<Bus>(L"Unnamed registration");
    ASSERT_NE(nullptr, factory);
    EXPECT_TRUE(factory->GetTypeInfo() == typeid(Bus));
    EXPECT_EQ(L"Unnamed registration", factory->GetName());
    EXPECT_EQ(static_cast<void*>(bus.get()), factory->GetUntypedInstance().get());
    EXPECT_EQ(bus, instanceOf<Bus>(*container, L"Unnamed registration"));
}

TEST(IOCContainer, UnknownTypesAndNamesGiveNothingAndUnregisterOfThemDoesNothing)
{
    IOCContainer container;
    container.RegisterInstance<Bus>(L"bus", std::make_shared<Bus>(Bus{1}));

    EXPECT_EQ(nullptr, container.GetFactory<Clock>(L"bus"));
    EXPECT_EQ(nullptr, container.GetFactory<Bus>(L"Bus"));
    EXPECT_EQ(nullptr, container.GetFactory<Bus>(L""));
    EXPECT_FALSE(container.IsRegistered<Clock>(L"bus"));
    container.Unregister<Clock>(L"bus");
    container.Unregister<Bus>(L"other");
    EXPECT_TRUE(container.IsRegistered<Bus>(L"bus"));

    container.Unregister<Bus>(L"bus");
    EXPECT_FALSE(container.IsRegistered<Bus>(L"bus"));
    container.RegisterInstance<Bus>(L"bus", std::make_shared<Bus>(Bus{2}));
    EXPECT_EQ(2, instanceOf<Bus>(container, L"bus")->id);
}

TEST(IOCContainer, ASecondRegistrationReplacesTheFirstAndReleasesIt)
{
    IOCContainer container;
    auto first = std::make_shared<Bus>(Bus{1});
    std::weak_ptr<Bus> firstAlive = first;
    container.RegisterInstance<Bus>(L"bus", std::move(first));
    auto second = std::make_shared<Bus>(Bus{2});
    container.RegisterInstance<Bus>(L"bus", second);

    EXPECT_TRUE(firstAlive.expired());
    EXPECT_EQ(second, instanceOf<Bus>(container, L"bus"));
}

TEST(IOCContainer, TypesAndNamesKeepIndependentRegistrations)
{
    IOCContainer container;
    container.RegisterInstance<Bus>(L"one", std::make_shared<Bus>(Bus{1}));
    container.RegisterInstance<Clock>(L"one", std::make_shared<Clock>(Clock{10}));
    container.RegisterInstance<Bus>(L"two", std::make_shared<Bus>(Bus{2}));

    EXPECT_EQ(1, instanceOf<Bus>(container, L"one")->id);
    EXPECT_EQ(10, instanceOf<Clock>(container, L"one")->id);
    EXPECT_EQ(2, instanceOf<Bus>(container, L"two")->id);

    container.Unregister<Bus>(L"one");
    EXPECT_FALSE(container.IsRegistered<Bus>(L"one"));
    EXPECT_TRUE(container.IsRegistered<Clock>(L"one"));
    EXPECT_TRUE(container.IsRegistered<Bus>(L"two"));
}

TEST(IOCContainer, KeepsItsInstancesAliveUntilItGoes)
{
    auto container = std::make_shared<IOCContainer>();
    auto bus = std::make_shared<Bus>(Bus{1});
    std::weak_ptr<Bus> alive = bus;
    container->RegisterInstance<Bus>(L"bus", std::move(bus));
    EXPECT_FALSE(alive.expired());
    container.reset();
    EXPECT_TRUE(alive.expired());
}

} // namespace
