#include "JSONReferenceProvider.h"

#include "FileIO.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace Ostrand {

namespace {

const wchar_t kArrayName[] = L"registry";
const wchar_t kMemberName[] = L"appcode";
const wchar_t kDefaultPath[] = L"appregistry.json";

} // namespace

JSONReferenceProvider::JSONReferenceProvider(std::shared_ptr<JSONParser> document, std::shared_ptr<IFileIO> fileIO,
                                             std::wstring path)
    : m_document(document ? std::move(document) : std::make_shared<JSONParser>()),
      m_fileIO(fileIO ? std::move(fileIO) : std::make_shared<FileIO>()), m_path(std::move(path))
{
}

JSONReferenceProvider::~JSONReferenceProvider() { uninitialize(); }

bool JSONReferenceProvider::doInitialize()
{
    m_busy = false;
    if (m_path.empty())
        m_path = kDefaultPath;
    if (!m_fileIO->exists(m_path)) {
        m_document->parse(L"null");
        return true;
    }
    // The file is there: if it does not open, or a read fails part of the
    // way, someone else has it (another program, or a run that is replacing
    // it). Its content is then unknown, which is not the same as damaged.
    const std::shared_ptr<FILE> file = m_fileIO->open(m_path, L"rb");
    if (!file) {
        m_document->parse(L"null");
        m_busy = true;
        return false;
    }
    if (m_document->parse(file.get()))
        return true;
    m_busy = ferror(file.get()) != 0;
    return false;
}

bool JSONReferenceProvider::wasBusy() const { return m_busy; }

bool JSONReferenceProvider::doUninitialize() { return true; }

bool JSONReferenceProvider::load(std::set<std::wstring>& codes)
{
    if (m_document->isEmpty())
        return true;
    std::vector<std::wstring> found;
    if (!m_document->getStringArray(kArrayName, found, kMemberName))
        return false;
    codes.insert(found.begin(), found.end());
    return true;
}

bool JSONReferenceProvider::save(const std::set<std::wstring>& codes)
{
    // Start over from an empty object, whatever was read: members of the old
    // file other than the list are not kept, and no codes leave {}.
    m_document->parse(L"{}");
    for (const std::wstring& code : codes)
        m_document->appendToArray(kArrayName, code, kMemberName);

    const std::wstring path = m_path.empty() ? std::wstring(kDefaultPath) : m_path;
    const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    // The new file must be on the disk, whole and closed, before it takes
    // the old one's place: after a power loss the registry file is then
    // either the old one or the new one, never empty.
    bool written = false;
    {
        std::shared_ptr<FILE> file = m_fileIO->open(temporary, L"wb");
        if (!file)
            return false;
        written = m_document->write(file.get());
        written = m_fileIO->commit(std::move(file)) && written;
    }
    if (written && m_fileIO->replace(temporary, path))
        return true;
    m_fileIO->remove(temporary);
    return false;
}

} // namespace Ostrand
