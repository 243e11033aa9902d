#pragma once
#include "message/MessageBus.h"

#include "ModuleStatus.h"

#include <memory>
#include <string>

namespace Kest {

// The service's proxy for one registered viewer, a bus participant outside
// the service: it sends the viewer its Show and Delete requests and accepts
// only the reply name the viewer protocol expects. Nothing changes after
// construction, so one proxy serves every thread.
class AlertViewer {
public:
    // How long a viewer has to answer a request.
    static constexpr std::chrono::milliseconds kRequestTimeout{90000};

    // Without a bus the proxy opens a connection of its own (throws
    // Ostrand::ModuleException when the bus library cannot be had).
    explicit AlertViewer(std::wstring name, std::shared_ptr<Ostrand::MessageBus> bus = nullptr);
    virtual ~AlertViewer() = default;
    AlertViewer(const AlertViewer&) = delete;
    AlertViewer& operator=(const AlertViewer&) = delete;

    virtual const std::wstring& getName() const;
    // True when the viewer confirmed it shows the alert; `alertJson` is the
    // alert information as the viewer receives it.
    virtual bool show(const std::wstring& alertJson, const std::wstring& alertId, const std::wstring& instanceId);
    // True when the viewer confirmed it took the alert down. Otherwise the
    // alert's failed outcome is published, so that nobody waits for it.
    virtual bool dismiss(const std::wstring& alertId, const std::wstring& instanceId);

    MODULE_STATUS sendShowRequest(const std::wstring& alertJson, const std::wstring& alertId,
                                  const std::wstring& instanceId);
    MODULE_STATUS sendDeleteRequest(const std::wstring& alertId, const std::wstring& instanceId);

private:
    // Sends the request and checks the reply's name; the status on failure
    // to send is `sendFailure` when given, the bus's own otherwise.
    MODULE_STATUS exchange(const std::wstring& name, const std::wstring& payload, const std::wstring& expectedReply,
                           const MODULE_STATUS* sendFailure);

    const std::wstring m_name;
    const std::wstring m_showPrefix;
    const std::wstring m_deletePrefix;
    const std::shared_ptr<Ostrand::MessageBus> m_bus;
};

} // namespace Kest
