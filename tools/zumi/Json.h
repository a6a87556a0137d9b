#ifndef ZUMI_TOOLS_JSON_H
#define ZUMI_TOOLS_JSON_H

// The JSON form of a hash array: a list of objects whose values are integers
// or strings, e.g. [{"id":7,"name":"disk"},{}]. Reading accepts exactly that
// shape and nothing more (no nesting, no floats, no true/false/null, no empty
// or duplicate keys, no integer outside 32 bits, no NUL in a string, nothing
// after the closing bracket), because every value must map onto a bus hash
// without guessing; anything else is a JsonError that says where it is.
//
// JSON itself is read and written by nlohmann's library; this file only holds
// the shape. Writing gives the library's compact form on one line, keys
// sorted, so output can be fed back and compared as text. Tools that embed a
// hash array in a larger document (a JSON line of a recording, say) use
// toJson/fromJson on the value itself.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

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
    explicit JsonError(const std::string& what) : std::runtime_error(what) {}
};

HashList parseHashList(const std::string& text);
std::string writeHashList(const HashList& list);

nlohmann::json toJson(const HashList& list);
HashList hashListFromJson(const nlohmann::json& value);

// A JSON string literal of text, on one line. Bus strings are UTF-8; a byte
// that is not becomes U+FFFD rather than failing the whole line.
std::string quoteString(const std::string& text);

}  // namespace tool
}  // namespace zumi

#endif
