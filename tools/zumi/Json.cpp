#include "Json.h"

#include <climits>
#include <cstdio>

namespace zumi {
namespace tool {

HashValue HashValue::ofInt(int value) {
    HashValue v;
    v.number = value;
    return v;
}

HashValue HashValue::ofString(std::string value) {
    HashValue v;
    v.isString = true;
    v.text = std::move(value);
    return v;
}

bool HashValue::operator==(const HashValue& other) const {
    return isString == other.isString && number == other.number && text == other.text;
}

JsonError::JsonError(const std::string& what, size_t offset)
    : std::runtime_error(what + " at offset " + std::to_string(offset)), m_offset(offset) {}

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    HashList hashList() {
        HashList list;
        skipSpace();
        expect('[', "expected '[' to start the list of hashes");
        skipSpace();
        if (peek() == ']') {
            ++m_pos;
        } else {
            for (;;) {
                list.push_back(hash());
                skipSpace();
                if (peek() == ',') {
                    ++m_pos;
                    continue;
                }
                expect(']', "expected ',' or ']' after a hash");
                break;
            }
        }
        skipSpace();
        if (m_pos != m_text.size()) fail("unexpected text after the list");
        return list;
    }

private:
    Hash hash() {
        Hash result;
        skipSpace();
        expect('{', "expected '{' to start a hash");
        skipSpace();
        if (peek() == '}') {
            ++m_pos;
            return result;
        }
        for (;;) {
            skipSpace();
            size_t keyAt = m_pos;
            if (peek() != '"') fail("expected a string key");
            std::string key = string();
            if (key.empty()) fail("a key cannot be empty", keyAt);
            skipSpace();
            expect(':', "expected ':' after a key");
            skipSpace();
            HashValue value = peek() == '"' ? HashValue::ofString(string()) : HashValue::ofInt(integer());
            if (!result.emplace(key, value).second) fail("duplicate key \"" + key + "\"", keyAt);
            skipSpace();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            expect('}', "expected ',' or '}' after a value");
            return result;
        }
    }

    int integer() {
        size_t start = m_pos;
        bool negative = peek() == '-';
        if (negative) ++m_pos;
        if (!isDigit(peek())) fail("expected an integer or a string value", start);
        if (peek() == '0' && isDigit(peekAt(m_pos + 1))) fail("an integer cannot have a leading zero", start);
        long long magnitude = 0;
        while (isDigit(peek())) {
            magnitude = magnitude * 10 + (peek() - '0');
            if (magnitude > static_cast<long long>(INT_MAX) + 1) fail("integer out of range", start);
            ++m_pos;
        }
        if (peek() == '.' || peek() == 'e' || peek() == 'E') fail("only integers fit a hash value", start);
        long long value = negative ? -magnitude : magnitude;
        if (value > INT_MAX) fail("integer out of range", start);
        return static_cast<int>(value);
    }

    std::string string() {
        ++m_pos;  // the opening quote
        std::string out;
        for (;;) {
            if (m_pos >= m_text.size()) fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
            if (c == '"') {
                ++m_pos;
                return out;
            }
            if (c < 0x20) fail("control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                ++m_pos;
                continue;
            }
            size_t escapeAt = m_pos++;
            char e = peek();
            ++m_pos;
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': appendUtf8(out, codePoint(escapeAt), escapeAt); break;
                default: fail("invalid escape", escapeAt);
            }
        }
    }

    // After "\u": four hex digits, and a second \uXXXX for a surrogate pair.
    unsigned codePoint(size_t escapeAt) {
        unsigned first = hex4(escapeAt);
        if (first >= 0xDC00 && first <= 0xDFFF) fail("unpaired surrogate", escapeAt);
        if (first < 0xD800 || first > 0xDBFF) return first;
        if (peek() != '\\' || peekAt(m_pos + 1) != 'u') fail("unpaired surrogate", escapeAt);
        m_pos += 2;
        unsigned second = hex4(escapeAt);
        if (second < 0xDC00 || second > 0xDFFF) fail("unpaired surrogate", escapeAt);
        return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    }

    unsigned hex4(size_t escapeAt) {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            char c = peek();
            unsigned digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else fail("invalid \\u escape", escapeAt);
            value = value * 16 + digit;
            ++m_pos;
        }
        return value;
    }

    void appendUtf8(std::string& out, unsigned cp, size_t escapeAt) {
        // Bus strings end at the first NUL, so a NUL would silently cut the value.
        if (cp == 0) fail("a string cannot hold \\u0000", escapeAt);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    char peek() const { return peekAt(m_pos); }
    char peekAt(size_t pos) const { return pos < m_text.size() ? m_text[pos] : '\0'; }

    void skipSpace() {
        while (m_pos < m_text.size() &&
               (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n' ||
                m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }

    void expect(char c, const char* message) {
        if (peek() != c || m_pos >= m_text.size()) fail(message);
        ++m_pos;
    }

    [[noreturn]] void fail(const std::string& message) { fail(message, m_pos); }
    [[noreturn]] void fail(const std::string& message, size_t at) { throw JsonError(message, at); }

    const std::string& m_text;
    size_t m_pos = 0;
};

}  // namespace

HashList parseHashList(const std::string& text) { return Reader(text).hashList(); }

std::string quoteString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string writeHashList(const HashList& list) {
    std::string out = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out += ", ";
        out += '{';
        bool first = true;
        for (const auto& entry : list[i]) {
            if (!first) out += ", ";
            first = false;
            out += quoteString(entry.first);
            out += ": ";
            out += entry.second.isString ? quoteString(entry.second.text)
                                         : std::to_string(entry.second.number);
        }
        out += '}';
    }
    out += ']';
    return out;
}

}  // namespace tool
}  // namespace zumi
