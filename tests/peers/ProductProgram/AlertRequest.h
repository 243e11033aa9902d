#pragma once
#include <string>

namespace ProductProgram {

// A show or delete request's payload: the alert as a product writes it.
struct AlertRequest {
    std::wstring id;
    std::wstring priority = L"P3";
    std::wstring product;
    std::wstring viewer;
    std::wstring title;
    unsigned timeout = 30;

    // The payload for an instance id; sessionId 0: whichever user is active.
    std::wstring json(const std::wstring& instanceId) const;

    // Someone's own request text with its "instanceId" set to the one issued;
    // false (and `error` set) when the text is not a JSON object.
    static bool withInstance(const std::wstring& text, const std::wstring& instanceId, std::wstring& out,
                             std::wstring& error);
    // The "id" and "timeout" of a request text, where present.
    static void peek(const std::wstring& text, std::wstring& id, unsigned& timeout);
};

} // namespace ProductProgram
