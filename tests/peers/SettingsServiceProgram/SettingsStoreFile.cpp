#include "SettingsStoreFile.h"

#include "ConsoleLine.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <windows.h>

#include <cerrno>
#include <cstdio>

namespace SettingsPeer {

bool SettingsStoreFile::load(Contents& contents) const
{
    contents.clear();
    FILE* file = _wfopen(m_path.c_str(), L"rb");
    if (!file)
        return errno == ENOENT;
    std::string text;
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof(buffer), file)) > 0;)
        text.append(buffer, read);
    std::fclose(file);

    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError() || !document.IsObject())
        return false;
    for (auto member = document.MemberBegin(); member != document.MemberEnd(); ++member) {
        if (!member->value.IsString())
            return false;
        contents[PeerProgram::wide(member->name.GetString())] = PeerProgram::wide(member->value.GetString());
    }
    return true;
}

bool SettingsStoreFile::save(const Contents& contents) const
{
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& entry : contents) {
        const std::string name = PeerProgram::utf8(entry.first);
        const std::string value = PeerProgram::utf8(entry.second);
        writer.Key(name.c_str(), static_cast<rapidjson::SizeType>(name.size()));
        writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    }
    writer.EndObject();

    const std::wstring fresh = m_path + L".new";
    FILE* file = _wfopen(fresh.c_str(), L"wb");
    if (!file)
        return false;
    const bool written = std::fwrite(buffer.GetString(), 1, buffer.GetSize(), file) == buffer.GetSize() &&
                         std::fputc('\n', file) != EOF;
    const bool closed = std::fclose(file) == 0;
    return written && closed && MoveFileExW(fresh.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace SettingsPeer
