#include "alert/AlertContent.h"
#include "alert/AlertInfo.h"
#include "json/JSONFormatter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using Kest::AlertContent;
using Kest::AlertInfo;
using Kest::AlertSource;

namespace {

std::string escaped(const std::wstring& text)
{
    std::string out;
    char hex[8];
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "<%04X>", static_cast<unsigned>(c));
            out += hex;
        }
    }
    return out;
}

// Damaged alert requests made from an intact one by a seeded run of random
// edits. Nothing may crash; a request that is still read must be a sound
// record that writes and reads back unchanged.
TEST(AlertRequestMutation, DamagedRequestsNeverCrashAndWhatIsReadIsSound)
{
    const std::wstring intact =
        LR"({"id":"alert-\u00e9","instanceId":"17","priority":"P2","product":"prod","content":"<p>c</p>",)"
        LR"("timeout":45,"sessionId":2,"source":"web","forcePreferredViewer":true,"preferredViewer":["v1","v2"],)"
        LR"("context":{"title":"T","detailscontent":"d","width":300,"legacy":false,)"
        LR"("timeoutactions":[{"messagename":"m","payload":"p"}],)"
        LR"("options":[{"id":"o","text":"O","selected":true}],)"
        LR"("actions":[{"id":"a","text":"A","default":true,"defaultmessage":{"messagename":"x"},)"
        LR"("options":[{"idList":["o"],"message":{"payload":"q"}}]}],"nested":[[{"deep":[1.5e3,-2,null]}]]}})";
    const std::wstring alphabet = std::wstring(L"{}[]\":,\\u0123456789abcdefDEP -+.eEtrunl\t\n\x00e9\xd800\xdc00") +
                                  std::wstring(1, L'\0');

    std::mt19937 random(20261210u);
    auto below = [&](size_t n) { return n == 0 ? size_t(0) : std::uniform_int_distribution<size_t>(0, n - 1)(random); };

    const int runs = 4000;
    int read = 0;
    for (int run = 0; run < runs; ++run) {
        std::wstring text = intact;
        const size_t edits = 1 + below(3);
        for (size_t e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = below(text.size());
            switch (below(7)) {
            case 0: // one unit replaced by anything
                text[at] = static_cast<wchar_t>(below(0x10000));
                break;
            case 1: // one unit replaced by something JSON is made of
                text[at] = alphabet[below(alphabet.size())];
                break;
            case 2: // a run deleted
                text.erase(at, 1 + below(12));
                break;
            case 3: // a run repeated
                text.insert(at, text.substr(at, 1 + below(80)));
                break;
            case 4: // text inserted
                text.insert(at, std::wstring(1 + below(6), alphabet[below(alphabet.size())]));
                break;
            case 5: // brackets piled up
                text.insert(at, std::wstring(1 + below(2000), below(2) ? L'[' : L'{'));
                break;
            default: // cut short
                text.resize(at);
                break;
            }
        }

        AlertInfo info;
        if (AlertInfo::fromJson(text, info)) {
            ++read;
            EXPECT_GE(info.priority, 1);
            EXPECT_LE(info.priority, 3);
            EXPECT_TRUE(info.source == AlertSource::Client || info.source == AlertSource::Web);
            AlertInfo again;
            const std::wstring written = AlertInfo::toJson(info);
            EXPECT_TRUE(AlertInfo::fromJson(written, again));
            EXPECT_EQ(written, AlertInfo::toJson(again));
            AlertContent content;
            AlertContent::parse(content, info.context);
        }
        AlertContent content;
        AlertContent::parse(content, text);

        Ostrand::JSONFormatter document;
        if (document.parse(text)) {
            Ostrand::JSONFormatter reread;
            EXPECT_TRUE(reread.parse(document.toString()));
            EXPECT_EQ(document.toString(), reread.toString());
        }
        if (HasFailure())
            FAIL() << "mutated request of run " << run << ":\n" << escaped(text);
    }
    // Many edits miss what the reader checks: the run exercised the reading path too.
    EXPECT_GT(read, runs / 10);
}

} // namespace
