#pragma once
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Ostrand {

// A JSON document with UTF-16 strings, held in memory. Files are UTF-16
// little-endian with a byte-order mark. Member lookups are by exact name;
// with repeated names the first one counts. A new document is the null value.
class JSONParser {
public:
    JSONParser();
    virtual ~JSONParser();
    JSONParser(const JSONParser&) = delete;
    JSONParser& operator=(const JSONParser&) = delete;

    // True when the text is one JSON value with nothing but white space after
    // it, nested at most 512 levels deep, and UTF-16 through and through (no
    // NUL, no surrogate without its partner, raw or escaped); on failure the
    // document is null.
    virtual bool parse(const std::wstring& text);
    // Reads UTF-16LE, skipping a leading byte-order mark FF FE, and parses the
    // text as above; an odd number of bytes is no text.
    virtual bool parse(FILE* file);
    // Compact text.
    virtual std::wstring toString() const;
    // The byte-order mark, then the compact text in UTF-16LE, all handed to
    // the file before returning. False when something could not be written
    // or a string is not valid UTF-16.
    virtual bool write(FILE* file) const;

    // False, with `value` untouched, unless the document is an object with a
    // member of that name holding exactly that type (no conversions).
    virtual bool getBool(const std::wstring& name, bool& value) const;
    virtual bool getString(const std::wstring& name, std::wstring& value) const;
    virtual bool getInt(const std::wstring& name, int32_t& value) const;
    virtual bool getInt64(const std::wstring& name, int64_t& value) const;
    virtual bool getUint(const std::wstring& name, uint32_t& value) const;
    virtual bool getUint64(const std::wstring& name, uint64_t& value) const;
    virtual bool getDouble(const std::wstring& name, double& value) const;
    // Appends the strings of the array member `arrayName` to `values`: each
    // element's string member `memberName`, or each element itself when
    // `memberName` is empty. False at the first element that does not fit;
    // what was appended before it stays.
    virtual bool getStringArray(const std::wstring& arrayName, std::vector<std::wstring>& values,
                                const std::wstring& memberName) const;

    virtual void setBool(const std::wstring& name, bool value);
    virtual void setString(const std::wstring& name, const std::wstring& value);
    virtual void setInt(const std::wstring& name, int32_t value);
    virtual void setInt64(const std::wstring& name, int64_t value);
    virtual void setUint(const std::wstring& name, uint32_t value);
    virtual void setUint64(const std::wstring& name, uint64_t value);
    virtual void setDouble(const std::wstring& name, double value);
    // Appends {memberName: value} (or the bare string when memberName is
    // empty) to the array member `arrayName`, creating the array when there
    // is none. False, with nothing changed, when the member is not an array.
    virtual bool appendToArray(const std::wstring& arrayName, const std::wstring& value,
                               const std::wstring& memberName);
    // An object loses its members; any other document stays as it is.
    virtual void clear();
    // True unless the document is an object with at least one member.
    virtual bool isEmpty() const;

    using Document = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
    using Value = rapidjson::GenericValue<rapidjson::UTF16<wchar_t>>;

    // Replaces the first member of that name (the last member takes its
    // place, the new one goes to the end) or appends it. A document that is
    // not an object becomes an empty object first.
    virtual void setMember(const std::wstring& name, Value& value);

private:
    const Value* findMember(const std::wstring& name) const;
    void makeObject();

    Document m_document;
};

} // namespace Ostrand
