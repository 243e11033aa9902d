#include "SettingsServicePeer.h"

namespace SettingsPeer {

SettingsServicePeer::SettingsServicePeer(std::shared_ptr<SettingsService> service)
    : m_service(service ? std::move(service) : std::make_shared<SettingsService>()),
      m_bus(std::make_unique<BusDouble::RawBusPeer>())
{
    m_bus->setResponder([this](BusDouble::RawBusPeer& bus, const BusDouble::RawBusPeer::Delivery& delivery) {
        onDelivery(bus, delivery);
    });
    for (const std::wstring& name : SettingsService::requestNames())
        m_bus->subscribe(name);
}

SettingsServicePeer::~SettingsServicePeer()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_stopping.notify_all();
    for (std::thread& late : m_late)
        late.join();
    m_bus.reset();
}

void SettingsServicePeer::setReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_delay = delay;
}

void SettingsServicePeer::releaseLateReplies()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_releases;
    }
    m_stopping.notify_all();
}

std::vector<SettingsServicePeer::Request> SettingsServicePeer::requests()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

std::vector<SettingsServicePeer::Request> SettingsServicePeer::requests(const std::wstring& name)
{
    std::vector<Request> named;
    for (const Request& request : requests()) {
        if (request.name == name)
            named.push_back(request);
    }
    return named;
}

void SettingsServicePeer::onDelivery(BusDouble::RawBusPeer& bus, const BusDouble::RawBusPeer::Delivery& delivery)
{
    const bool expectsReply = (delivery.header.flags & (1u << MESSAGE_FLAG_EXPECTS_REPLY)) != 0;
    std::chrono::milliseconds delay{0};
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_requests.push_back({delivery.name, delivery.payload, expectsReply});
        delay = m_delay;
    }
    // A plain message of a request's name (a copy some client published) is recorded, never answered.
    if (!expectsReply)
        return;
    const Outcome outcome = m_service->handle(delivery.name, delivery.payload);
    if (outcome.answer) {
        if (delay.count() > 0)
            answerLater(delivery, delivery.name, outcome.payload, delay);
        else
            bus.reply(delivery, delivery.name, outcome.payload);
    }
    for (const Notice& notice : outcome.notices)
        bus.publish(notice.name, L"SettingsService", notice.payload);
}

void SettingsServicePeer::answerLater(const BusDouble::RawBusPeer::Delivery& request, const std::wstring& name,
                                      const std::wstring& payload, std::chrono::milliseconds delay)
{
    const auto due = std::chrono::steady_clock::now() + delay;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stop)
        return;
    const uint64_t releases = m_releases;
    m_late.emplace_back([this, request, name, payload, due, releases]() {
        {
            std::unique_lock<std::mutex> wait(m_lock);
            m_stopping.wait_until(wait, due, [this, releases]() { return m_stop || m_releases != releases; });
            if (m_stop)
                return;
        }
        m_bus->reply(request, name, payload);
    });
}

} // namespace SettingsPeer
