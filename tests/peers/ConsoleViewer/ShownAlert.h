#pragma once
#include <string>

namespace ConsoleViewer {

// What the viewer prints of an alert it is asked to show, read from the Show
// request's payload (the alert as JSON). A context member "viewerOutcome"
// of "Failed" asks the viewer to report the alert as failed instead of
// dismissed.
struct ShownAlert {
    std::wstring id;
    std::wstring instanceId;
    std::wstring priority;
    std::wstring content;
    bool reportFailed = false;

    // False when the payload is not an alert.
    static bool read(const std::wstring& payload, ShownAlert& alert);
};

} // namespace ConsoleViewer
