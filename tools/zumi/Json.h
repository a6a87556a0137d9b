#ifndef ZUMI_TOOLS_JSON_H
#define ZUMI_TOOLS_JSON_H

// The JSON form of a hash array: a list of objects whose values are integers
// or strings, e.g. [{"id": 7, "name": "disk"}, {}]. The reader accepts
// exactly that shape and nothing more (no nesting, no floats, no true/false/
// null, no duplicate keys, nothing after the closing bracket), because every
// value must map onto a bus hash without guessing; it rejects anything else
// with a JsonError that names the offset of the first bad character.
//
// The writer prints the same shape compactly on one line, keys sorted, so
// that output can be fed back to the reader and compared as text.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zumi {
namespace tool {

struct HashValue {
    bool isString = false;
    int number = 0;
    std::string text;

    static HashValue ofInt(int value);
    static HashValue ofString(std::string value);
    bool operator==(const HashValue& other) const;
};

typedef std::map<std::string, HashValue> Hash;
typedef std::vector<Hash> HashList;

class JsonError : public std::runtime_error {
public:
    JsonError(const std::string& what, size_t offset);
    size_t offset() const { return m_offset; }

private:
    size_t m_offset;
};

HashList parseHashList(const std::string& text);
std::string writeHashList(const HashList& list);

// A JSON string literal: quotes, with ", \ and control characters escaped.
// Other bytes (UTF-8 included) pass through unchanged.
std::string quoteString(const std::string& text);

}  // namespace tool
}  // namespace zumi

#endif
