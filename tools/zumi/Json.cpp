#include "Json.h"

#include <climits>
#include <set>

#include <nlohmann/json.hpp>

namespace zumi {
namespace tool {

using nlohmann::json;

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

namespace {

std::string dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// "an object", "a number", ...: the kind of a value as a message names it.
std::string kind(const json& value) {
    std::string name = value.type_name();
    if (value.is_null()) return name;
    return (name[0] == 'a' || name[0] == 'o' ? "an " : "a ") + name;
}

std::string where(size_t index, const std::string& key) {
    return "hash " + std::to_string(index) + ", key " + quoteString(key) + ": ";
}

HashValue hashValue(size_t index, const std::string& key, const json& value) {
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        // Bus strings end at the first NUL, so a NUL would silently cut the value.
        if (text.find('\0') != std::string::npos) {
            throw JsonError(where(index, key) + "a string cannot hold \\u0000");
        }
        return HashValue::ofString(text);
    }
    if (value.is_number_integer()) {
        // Unsigned numbers are above any negative bound, so only the top is checked for them.
        bool fits = value.is_number_unsigned() ? value.get<unsigned long long>() <= INT_MAX
                                               : value.get<long long>() >= INT_MIN &&
                                                     value.get<long long>() <= INT_MAX;
        if (!fits) throw JsonError(where(index, key) + dump(value) + " does not fit in 32 bits");
        return HashValue::ofInt(value.get<int>());
    }
    throw JsonError(where(index, key) + "only integers and strings fit a hash value, not " + dump(value));
}

}  // namespace

HashList hashListFromJson(const json& value) {
    if (!value.is_array()) {
        throw JsonError("expected a list of hashes, not " + kind(value));
    }
    HashList list;
    for (size_t index = 0; index < value.size(); ++index) {
        const json& item = value[index];
        if (!item.is_object()) {
            throw JsonError("hash " + std::to_string(index) + " is " + kind(item) +
                            ", not an object");
        }
        Hash hash;
        for (const auto& entry : item.items()) {
            if (entry.key().empty()) {
                throw JsonError("hash " + std::to_string(index) + ": a key cannot be empty");
            }
            hash.emplace(entry.key(), hashValue(index, entry.key(), entry.value()));
        }
        list.push_back(std::move(hash));
    }
    return list;
}

HashList parseHashList(const std::string& text) {
    // The parser keeps the last of two equal keys; a hash cannot hold both,
    // and keeping either would drop a value the user typed, so refuse.
    std::vector<std::set<std::string>> openObjects;
    size_t hashes = 0;
    json::parser_callback_t onEvent = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                if (openObjects.empty()) ++hashes;
                openObjects.emplace_back();
                break;
            case json::parse_event_t::object_end:
                openObjects.pop_back();
                break;
            case json::parse_event_t::key: {
                const std::string& key = parsed.get_ref<const std::string&>();
                if (!openObjects.back().insert(key).second) {
                    throw JsonError("hash " + std::to_string(hashes - 1) + ": duplicate key " +
                                    quoteString(key));
                }
                break;
            }
            default:
                break;
        }
        return true;
    };
    json value;
    try {
        value = json::parse(text, onEvent);
    } catch (const json::parse_error& e) {
        // The library's text starts with its own error id; users need only the rest.
        std::string message = e.what();
        size_t end = message.find("] ");
        throw JsonError(end == std::string::npos ? message : message.substr(end + 2));
    }
    return hashListFromJson(value);
}

json toJson(const HashList& list) {
    json array = json::array();
    for (const Hash& hash : list) {
        json object = json::object();
        for (const auto& entry : hash) {
            if (entry.second.isString) {
                object[entry.first] = entry.second.text;
            } else {
                object[entry.first] = entry.second.number;
            }
        }
        array.push_back(std::move(object));
    }
    return array;
}

std::string writeHashList(const HashList& list) { return dump(toJson(list)); }

std::string quoteString(const std::string& text) { return dump(json(text)); }

}  // namespace tool
}  // namespace zumi
