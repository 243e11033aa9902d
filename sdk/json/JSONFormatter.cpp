#include "json/JSONFormatter.h"

#include "Text/JSONTextScreen.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace Ostrand {

namespace {

using Encoding = rapidjson::UTF16<wchar_t>;
using Buffer = rapidjson::GenericStringBuffer<Encoding>;
using Writer = rapidjson::Writer<Buffer, Encoding, Encoding>;

// Hands every event on to `target` unchanged, except a double, which goes
// through `onDouble`. The document's reading and writing differ only there.
template <typename Target>
class NumberFilter {
public:
    using OnDouble = bool (*)(Target&, double);
    NumberFilter(Target& target, OnDouble onDouble) : m_target(target), m_onDouble(onDouble) {}

    bool Null() { return m_target.Null(); }
    bool Bool(bool b) { return m_target.Bool(b); }
    bool Int(int i) { return m_target.Int(i); }
    bool Uint(unsigned u) { return m_target.Uint(u); }
    bool Int64(int64_t i) { return m_target.Int64(i); }
    bool Uint64(uint64_t u) { return m_target.Uint64(u); }
    bool Double(double d) { return m_onDouble(m_target, d); }
    bool RawNumber(const wchar_t* s, rapidjson::SizeType length, bool copy) { return m_target.RawNumber(s, length, copy); }
    bool String(const wchar_t* s, rapidjson::SizeType length, bool copy) { return m_target.String(s, length, copy); }
    bool StartObject() { return m_target.StartObject(); }
    bool Key(const wchar_t* s, rapidjson::SizeType length, bool copy) { return m_target.Key(s, length, copy); }
    bool EndObject(rapidjson::SizeType count) { return m_target.EndObject(count); }
    bool StartArray() { return m_target.StartArray(); }
    bool EndArray(rapidjson::SizeType count) { return m_target.EndArray(count); }

private:
    Target& m_target;
    OnDouble m_onDouble;
};

// The text of a finite double in `out` (at least 40 bytes), its length: the
// shortest text that reads back as the same double (the library's own
// digits are not always the shortest, and its default reader does not
// always read them back), laid out as the library lays out every double:
// always a fraction or an exponent, as in 0.0, 1.0, 1e21, 1e-7. Locale-free,
// no heap.
size_t shortestText(double d, char* out)
{
    char* at = out;
    if (std::signbit(d))
        *at++ = '-';
    if (d == 0) {
        std::memcpy(at, "0.0", 3);
        return static_cast<size_t>(at - out) + 3;
    }
    // Shortest round-trip digits in scientific form: d[.ddd]e±x.
    char scientific[32];
    const auto result =
        std::to_chars(scientific, scientific + sizeof(scientific), std::fabs(d), std::chars_format::scientific);
    const char* end = result.ptr;
    const char* e = std::find(static_cast<const char*>(scientific), end, 'e');
    int digits = 0;
    for (const char* p = scientific; p < e; ++p)
        if (*p != '.')
            at[digits++] = *p;
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
    // The library's layout of digits × 10^k.
    char* last = rapidjson::internal::Prettify(at, digits, exponent - (digits - 1), 324);
    return static_cast<size_t>(last - out);
}

bool writeExactly(Writer& writer, double d)
{
    // The document never holds NaN or an infinity (setDouble and parse
    // refuse them); JSON would have no text for them either.
    if (!std::isfinite(d))
        return false;
    char text[40];
    const size_t length = shortestText(d, text);
    wchar_t wide[40];
    for (size_t i = 0; i < length; ++i)
        wide[i] = static_cast<wchar_t>(text[i]);
    return writer.RawValue(wide, length, rapidjson::kNumberType);
}

// A number beyond the range of a double reaches the document as an
// infinity: it is refused, whatever its spelling (2e308 as 1e309).
bool readFinite(JSONFormatter::Document& document, double d)
{
    return std::isfinite(d) && document.Double(d);
}

// Iterative: the reader keeps its nesting off the call stack. Full
// precision: every number text reads as the double nearest to it.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag;

// The reader's pool starts with 64 KiB. Under Wine a heap block of 64 KiB
// is mapped and unmapped on its own once two are alive, some tens of
// microseconds each, while blocks of 32 KiB and less come from the heap.
// Small first chunks keep short documents cheap; the pool still grows by
// whatever a large value needs.
constexpr size_t kPoolChunkBytes = 16 * 1024;

std::unique_ptr<JSONFormatter::Allocator> newPool()
{
    return std::make_unique<JSONFormatter::Allocator>(kPoolChunkBytes);
}

// Replaces the root of `target` with a deep copy of `source`. The copy is
// made first, so `source` may live inside `target`.
void replaceRoot(JSONFormatter::Document& target, const JSONFormatter::Value& source)
{
    JSONFormatter::Value copy(source, target.GetAllocator());
    static_cast<JSONFormatter::Value&>(target).Swap(copy);
}

// A getter's answer: the member's value when it is there and passes the
// type test, and the output left alone otherwise.
template <typename T>
bool readScalar(const JSONFormatter::Value* member, bool (JSONFormatter::Value::*is)() const,
                T (JSONFormatter::Value::*get)() const, T& value)
{
    if (!member || !(member->*is)())
        return false;
    value = (member->*get)();
    return true;
}

// An array getter's answer: a missing member is an empty list; the elements
// are handed on in order up to the first that fails the type test.
template <typename Append>
bool readArray(const JSONFormatter::Value* member, bool (JSONFormatter::Value::*is)() const, Append append)
{
    if (!member)
        return true;
    if (!member->IsArray())
        return false;
    for (const JSONFormatter::Value& element : member->GetArray()) {
        if (!(element.*is)())
            return false;
        append(element);
    }
    return true;
}

} // namespace

JSONFormatter::Fresh::Fresh() : pool(newPool()), document(rapidjson::kObjectType, pool.get()) {}

JSONFormatter::JSONFormatter() : m_pool(newPool()), m_document(rapidjson::kObjectType, m_pool.get()) {}

JSONFormatter::JSONFormatter(const JSONFormatter& other)
    : m_pool(newPool()), m_document(rapidjson::kObjectType, m_pool.get())
{
    replaceRoot(m_document, other.m_document);
}

JSONFormatter& JSONFormatter::operator=(const JSONFormatter& other)
{
    if (this != &other)
        assignRoot(other.m_document);
    return *this;
}

void JSONFormatter::assignRoot(const Value& source)
{
    // A fresh pool, so that the old values' storage goes with the old pool
    // and a document read into again and again does not grow.
    Fresh fresh;
    replaceRoot(fresh.document, source);
    adopt(fresh);
}

void JSONFormatter::adopt(Fresh& fresh)
{
    m_document.Swap(fresh.document);
    m_pool.swap(fresh.pool);
}

JSONFormatter::~JSONFormatter() = default;

bool JSONFormatter::read(const std::wstring& text, Document& target)
{
    if (!Halvex::internal::jsonTextIsAdmissible(text.c_str(), text.size(), kMaxDepth))
        return false;
    bool complete = false;
    try {
        auto read = [&text, &complete](Document& document) {
            rapidjson::GenericStringStream<Encoding> stream(text.c_str());
            rapidjson::GenericReader<Encoding, Encoding> reader;
            NumberFilter<Document> handler(document, readFinite);
            complete = !reader.Parse<kParseFlags>(stream, handler).IsError();
            return complete;
        };
        target.Populate(read);
    } catch (const JSONLibraryError&) {
        complete = false;
    }
    return complete;
}

bool JSONFormatter::parse(const std::wstring& text)
{
    // Parsing into a document of its own keeps this one intact on an error.
    Fresh parsed;
    if (!read(text, parsed.document))
        return false;
    if (!parsed.document.IsObject()) {
        // Object operations on any other root are undefined in the reader's
        // document model: the document goes back to the empty object.
        Fresh empty;
        adopt(empty);
        return false;
    }
    adopt(parsed);
    return true;
}

std::wstring JSONFormatter::toString() const
{
    return write(m_document);
}

std::wstring JSONFormatter::write(const Value& value)
{
    Buffer buffer;
    Writer writer(buffer);
    NumberFilter<Writer> exact(writer, writeExactly);
    value.Accept(exact);
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t));
}

bool JSONFormatter::getObjectText(const wchar_t* name, std::wstring& text) const
{
    const Value* member = findMember(name);
    if (!member || !member->IsObject())
        return false;
    text = write(*member);
    return true;
}

bool JSONFormatter::setObjectText(const wchar_t* name, const std::wstring& text)
{
    // Read straight into this document's pool, so the value moves in whole.
    // What a refused text left in the pool stays there until the document
    // goes, like every replaced value.
    Document parsed(&allocator());
    const bool object = read(text, parsed) && parsed.IsObject();
    Value value(rapidjson::kObjectType);
    if (object)
        value.Swap(parsed);
    setValue(name, std::move(value));
    return object;
}

const JSONFormatter::Value* JSONFormatter::findMember(const wchar_t* name) const
{
    if (!name)
        return nullptr;
    const auto it = m_document.FindMember(name);
    return it == m_document.MemberEnd() ? nullptr : &it->value;
}

bool JSONFormatter::getString(const wchar_t* name, std::wstring& value) const
{
    const Value* member = findMember(name);
    if (!member || !member->IsString())
        return false;
    value.assign(member->GetString(), member->GetStringLength());
    return true;
}

bool JSONFormatter::getBool(const wchar_t* name, bool& value) const
{
    return readScalar(findMember(name), &Value::IsBool, &Value::GetBool, value);
}

bool JSONFormatter::getInt(const wchar_t* name, int32_t& value) const
{
    return readScalar(findMember(name), &Value::IsInt, &Value::GetInt, value);
}

bool JSONFormatter::getUInt(const wchar_t* name, uint32_t& value) const
{
    return readScalar(findMember(name), &Value::IsUint, &Value::GetUint, value);
}

bool JSONFormatter::getInt64(const wchar_t* name, int64_t& value) const
{
    return readScalar(findMember(name), &Value::IsInt64, &Value::GetInt64, value);
}

bool JSONFormatter::getUInt64(const wchar_t* name, uint64_t& value) const
{
    return readScalar(findMember(name), &Value::IsUint64, &Value::GetUint64, value);
}

bool JSONFormatter::getDouble(const wchar_t* name, double& value) const
{
    return readScalar(findMember(name), &Value::IsDouble, &Value::GetDouble, value);
}

bool JSONFormatter::getStringArray(const wchar_t* name, std::vector<std::wstring>& values) const
{
    return readArray(findMember(name), &Value::IsString,
                     [&values](const Value& element) { values.emplace_back(element.GetString()); });
}

bool JSONFormatter::getObject(const wchar_t* name, JSONFormatter& value) const
{
    const Value* member = findMember(name);
    if (!member || !member->IsObject())
        return false;
    value.assignRoot(*member);
    return true;
}

bool JSONFormatter::getObjectArray(const wchar_t* name, std::vector<JSONFormatter>& values) const
{
    return readArray(findMember(name), &Value::IsObject, [&values](const Value& element) {
        values.emplace_back();
        replaceRoot(values.back().m_document, element);
    });
}

void JSONFormatter::setValue(const wchar_t* name, Value&& value)
{
    if (!name)
        return;
    Value key(name, allocator());
    setMember(key, value);
}

void JSONFormatter::setString(const wchar_t* name, const std::wstring& value)
{
    setValue(name, Value(value.c_str(), static_cast<rapidjson::SizeType>(value.size()), allocator()));
}

void JSONFormatter::setBool(const wchar_t* name, bool value)
{
    setValue(name, Value(value));
}

void JSONFormatter::setInt(const wchar_t* name, int32_t value)
{
    setValue(name, Value(value));
}

void JSONFormatter::setUInt(const wchar_t* name, uint32_t value)
{
    setValue(name, Value(value));
}

void JSONFormatter::setInt64(const wchar_t* name, int64_t value)
{
    setValue(name, Value(value));
}

void JSONFormatter::setUInt64(const wchar_t* name, uint64_t value)
{
    setValue(name, Value(value));
}

void JSONFormatter::setDouble(const wchar_t* name, double value)
{
    // JSON has no form for NaN or an infinity: the member stays as it was.
    if (!std::isfinite(value))
        return;
    setValue(name, Value(value));
}

void JSONFormatter::setStringArray(const wchar_t* name, const std::vector<std::wstring>& values)
{
    Value array(rapidjson::kArrayType);
    for (const std::wstring& s : values) {
        Value v(s.c_str(), allocator());
        array.PushBack(v, allocator());
    }
    setValue(name, std::move(array));
}

JSONFormatter::Value* JSONFormatter::findArrayForAppend(const wchar_t* name)
{
    if (!name)
        return nullptr;
    auto it = m_document.FindMember(name);
    if (it == m_document.MemberEnd()) {
        Value key(name, allocator());
        Value array(rapidjson::kArrayType);
        m_document.AddMember(key, array, allocator());
        return &(m_document.MemberEnd() - 1)->value;
    }
    return it->value.IsArray() ? &it->value : nullptr;
}

void JSONFormatter::appendString(const wchar_t* name, const std::wstring& value)
{
    if (Value* array = findArrayForAppend(name)) {
        Value v(value.c_str(), allocator());
        array->PushBack(v, allocator());
    }
}

void JSONFormatter::setObject(const wchar_t* name, const JSONFormatter& value)
{
    Value copy(value.m_document, allocator());
    setValue(name, std::move(copy));
}

void JSONFormatter::setObjectArray(const wchar_t* name, const std::vector<JSONFormatter>& values)
{
    Value array(rapidjson::kArrayType);
    for (const JSONFormatter& element : values) {
        Value copy(element.m_document, allocator());
        array.PushBack(copy, allocator());
    }
    setValue(name, std::move(array));
}

void JSONFormatter::appendObject(const wchar_t* name, const JSONFormatter& value)
{
    // The copy comes first: `value` may be this document.
    Value copy(value.m_document, allocator());
    if (Value* array = findArrayForAppend(name))
        array->PushBack(copy, allocator());
}

void JSONFormatter::setMember(Value& name, Value& value)
{
    // Text with duplicate names keeps them all, and lookups see the first:
    // every one goes, or a later read would find an older duplicate instead
    // of the value just set.
    for (auto it = m_document.FindMember(name); it != m_document.MemberEnd(); it = m_document.FindMember(name))
        m_document.RemoveMember(it);
    m_document.AddMember(name, value, allocator());
}

JSONFormatter::Allocator& JSONFormatter::allocator()
{
    return m_document.GetAllocator();
}

} // namespace Ostrand
