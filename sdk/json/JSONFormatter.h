#pragma once
#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Ostrand {

// One JSON object with UTF-16 names and values. Callers read and write its
// top-level members by name; nested objects travel as further documents.
// Every document owns all its values: getting or setting an object copies it
// across, so a document may outlive every document it was filled from.
//
// A name is taken up to its first NUL; a null name finds nothing and sets
// nothing. Getters answer false and leave their output alone when the member
// is missing or of another type; the array getters only ever append.
class JSONFormatter {
public:
    using Document = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
    using Value = Document::ValueType;
    using Allocator = Document::AllocatorType;

    // Outside text nested deeper than this is refused: copying and writing a
    // document recurse once per level, and a thread's stack is finite.
    static constexpr unsigned kMaxDepth = 512;

    JSONFormatter();
    JSONFormatter(const JSONFormatter& other);
    JSONFormatter& operator=(const JSONFormatter& other);
    virtual ~JSONFormatter();

    // True when the whole text is one JSON value and that value is an object.
    // Numbers read as the double nearest to their text; one beyond the range
    // of a double makes the text invalid.
    // Text that is not JSON leaves the document as it was; JSON whose root is
    // not an object leaves the empty object.
    virtual bool parse(const std::wstring& text);
    virtual std::wstring toString() const;

    virtual bool getString(const wchar_t* name, std::wstring& value) const;
    virtual bool getBool(const wchar_t* name, bool& value) const;
    virtual bool getInt(const wchar_t* name, int32_t& value) const;
    virtual bool getUInt(const wchar_t* name, uint32_t& value) const;
    virtual bool getInt64(const wchar_t* name, int64_t& value) const;
    virtual bool getUInt64(const wchar_t* name, uint64_t& value) const;
    // Only numbers held as doubles: 5 is refused, 5.0 is read.
    virtual bool getDouble(const wchar_t* name, double& value) const;
    // Missing member: true. Not an array: false. A wrongly typed element:
    // false, with the elements before it appended.
    virtual bool getStringArray(const wchar_t* name, std::vector<std::wstring>& values) const;
    virtual bool getObject(const wchar_t* name, JSONFormatter& value) const;
    virtual bool getObjectArray(const wchar_t* name, std::vector<JSONFormatter>& values) const;

    virtual void setString(const wchar_t* name, const std::wstring& value);
    virtual void setBool(const wchar_t* name, bool value);
    virtual void setInt(const wchar_t* name, int32_t value);
    virtual void setUInt(const wchar_t* name, uint32_t value);
    virtual void setInt64(const wchar_t* name, int64_t value);
    virtual void setUInt64(const wchar_t* name, uint64_t value);
    // A NaN or infinite value is not taken (JSON has no form for it): the
    // member stays as it was.
    virtual void setDouble(const wchar_t* name, double value);
    virtual void setStringArray(const wchar_t* name, const std::vector<std::wstring>& values);
    // Adds the member as an empty array when it is missing. A member that
    // exists and is not an array is left as it is and the value is dropped.
    virtual void appendString(const wchar_t* name, const std::wstring& value);
    virtual void setObject(const wchar_t* name, const JSONFormatter& value);
    virtual void setObjectArray(const wchar_t* name, const std::vector<JSONFormatter>& values);
    // As appendString, pushing a copy of the other document.
    virtual void appendObject(const wchar_t* name, const JSONFormatter& value);

    // getObject followed by toString of the result, without the copy.
    bool getObjectText(const wchar_t* name, std::wstring& text) const;
    // parse of the text into a new document followed by setObject of it,
    // without the copy: text that parse refuses sets an empty object. Answers
    // what parse would.
    bool setObjectText(const wchar_t* name, const std::wstring& text);

protected:
    // Every setter ends here. Removes the member of that name, and any
    // duplicate of it that parsed text held (a member that is not last gives
    // its place to the last one), then adds the new one at the end. Both
    // values are moved in and must come from allocator().
    virtual void setMember(Value& name, Value& value);
    Allocator& allocator();

private:
    // A document over a pool of its own, for parsing and copying into
    // before the result replaces this document's content.
    struct Fresh {
        Fresh();
        std::unique_ptr<Allocator> pool;
        Document document;
    };
    void adopt(Fresh& fresh);
    static std::wstring write(const Value& value);
    // Reads outside text into `target`; false when it is refused.
    static bool read(const std::wstring& text, Document& target);
    void assignRoot(const Value& source);

    const Value* findMember(const wchar_t* name) const;
    Value* findArrayForAppend(const wchar_t* name);
    void setValue(const wchar_t* name, Value&& value);

    // The pool is declared first: the document refers to it to the end.
    std::unique_ptr<Allocator> m_pool;
    Document m_document;
};

} // namespace Ostrand
