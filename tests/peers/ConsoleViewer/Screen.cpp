#include "Screen.h"

namespace ConsoleViewer {

void Screen::show(const std::wstring& instanceId, Clock::time_point due, Outcome outcome)
{
    m_shown[instanceId] = {due, outcome};
}

bool Screen::takeDown(const std::wstring& instanceId)
{
    return m_shown.erase(instanceId) != 0;
}

std::vector<Screen::Ended> Screen::answered(Clock::time_point now)
{
    std::vector<Ended> ended;
    for (auto next = m_shown.begin(); next != m_shown.end();) {
        if (now < next->second.due) {
            ++next;
            continue;
        }
        ended.push_back({next->first, next->second.outcome});
        next = m_shown.erase(next);
    }
    return ended;
}

} // namespace ConsoleViewer
