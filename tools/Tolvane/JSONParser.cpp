#include "JSONParser.h"

#include "Text/JSONTextScreen.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <utility>
#include <vector>

namespace Ostrand {

namespace {

using WideEncoding = rapidjson::UTF16<wchar_t>;
using FileEncoding = rapidjson::UTF16LE<wchar_t>;

// Iterative parsing keeps the call stack flat, so deeply nested input from a
// damaged file is refused instead of overflowing the stack.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag;
constexpr size_t kStreamBufferSize = 256;
constexpr size_t kParseStackCapacity = 1024;
// Writing a document recurses once per level, so a document deeper than this
// is refused when it is read rather than crashing when it is written.
constexpr unsigned kMaxDepth = 512;

// The text of a registry file: UTF-16 little-endian units, a leading mark
// FF FE skipped, read through a small buffer. False for an odd byte count
// or a read error: such a file holds no UTF-16 text.
bool readUtf16le(FILE* file, std::wstring& text)
{
    unsigned char buffer[kStreamBufferSize];
    bool odd = false;
    unsigned char low = 0;
    size_t read;
    while ((read = fread(buffer, 1, sizeof(buffer), file)) > 0) {
        for (size_t i = 0; i < read; ++i) {
            if (!odd) {
                low = buffer[i];
            } else {
                text.push_back(static_cast<wchar_t>(low | (buffer[i] << 8)));
            }
            odd = !odd;
        }
    }
    if (ferror(file) || odd)
        return false;
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);
    return true;
}

// The first member of that exact name, or the object's end.
template <typename Object>
auto findIn(Object& object, const std::wstring& name) -> decltype(object.MemberBegin())
{
    auto member = object.MemberBegin();
    for (; member != object.MemberEnd(); ++member) {
        if (member->name.GetStringLength() == name.size() &&
            std::char_traits<wchar_t>::compare(member->name.GetString(), name.data(), name.size()) == 0)
            break;
    }
    return member;
}

// Copies the member's value out only when it has the asked type; a string
// is copied up to its first NUL.
template <typename Out, typename Stored>
bool readAs(const JSONParser::Value* member, Out& value, bool (JSONParser::Value::*is)() const,
            Stored (JSONParser::Value::*get)() const)
{
    if (!member || !(member->*is)())
        return false;
    value = (member->*get)();
    return true;
}

template <typename Scalar>
void storeScalar(JSONParser& document, const std::wstring& name, Scalar value)
{
    JSONParser::Value stored(value);
    document.setMember(name, stored);
}

} // namespace

JSONParser::JSONParser() : m_document(nullptr, kParseStackCapacity) {}

JSONParser::~JSONParser() = default;

bool JSONParser::parse(const std::wstring& text)
{
    // Screened first: the reader stops at a NUL (text after one would be
    // silently ignored), stores an escaped lone low surrogate as no UTF-16
    // text, and recurses per level when the document is written.
    bool parsed = false;
    if (Halvex::internal::jsonTextIsAdmissible(text.c_str(), text.size(), kMaxDepth)) {
        try {
            m_document.Parse<kParseFlags>(text.c_str());
            parsed = !m_document.HasParseError();
        } catch (const JSONLibraryError&) {
            parsed = false;
        }
    }
    if (!parsed)
        m_document.SetNull();
    return parsed;
}

bool JSONParser::parse(FILE* file)
{
    std::wstring text;
    if (!file || !readUtf16le(file, text)) {
        m_document.SetNull();
        return false;
    }
    return parse(text);
}

std::wstring JSONParser::toString() const
{
    rapidjson::GenericStringBuffer<WideEncoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<WideEncoding>, WideEncoding, WideEncoding> writer(buffer);
    m_document.Accept(writer);
    // The buffer counts bytes, not characters.
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t));
}

bool JSONParser::write(FILE* file) const
{
    if (!file)
        return false;
    char buffer[kStreamBufferSize];
    rapidjson::FileWriteStream bytes(file, buffer, sizeof(buffer));
    using Output = rapidjson::EncodedOutputStream<FileEncoding, rapidjson::FileWriteStream>;
    Output text(bytes, true);
    rapidjson::Writer<Output, WideEncoding, FileEncoding, rapidjson::CrtAllocator,
                      rapidjson::kWriteValidateEncodingFlag>
        writer(text);
    const bool complete = m_document.Accept(writer);
    text.Flush();
    return complete && ferror(file) == 0;
}

const JSONParser::Value* JSONParser::findMember(const std::wstring& name) const
{
    if (!m_document.IsObject())
        return nullptr;
    const auto member = findIn(m_document, name);
    return member == m_document.MemberEnd() ? nullptr : &member->value;
}

bool JSONParser::getBool(const std::wstring& name, bool& value) const
{
    return readAs(findMember(name), value, &Value::IsBool, &Value::GetBool);
}

bool JSONParser::getString(const std::wstring& name, std::wstring& value) const
{
    return readAs(findMember(name), value, &Value::IsString, &Value::GetString);
}

bool JSONParser::getInt(const std::wstring& name, int32_t& value) const
{
    return readAs(findMember(name), value, &Value::IsInt, &Value::GetInt);
}

bool JSONParser::getInt64(const std::wstring& name, int64_t& value) const
{
    return readAs(findMember(name), value, &Value::IsInt64, &Value::GetInt64);
}

bool JSONParser::getUint(const std::wstring& name, uint32_t& value) const
{
    return readAs(findMember(name), value, &Value::IsUint, &Value::GetUint);
}

bool JSONParser::getUint64(const std::wstring& name, uint64_t& value) const
{
    return readAs(findMember(name), value, &Value::IsUint64, &Value::GetUint64);
}

bool JSONParser::getDouble(const std::wstring& name, double& value) const
{
    return readAs(findMember(name), value, &Value::IsDouble, &Value::GetDouble);
}

bool JSONParser::getStringArray(const std::wstring& arrayName, std::vector<std::wstring>& values,
                                const std::wstring& memberName) const
{
    const Value* array = findMember(arrayName);
    if (!array || !array->IsArray())
        return false;
    for (const Value& element : array->GetArray()) {
        const Value* text = &element;
        if (!memberName.empty()) {
            if (!element.IsObject())
                return false;
            const auto member = findIn(element, memberName);
            text = member == element.MemberEnd() ? nullptr : &member->value;
        }
        if (!text || !text->IsString())
            return false;
        values.emplace_back(text->GetString());
    }
    return true;
}

void JSONParser::setBool(const std::wstring& name, bool value) { storeScalar(*this, name, value); }

void JSONParser::setString(const std::wstring& name, const std::wstring& value)
{
    Value v(value.data(), static_cast<rapidjson::SizeType>(value.size()), m_document.GetAllocator());
    setMember(name, v);
}

void JSONParser::setInt(const std::wstring& name, int32_t value) { storeScalar(*this, name, value); }

void JSONParser::setInt64(const std::wstring& name, int64_t value) { storeScalar(*this, name, value); }

void JSONParser::setUint(const std::wstring& name, uint32_t value) { storeScalar(*this, name, value); }

void JSONParser::setUint64(const std::wstring& name, uint64_t value) { storeScalar(*this, name, value); }

void JSONParser::setDouble(const std::wstring& name, double value) { storeScalar(*this, name, value); }

void JSONParser::makeObject()
{
    if (!m_document.IsObject())
        m_document.SetObject();
}

void JSONParser::setMember(const std::wstring& name, Value& value)
{
    makeObject();
    auto& allocator = m_document.GetAllocator();
    const auto existing = findIn(m_document, name);
    if (existing != m_document.MemberEnd())
        m_document.RemoveMember(existing); // moves the last member into the freed place
    Value key(name.data(), static_cast<rapidjson::SizeType>(name.size()), allocator);
    m_document.AddMember(key, value, allocator);
}

bool JSONParser::appendToArray(const std::wstring& arrayName, const std::wstring& value,
                               const std::wstring& memberName)
{
    makeObject();
    auto& allocator = m_document.GetAllocator();
    const auto member = findIn(m_document, arrayName);
    Value* array = member == m_document.MemberEnd() ? nullptr : &member->value;
    if (array && !array->IsArray())
        return false;
    if (!array) {
        Value key(arrayName.data(), static_cast<rapidjson::SizeType>(arrayName.size()), allocator);
        Value empty(rapidjson::kArrayType);
        m_document.AddMember(key, empty, allocator);
        array = &(m_document.MemberEnd() - 1)->value;
    }
    Value text(value.data(), static_cast<rapidjson::SizeType>(value.size()), allocator);
    if (memberName.empty()) {
        array->PushBack(text, allocator);
        return true;
    }
    Value element(rapidjson::kObjectType);
    Value key(memberName.data(), static_cast<rapidjson::SizeType>(memberName.size()), allocator);
    element.AddMember(key, text, allocator);
    array->PushBack(element, allocator);
    return true;
}

void JSONParser::clear()
{
    if (m_document.IsObject())
        m_document.RemoveAllMembers();
}

bool JSONParser::isEmpty() const { return !m_document.IsObject() || m_document.MemberCount() == 0; }

} // namespace Ostrand
